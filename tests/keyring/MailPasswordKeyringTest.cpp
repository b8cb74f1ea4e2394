#include "sender/keyring/MailPasswordKeyring.h"

#include "platform/Process.h"

#include <QCoreApplication>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

// Names the status in a failed check.
void PrintTo(EKeyringStatus eStatus, std::ostream* pOut)
{
    constexpr const char* NAMES[] = {"Ok", "NotFound", "NoKeyring", "Failed"};
    *pOut << NAMES[static_cast<int>(eStatus)];
}

namespace
{

using namespace std::chrono_literals;

// Set by tests/support/private-keyring.sh: the private HOME and the keyring daemon.
const char* const KEYRING_HOME_VARIABLE = "VELLUM_TEST_KEYRING_HOME";
const char* const KEYRING_PID_VARIABLE = "VELLUM_TEST_KEYRING_PID";

const std::string SERVER = "SMTP.Example.org:587";
const std::string USER = "ada@example.org";

bool InPrivateKeyring()
{
    return !qEnvironmentVariableIsEmpty(KEYRING_HOME_VARIABLE);
}

// What the keyring's own tool finds for the account: its output, or nullopt when it finds nothing.
std::optional<std::string> SecretToolLookup(const std::string& strKey)
{
    platform::CProcess tool;
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    if (!tool.Start({"secret-tool", "lookup", "server", CMailPasswordKeyring::SERVICE_NAME, "user", strKey},
                    options))
    {
        ADD_FAILURE() << tool.Error();
        return std::nullopt;
    }
    std::string strOutput;
    EXPECT_EQ(tool.ReadOutput(strOutput, 30s, 4096), platform::EWaitResult::Ended);
    EXPECT_EQ(tool.Wait(30s), platform::EWaitResult::Ended);
    if (!tool.Succeeded())
        return std::nullopt;
    return strOutput;
}

// The regular files under the folder that hold strNeedle byte for byte.
std::vector<std::string> FilesHolding(const std::filesystem::path& folder, const std::string& strNeedle)
{
    std::vector<std::string> aFound;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    {
        if (!entry.is_regular_file())
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string strContent{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (strContent.find(strNeedle) != std::string::npos)
            aFound.push_back(entry.path().string());
    }
    return aFound;
}

// Against gnome-keyring-daemon's Secret Service in a private session (tests/support/private-keyring.sh).
TEST(MailPasswordKeyringReal, KeepsReplacesAndErasesThePasswordEncrypted)
{
    if (!InPrivateKeyring())
        GTEST_SKIP() << "runs only inside tests/support/private-keyring.sh";
    const CMailPasswordKeyring keyring;
    const std::string strKey = "ada@example.org@smtp.example.org:587";
    ASSERT_EQ(CMailPasswordKeyring::AccountKey(SERVER, USER), strKey);
    const std::string strFirst = "first p\xc3\xa4ssword 7Qx";
    const std::string strSecond = "second-Zk3;\"'$(no)";

    std::string strRead = "left over";
    EXPECT_EQ(keyring.Read(SERVER, USER, strRead).m_eStatus, EKeyringStatus::NotFound);
    EXPECT_EQ(strRead, "");

    SKeyringResult result = keyring.Write(SERVER, USER, strFirst);
    ASSERT_EQ(result.m_eStatus, EKeyringStatus::Ok) << result.m_strError;
    EXPECT_EQ(keyring.Read(SERVER, USER, strRead).m_eStatus, EKeyringStatus::Ok);
    EXPECT_EQ(strRead, strFirst);

    result = keyring.Write(SERVER, USER, strSecond);
    ASSERT_EQ(result.m_eStatus, EKeyringStatus::Ok) << result.m_strError;
    EXPECT_EQ(keyring.Read(SERVER, USER, strRead).m_eStatus, EKeyringStatus::Ok);
    EXPECT_EQ(strRead, strSecond);
    // Another port is another account.
    EXPECT_EQ(keyring.Read("smtp.example.org:465", USER, strRead).m_eStatus, EKeyringStatus::NotFound);

    // The keyring's own tool finds it under the service and the account's key.
    EXPECT_EQ(SecretToolLookup(strKey), strSecond);
    // The keyring keeps it in its file, encrypted: neither password is in any file in plain text.
    const std::filesystem::path home = qEnvironmentVariable(KEYRING_HOME_VARIABLE).toStdString();
    ASSERT_TRUE(std::filesystem::is_regular_file(home / ".local/share/keyrings/login.keyring"));
    EXPECT_EQ(FilesHolding(home, strFirst), std::vector<std::string>{});
    EXPECT_EQ(FilesHolding(home, strSecond), std::vector<std::string>{});

    result = keyring.Erase(SERVER, USER);
    EXPECT_EQ(result.m_eStatus, EKeyringStatus::Ok) << result.m_strError;
    EXPECT_EQ(keyring.Read(SERVER, USER, strRead).m_eStatus, EKeyringStatus::NotFound);
    EXPECT_EQ(SecretToolLookup(strKey), std::nullopt);
    // Nothing left to erase is no error.
    EXPECT_EQ(keyring.Erase(SERVER, USER).m_eStatus, EKeyringStatus::Ok);
}

TEST(MailPasswordKeyringReal, AKeyringThatDoesNotAnswerCountsAsNone)
{
    if (!InPrivateKeyring())
        GTEST_SKIP() << "runs only inside tests/support/private-keyring.sh";
    const pid_t daemon = qEnvironmentVariableIntValue(KEYRING_PID_VARIABLE);
    ASSERT_GT(daemon, 0);
    std::string strRead;
    {
        // The daemon stops answering; it goes on again even when a check below fails.
        ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
        const std::unique_ptr<const pid_t, void (*)(const pid_t*)> resume(&daemon, [](const pid_t* p)
                                                                          { ::kill(*p, SIGCONT); });
        const SKeyringResult result = CMailPasswordKeyring(1s).Read(SERVER, USER, strRead);
        EXPECT_EQ(result.m_eStatus, EKeyringStatus::NoKeyring);
        EXPECT_EQ(result.m_strError, "the keyring did not answer within 1 s");
    }
    // Its late answer goes nowhere, and the next call is answered.
    const SKeyringResult result = CMailPasswordKeyring().Write(SERVER, USER, "after the pause");
    EXPECT_EQ(result.m_eStatus, EKeyringStatus::Ok) << result.m_strError;
    EXPECT_EQ(CMailPasswordKeyring().Read(SERVER, USER, strRead).m_eStatus, EKeyringStatus::Ok);
    EXPECT_EQ(strRead, "after the pause");
}

// With no session bus (main() sees to it outside the private keyring).
TEST(MailPasswordKeyringNone, EveryCallSaysNoKeyring)
{
    if (InPrivateKeyring())
        GTEST_SKIP() << "runs only without a session bus";
    const CMailPasswordKeyring keyring;
    std::string strRead = "left over";
    SKeyringResult result = keyring.Read(SERVER, USER, strRead);
    EXPECT_EQ(result.m_eStatus, EKeyringStatus::NoKeyring);
    EXPECT_EQ(result.m_strError, "no keyring service on the session bus");
    EXPECT_EQ(strRead, "");
    EXPECT_EQ(keyring.Write(SERVER, USER, "secret").m_eStatus, EKeyringStatus::NoKeyring);
    EXPECT_EQ(keyring.Erase(SERVER, USER).m_eStatus, EKeyringStatus::NoKeyring);
}

TEST(MailPasswordKeyringChecks, RefusesAnotherThreadAndAPasswordThatIsNotText)
{
    const CMailPasswordKeyring keyring;
    SKeyringResult result;
    std::thread([&] { result = keyring.Write(SERVER, USER, "secret"); }).join();
    EXPECT_EQ(result.m_eStatus, EKeyringStatus::Failed);
    EXPECT_EQ(result.m_strError, "the keyring was used outside the application's main thread");

    result = keyring.Write(SERVER, USER, "bad \xff byte");
    EXPECT_EQ(result.m_eStatus, EKeyringStatus::Failed);
    EXPECT_EQ(result.m_strError, "the password is not UTF-8 text");
}

} // namespace

int main(int argc, char** argv)
{
    // Outside the private keyring no session bus is used at all, so that no test ever meets the
    // desktop's own keyring. Set before the first use of the bus, which keeps its address.
    if (!InPrivateKeyring())
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
