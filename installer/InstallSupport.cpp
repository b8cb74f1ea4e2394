#include "installer/InstallSupport.h"

namespace installer
{

void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& stop)
{
    std::error_code error;
    auto isInside = [&](const std::filesystem::path& path)
    {
        const auto relative = path.lexically_relative(stop);
        return !stop.empty() && !relative.empty() && *relative.begin() != "..";
    };
    while (isInside(folder) && !std::filesystem::exists(std::filesystem::symlink_status(folder, error)))
        folder = folder.parent_path();
    while (isInside(folder) && folder != stop &&
           std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)) &&
           std::filesystem::is_empty(folder, error) && !error)
    {
        if (!std::filesystem::remove(folder, error))
            break;
        folder = folder.parent_path();
    }
}

} // namespace installer
