#include "sender/store/ReplaceFile.h"

#include "sender/store/AddressBook.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/TestFiles.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

namespace fs = std::filesystem;

struct SStoreFile
{
    const char* m_pszName;
    std::function<bool(const fs::path&, std::string&)> m_fnWrite;
};

// clang-format off
const SStoreFile STORE_FILES[] = {
    {"flist.dll",    [](const fs::path& path, std::string& strError)
                     { return CAddressBook().Save("Ann", "12345", strError, path); }},
    {"quill.cfg",    [](const fs::path& path, std::string& strError)
                     { return WriteSettings("mail.example.net", "ann@example.net", "Ann", strError, path); }},
    {"sendwell.ini", [](const fs::path& path, std::string& strError)
                     { return WriteProviderSettings(SProviderSettings(), strError, path); }},
};
// clang-format on

mode_t ModeOf(const fs::path& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class StoreFileModes : public CTempFolderTest
{
};

} // namespace

// Servers, addresses and recipients are the user's alone: a new file is the owner's only, and
// one that an older version left readable by all is so after the next write.
TEST_F(StoreFileModes, EachStoreFileIsTheOwnersOnlyNewOrAfterTheNextWrite)
{
    const fs::path folder = m_dir / "system";
    for (const auto& file : STORE_FILES)
    {
        const fs::path path = folder / file.m_pszName;
        std::string strError;
        ASSERT_TRUE(file.m_fnWrite(path, strError)) << file.m_pszName << ": " << strError;
        EXPECT_EQ(ModeOf(path), 0600u) << file.m_pszName << " when new";

        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_TRUE(file.m_fnWrite(path, strError)) << file.m_pszName << ": " << strError;
        EXPECT_EQ(ModeOf(path), 0600u) << file.m_pszName << " after the next write";
    }
    EXPECT_EQ(ModeOf(folder), 0700u) << "the folder made for them";
}
