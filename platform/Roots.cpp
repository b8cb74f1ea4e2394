#include "platform/Roots.h"

#include "platform/Environment.h"

namespace platform
{

std::filesystem::path VellumRoot()
{
    if (const std::string strRoot = EnvOr("VELLUM_ROOT"); !strRoot.empty())
        return strRoot;
    if (const std::string strData = EnvOr("XDG_DATA_HOME"); !strData.empty())
        return std::filesystem::path(strData) / "vellum";
    if (const std::string strHome = EnvOr("HOME"); !strHome.empty())
        return std::filesystem::path(strHome) / ".local/share/vellum";
    // No home at all (a daemon's environment): stay in a place that is certainly ours.
    return std::filesystem::path("/tmp/vellum");
}

std::filesystem::path DriveRoot(const std::filesystem::path& vellumRoot)
{
    return vellumRoot / "c";
}

std::filesystem::path WindowsDirectory(const std::filesystem::path& vellumRoot)
{
    return vellumRoot / "windows";
}

std::filesystem::path SystemDirectory(const std::filesystem::path& vellumRoot)
{
    return WindowsDirectory(vellumRoot) / "system";
}

std::filesystem::path DriveRoot()
{
    return DriveRoot(VellumRoot());
}

std::filesystem::path WindowsDirectory()
{
    return WindowsDirectory(VellumRoot());
}

std::filesystem::path SystemDirectory()
{
    return SystemDirectory(VellumRoot());
}

std::filesystem::path DrivePath(std::string_view strName)
{
    return DriveRoot() / strName;
}

} // namespace platform
