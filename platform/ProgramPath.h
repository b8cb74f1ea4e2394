#pragma once

#include <filesystem>
#include <string_view>

namespace platform
{

// The folder that holds the running program (from /proc/self/exe); empty if unknown.
std::filesystem::path ProgramDirectory();

// The folder the system's package puts the programs in (VELLUM_PACKAGE_DIR when built):
// /usr/bin holds links to the programs there, so that a program started through them still
// finds its companions beside itself.
std::filesystem::path PackageDirectory();
// Whether the running program is the packaged one: its folder is PackageDirectory().
bool IsPackagedProgram();

// A file that comes with the programs (Pagemill, Sendwell, the help document, the printer's PPD):
// the one beside the running program when it is there, so that the packaged Sendwell runs the
// packaged Pagemill and a build runs its own, else the one in the user's system directory,
// where the Installer copies them for a user without the package.
std::filesystem::path InstalledFile(std::string_view strName);
// The same choice between two folders given outright.
std::filesystem::path InstalledFile(std::string_view strName, const std::filesystem::path& programDirectory,
                                    const std::filesystem::path& systemDirectory);

} // namespace platform
