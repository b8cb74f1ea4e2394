#include "sender/cover/CoverTemplates.h"

#include "platform/ProgramPath.h"
#include "platform/Roots.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace
{

bool HasSvgExtension(const std::filesystem::path& path)
{
    std::string strExtension = path.extension().string();
    std::transform(strExtension.begin(), strExtension.end(), strExtension.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return strExtension == ".svg";
}

} // namespace

std::filesystem::path DefaultCoverTemplate()
{
    return platform::InstalledFile(DEFAULT_COVER_TEMPLATE);
}

std::filesystem::path UserCoverFolder()
{
    return platform::SystemDirectory() / USER_COVER_FOLDER;
}

std::vector<std::filesystem::path> AvailableCoverTemplates()
{
    return AvailableCoverTemplates(DefaultCoverTemplate(), UserCoverFolder());
}

std::vector<std::filesystem::path> AvailableCoverTemplates(const std::filesystem::path& defaultTemplate,
                                                           const std::filesystem::path& userFolder)
{
    std::vector<std::filesystem::path> aUser;
    std::error_code error;
    for (std::filesystem::directory_iterator it(userFolder, error), end; !error && it != end;
         it.increment(error))
    {
        // Regular files only: a FIFO or a device in the folder is nothing to read.
        if (HasSvgExtension(it->path()) && it->is_regular_file(error))
            aUser.push_back(it->path());
    }
    std::sort(aUser.begin(), aUser.end());
    std::vector<std::filesystem::path> aTemplates{defaultTemplate};
    aTemplates.insert(aTemplates.end(), aUser.begin(), aUser.end());
    return aTemplates;
}
