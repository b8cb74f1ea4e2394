#include "pages/UserRoot.h"

#include "pages/UserRegistration.h"
#include "platform/BinaryFile.h"
#include "tests/pages/TestDocuments.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using driver::ESetUp;

// A packaged program's first start for a user in a home of the test (a test run by root stands
// for user 1000). The registration is read as text: the backend's reading wants it the user's.
TEST(UserRootTest, SetsUpOnlyAUserThePrinterDoesNotKnow)
{
    struct SCase
    {
        const char* m_pszName;
        bool m_bRegistered;   // by the Installer, naming "elsewhere"
        bool m_bFileInTheWay; // a file where the root's "windows" folder belongs
        ESetUp m_eResult;
        const char* m_pszRegisteredRoot; // below the test's folder; nullptr: none
    };
    // clang-format off
    const SCase aCases[] = {
        {"a fresh user",            false, false, ESetUp::Done,      "home/.local/share/vellum"},
        {"a registered user",       true,  false, ESetUp::NotNeeded, "elsewhere"},
        {"a folder that cannot be", false, true,  ESetUp::Failed,    nullptr},
    };
    // clang-format on
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.m_pszName);
        const fs::path base = testdocs::MakeTempFolder("user-root");
        const driver::SUserAccount account{"ada", ::getuid() == 0 ? 1000 : ::getuid(), ::getgid(),
                                           base / "home"};
        const fs::path root = account.m_home / ".local/share/vellum";
        const driver::CUserRegistration registration(account);
        std::string strError;
        fs::create_directories(root);
        ASSERT_TRUE(!c.m_bRegistered || registration.Write(base / "elsewhere", strError));
        ASSERT_TRUE(!c.m_bFileInTheWay || platform::WriteWholeFile(root / "windows", "a file"));

        EXPECT_EQ(driver::SetUpUser(account, root, strError), c.m_eResult);
        if (c.m_bFileInTheWay)
        {
            EXPECT_EQ(strError, "the folder " + (root / "windows/system").string() +
                                    " cannot be made (Not a directory)");
        }
        const auto strRegistration = platform::ReadWholeFile(registration.File(), 8192);
        EXPECT_EQ(strRegistration.has_value(), c.m_pszRegisteredRoot != nullptr);
        if (c.m_pszRegisteredRoot != nullptr)
        {
            const std::string strLine =
                "\nroot=" + fs::weakly_canonical(base / c.m_pszRegisteredRoot).string();
            EXPECT_NE(strRegistration.value_or("").find(strLine + "\n"), std::string::npos);
        }
        for (const char* pszFolder : {"windows/system", "c"})
        {
            std::error_code error;
            EXPECT_EQ(fs::status(root / pszFolder, error).permissions(),
                      c.m_eResult == ESetUp::Done ? fs::perms::owner_all : fs::perms::unknown)
                << pszFolder << " is not private, or is made where it should not be";
        }
        fs::remove_all(base);
    }
}

} // namespace
