#include "sender/store/ReplaceFile.h"

#include "platform/BinaryFile.h"

#include <system_error>

bool ReplaceFile(const std::filesystem::path& path, std::string_view strBytes, std::string& strError)
{
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    platform::CFileWriter file;
    if (file.Create(path, platform::EWriteMode::Atomic))
    {
        file.Write(strBytes.data(), strBytes.size());
        if (file.Close())
            return true;
    }
    strError = file.Error();
    return false;
}
