#include "sender/store/ReplaceFile.h"

#include "platform/BinaryFile.h"

#include <system_error>

bool ReplaceFile(const std::filesystem::path& path, std::string_view strBytes, std::string& strError)
{
    namespace fs = std::filesystem;
    std::error_code ignored;
    if (fs::create_directories(path.parent_path(), ignored))
        fs::permissions(path.parent_path(), fs::perms::owner_all, ignored);
    platform::CFileWriter file;
    if (file.Create(path, platform::EWriteMode::Atomic) &&
        file.SetPermissions(fs::perms::owner_read | fs::perms::owner_write))
    {
        file.Write(strBytes.data(), strBytes.size());
        if (file.Close())
            return true;
    }
    strError = file.Error();
    return false;
}
