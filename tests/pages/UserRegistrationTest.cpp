#include "pages/UserRegistration.h"

#include "platform/BinaryFile.h"
#include "tests/pages/TestDocuments.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using driver::CUserRegistration;
using driver::ELookup;

// The registration as the backend reads it, for the user running the test in a home of the test.
class UserRegistrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("registration");
        ASSERT_FALSE(m_base.empty());
        m_account.m_strName = "ada";
        m_account.m_nUid = ::getuid();
        m_account.m_nGid = ::getgid();
        m_account.m_home = m_base / "home";
        fs::create_directories(m_account.m_home);
        m_root = m_base / "fax root";
        fs::create_directories(m_root);
        ::chmod(m_root.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(m_base); }

    ELookup Prepare(std::string& strError)
    {
        m_driveRoot.clear();
        return CUserRegistration(m_account).PrepareDriveRoot(m_driveRoot, strError);
    }

    fs::path m_base;
    fs::path m_root;
    fs::path m_driveRoot;
    driver::SUserAccount m_account;
};

TEST_F(UserRegistrationTest, AUserWithoutARegistrationHasNotSetThePrinterUp)
{
    const CUserRegistration registration(m_account);
    EXPECT_FALSE(registration.Exists());
    std::string strError;
    EXPECT_EQ(Prepare(strError), ELookup::NotSetUp);
    EXPECT_TRUE(m_driveRoot.empty());
    EXPECT_FALSE(fs::exists(m_root / "c")) << "nothing is made for a user who has not set up";
}

TEST_F(UserRegistrationTest, FindsTheRegisteredRootAndMakesItsPageFolder)
{
    const CUserRegistration registration(m_account);
    std::string strError;
    ASSERT_TRUE(registration.Write(m_root, strError)) << strError;
    EXPECT_EQ(registration.File(), m_account.m_home / ".config/vellum/fax-printer");
    EXPECT_EQ(fs::status(registration.File()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(Prepare(strError), ELookup::Found) << strError;
    EXPECT_EQ(m_driveRoot, m_root / "c");
    EXPECT_EQ(fs::status(m_driveRoot).permissions(), fs::perms::owner_all) << "the page folder is private";

    // A registration without a root line means the default root under the home.
    ASSERT_TRUE(platform::WriteWholeFile(registration.File(), "# nothing else\n"));
    ::chmod(registration.File().c_str(), 0600);
    fs::path root;
    ASSERT_EQ(registration.ReadRoot(root, strError), ELookup::Found) << strError;
    EXPECT_EQ(root, m_account.m_home / ".local/share/vellum");

    EXPECT_FALSE(registration.Write("relative/root", strError));
    EXPECT_FALSE(registration.Write("/tmp/line\nbreak", strError));
}

TEST_F(UserRegistrationTest, RefusesARegistrationOthersCouldHaveWritten)
{
    const CUserRegistration registration(m_account);
    std::string strError;
    ASSERT_TRUE(registration.Write(m_root, strError)) << strError;

    ::chmod(registration.File().c_str(), 0622);
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    EXPECT_NE(strError.find("may be changed by users other than ada"), std::string::npos) << strError;
    ::chmod(registration.File().c_str(), 0600);

    // A link is not followed, wherever it leads.
    const auto real = m_base / "elsewhere";
    fs::rename(registration.File(), real);
    fs::create_symlink(real, registration.File());
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    fs::remove(registration.File());

    ASSERT_TRUE(
        platform::WriteWholeFile(registration.File(), std::string(CUserRegistration::MAX_BYTES + 1, '#')));
    ::chmod(registration.File().c_str(), 0600);
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    ASSERT_TRUE(platform::WriteWholeFile(registration.File(), "root=not/absolute\n"));
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    EXPECT_TRUE(m_driveRoot.empty());
}

TEST_F(UserRegistrationTest, RefusesARootOrPageFolderThatIsNotTheUsersOwn)
{
    const CUserRegistration registration(m_account);
    std::string strError;

    // The root a link to another folder.
    const auto linked = m_base / "linked root";
    fs::create_directory_symlink(m_root, linked);
    ASSERT_TRUE(registration.Write(linked, strError)) << strError;
    EXPECT_NE(platform::ReadWholeFile(registration.File(), 4096)
                  .value_or("")
                  .find("root=" + m_root.string() + "\n"),
              std::string::npos)
        << "the link is resolved when registering";
    ASSERT_TRUE(platform::WriteWholeFile(registration.File(), "root=" + linked.string() + "\n"));
    ::chmod(registration.File().c_str(), 0600);
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    EXPECT_FALSE(fs::exists(m_root / "c"));

    // A root every user may write into.
    ASSERT_TRUE(registration.Write(m_root, strError)) << strError;
    ::chmod(m_root.c_str(), 0777);
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    EXPECT_NE(strError.find("is not ada's own"), std::string::npos) << strError;
    ::chmod(m_root.c_str(), 0755);

    // The page folder a link: the pages would go wherever it points.
    fs::create_directory_symlink(m_base, m_root / "c");
    EXPECT_EQ(Prepare(strError), ELookup::Refused);
    fs::remove(m_root / "c");

    // The root of another user.
    const passwd* pNobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && pNobody != nullptr)
    {
        ASSERT_EQ(::chown(m_root.c_str(), pNobody->pw_uid, pNobody->pw_gid), 0);
        EXPECT_EQ(Prepare(strError), ELookup::Refused);
        EXPECT_FALSE(fs::exists(m_root / "c"));
    }
}

TEST_F(UserRegistrationTest, RefusesARootBelowAFolderThatOthersMayChange)
{
    // Whoever may rename a folder above the root may put another folder in the root's place.
    const passwd* pNobody = ::getpwnam("nobody");
    const bool bRoot = ::geteuid() == 0 && pNobody != nullptr;
    const uid_t nOther = bRoot ? pNobody->pw_uid : ::getuid();
    const gid_t nOtherGroup = bRoot ? pNobody->pw_gid : ::getgid();
    struct SCase
    {
        const char* pszName;
        mode_t nMode;
        bool bOthersOwnOrGroup; // owned by another user (root only), or group-writable by another group
        bool bLink;             // the folder above is a symbolic link to a folder of the user's
        ELookup eExpected;
        const char* pszSays;
    };
    // clang-format off
    const SCase aCases[] = {
        {"the user's own",                       0755,  false, false, ELookup::Found,   ""},
        {"writable by everybody",                0777,  false, false, ELookup::Refused, "above it may be changed by users other than ada"},
        {"writable by everybody, sticky (/tmp)", 01777, false, false, ELookup::Found,   ""},
        {"another user's",                       0755,  true,  false, ELookup::Refused, "above it may be changed"},
        {"another group's, group-writable",      0775,  true,  false, ELookup::Refused, "above it may be changed"},
        {"a link",                               0755,  false, true,  ELookup::Refused, "is a symbolic link"},
    };
    // clang-format on
    fs::create_directories(CUserRegistration(m_account).File().parent_path());
    for (const auto& test : aCases)
    {
        SCOPED_TRACE(test.pszName);
        if (test.bOthersOwnOrGroup && !bRoot)
            continue; // only root can give a folder away
        const auto above = m_base / "above";
        const auto real = m_base / "real above";
        fs::create_directories((test.bLink ? real : above) / "fax root");
        if (test.bLink)
            fs::create_directory_symlink(real, above);
        ::chmod(above.c_str(), test.nMode);
        if (test.bOthersOwnOrGroup)
        {
            ASSERT_EQ(::chown(above.c_str(), test.nMode == 0775 ? ::getuid() : nOther, nOtherGroup), 0);
        }
        // The registration names the link itself, as an older one may.
        ASSERT_TRUE(platform::WriteWholeFile(CUserRegistration(m_account).File(),
                                             "root=" + (above / "fax root").string() + "\n"));
        ::chmod(CUserRegistration(m_account).File().c_str(), 0600);
        std::string strError;
        EXPECT_EQ(Prepare(strError), test.eExpected) << strError;
        EXPECT_NE(strError.find(test.pszSays), std::string::npos) << strError;
        EXPECT_EQ(fs::exists(above / "fax root" / "c"), test.eExpected == ELookup::Found);
        fs::remove_all(above);
        fs::remove_all(real);
    }
}

} // namespace
