#include "platform/ProgramPath.h"

#include "platform/Roots.h"

#include <system_error>

#ifndef VELLUM_PACKAGE_DIR
#error "VELLUM_PACKAGE_DIR names the package's program folder (see the top CMakeLists.txt)"
#endif

namespace platform
{

std::filesystem::path ProgramDirectory()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path PackageDirectory()
{
    return VELLUM_PACKAGE_DIR;
}

bool IsPackagedProgram()
{
    const auto program = ProgramDirectory();
    if (program.empty())
        return false;
    // The same folder also when one of the two paths passes through a symbolic link (/usr/lib
    // reached through /lib on a merged system).
    std::error_code error;
    return std::filesystem::equivalent(program, PackageDirectory(), error) && !error;
}

std::filesystem::path InstalledFile(std::string_view strName, const std::filesystem::path& programDirectory,
                                    const std::filesystem::path& systemDirectory)
{
    if (!programDirectory.empty())
    {
        const auto beside = programDirectory / strName;
        std::error_code error;
        if (std::filesystem::exists(beside, error))
            return beside;
    }
    return systemDirectory / strName;
}

std::filesystem::path InstalledFile(std::string_view strName)
{
    return InstalledFile(strName, ProgramDirectory(), SystemDirectory());
}

} // namespace platform
