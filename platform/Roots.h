#pragma once

#include <filesystem>
#include <string_view>

// Where the programs keep their files. Everything lives under one root so that
// a test or a second user can point the whole system at a tree of its own:
//   $VELLUM_ROOT/c               the fixed files that cross programs (page files)
//   $VELLUM_ROOT/windows         the "Windows directory"
//   $VELLUM_ROOT/windows/system  the installed programs, settings and address book
// Without VELLUM_ROOT the root is ${XDG_DATA_HOME:-$HOME/.local/share}/vellum.
namespace platform
{

std::filesystem::path VellumRoot();
std::filesystem::path DriveRoot();
std::filesystem::path WindowsDirectory();
std::filesystem::path SystemDirectory();

// The same folders below a root given outright: the Installer's and the backend's, which work
// for a user other than the one running them.
std::filesystem::path DriveRoot(const std::filesystem::path& vellumRoot);
std::filesystem::path WindowsDirectory(const std::filesystem::path& vellumRoot);
std::filesystem::path SystemDirectory(const std::filesystem::path& vellumRoot);

// A fixed file in the drive root, as the programs name it ("Page.tmp", "quill1.tif").
std::filesystem::path DrivePath(std::string_view strName);

} // namespace platform
