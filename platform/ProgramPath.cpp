#include "platform/ProgramPath.h"

#include <system_error>

namespace platform
{

std::filesystem::path ProgramDirectory()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

} // namespace platform
