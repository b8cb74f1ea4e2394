#include "platform/Roots.h"

#include <cstdlib>

namespace platform
{

namespace
{

const char* NonEmptyEnv(const char* pszName)
{
    const char* pszValue = std::getenv(pszName);
    return pszValue != nullptr && *pszValue != '\0' ? pszValue : nullptr;
}

} // namespace

std::filesystem::path VellumRoot()
{
    if (const char* pszRoot = NonEmptyEnv("VELLUM_ROOT"))
        return pszRoot;
    if (const char* pszData = NonEmptyEnv("XDG_DATA_HOME"))
        return std::filesystem::path(pszData) / "vellum";
    if (const char* pszHome = NonEmptyEnv("HOME"))
        return std::filesystem::path(pszHome) / ".local/share/vellum";
    // No home at all (a daemon's environment): stay in a place that is certainly ours.
    return std::filesystem::path("/tmp/vellum");
}

std::filesystem::path DriveRoot()
{
    return VellumRoot() / "c";
}

std::filesystem::path WindowsDirectory()
{
    return VellumRoot() / "windows";
}

std::filesystem::path SystemDirectory()
{
    return WindowsDirectory() / "system";
}

std::filesystem::path DrivePath(std::string_view strName)
{
    return DriveRoot() / strName;
}

} // namespace platform
