// Delivery through a private Postfix (tests/support/private-postfix.sh): STARTTLS on the
// submission port and TLS from the first byte on a second one, each with AUTH through Cyrus
// SASL, and the SIZE limit it announces. The stored message must parse strictly and carry the
// body sent. Skips, saying why, when not root or when Postfix is not installed.
#include "platform/Environment.h"
#include "platform/Process.h"
#include "sender/mail/SmtpLink.h"
#include "tests/support/TrustedTestCa.h"
#include "tests/support/UnusedPort.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const USER = "faxuser";
const char* const PASSWORD = "pa55 w0rd:x";
const char* const DOMAIN = "4930123456.fax.example";
const char* const GATEWAY = "remote-printer.Bob_Smith@4930123456.fax.example";
constexpr int SIZE_LIMIT = 100000;

class SmtpPostfixTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0)
            s_strSkip = "a private Postfix needs root";
        else if (!fs::exists("/usr/sbin/postfix") || !fs::exists("/usr/sbin/saslpasswd2"))
            s_strSkip = "Postfix or saslpasswd2 is not installed (packages postfix, sasl2-bin)";
        if (!s_strSkip.empty())
            return;
        s_pCa = new CTrustedTestCa(VELLUM_TEST_CA_SCRIPT, "smtp-postfix-ca");
        if (!s_pCa->Failure().empty())
        {
            s_strFailure = s_pCa->Failure();
            return;
        }
        s_dir = fs::temp_directory_path() / ("private-postfix-" + std::to_string(::getpid()));
        s_nSubmission = UnusedPort();
        s_nTls = UnusedPort();
        platform::CProcess start;
        platform::SSpawnOptions options;
        options.m_eOutput = platform::EChildStream::Pipe;
        options.m_aEnvironment =
            platform::EnvironmentWith({std::string("PRIVATE_POSTFIX_PASSWORD=") + PASSWORD});
        std::string strLine;
        const bool bReady =
            start.Start({PRIVATE_POSTFIX_SCRIPT, "start", s_dir.string(), std::to_string(s_nSubmission),
                         std::to_string(s_nTls), s_pCa->Certificate("good"), s_pCa->Key("good"), USER, DOMAIN,
                         std::to_string(SIZE_LIMIT)},
                        options) &&
            start.ReadOutputLine(strLine, 60s) && strLine == "READY";
        const bool bEnded = start.Wait(30s) == platform::EWaitResult::Ended && start.Succeeded();
        if (!bReady || !bEnded)
            s_strFailure = "private-postfix.sh start did not get ready: " + strLine;
    }
    static void TearDownTestSuite()
    {
        if (!s_dir.empty())
        {
            platform::SRunOptions options;
            options.m_durTimeout = 30s;
            [[maybe_unused]] const auto stopped =
                platform::RunProgram({PRIVATE_POSTFIX_SCRIPT, "stop", s_dir.string()}, options);
            std::error_code error;
            fs::remove_all(s_dir, error);
        }
        delete s_pCa;
        s_pCa = nullptr;
    }
    void SetUp() override
    {
        if (!s_strSkip.empty())
            GTEST_SKIP() << s_strSkip;
        ASSERT_EQ(s_strFailure, "");
    }

    // Waits (bounded) for the one message Postfix stored since the last call and returns its file.
    static fs::path TakeStoredMessage()
    {
        const fs::path incoming = s_dir / "mail" / "maildir" / "new";
        for (int i = 0; i < 300; ++i)
        {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(incoming, error))
            {
                const fs::path taken = s_dir / ("taken-" + std::to_string(++s_nTaken));
                fs::rename(entry.path(), taken);
                return taken;
            }
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }

    static std::string s_strSkip;
    static std::string s_strFailure;
    static CTrustedTestCa* s_pCa;
    static fs::path s_dir;
    static int s_nSubmission;
    static int s_nTls;
    static int s_nTaken;
};

std::string SmtpPostfixTest::s_strSkip;
std::string SmtpPostfixTest::s_strFailure;
CTrustedTestCa* SmtpPostfixTest::s_pCa = nullptr;
fs::path SmtpPostfixTest::s_dir;
int SmtpPostfixTest::s_nSubmission = 0;
int SmtpPostfixTest::s_nTls = 0;
int SmtpPostfixTest::s_nTaken = 0;

TEST_F(SmtpPostfixTest, DeliversOverStartTlsAndOverTlsFromTheFirstByte)
{
    for (const ESmtpSecurity eSecurity : {ESmtpSecurity::StartTls, ESmtpSecurity::Tls})
    {
        const bool bStartTls = eSecurity == ESmtpSecurity::StartTls;
        SCOPED_TRACE(bStartTls ? "STARTTLS" : "TLS");
        CPlainMail mail;
        mail.m_strFrom = "me@example.com";
        mail.AddRecipient(GATEWAY, "");
        mail.m_strSubject = bStartTls ? "over STARTTLS" : "over TLS";
        mail.m_strBody = ".first\r\nmiddle\r\n..second\r\n.";
        const fs::path expected = s_dir / "expected";
        std::ofstream(expected, std::ios::binary) << mail.m_strBody << "\r\n\r\n";

        CSmtpLink link("127.0.0.1", bStartTls ? s_nSubmission : s_nTls);
        link.SetSecurity(eSecurity);
        link.SetCredentials(USER, PASSWORD);
        ASSERT_TRUE(link.Connect()) << link.m_strError << " / " << link.GetServerReply();
        EXPECT_EQ(link.GetExtensions().m_nSizeLimit, std::uint64_t{SIZE_LIMIT});
        EXPECT_TRUE(link.SendMail(mail)) << link.m_strError << " / " << link.GetServerReply();
        EXPECT_TRUE(link.Disconnect()) << link.m_strError;

        const fs::path stored = TakeStoredMessage();
        ASSERT_FALSE(stored.empty()) << "Postfix stored no message";
        platform::SRunOptions options;
        options.m_durTimeout = 60s;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        const auto checked = platform::RunProgram(
            {VELLUM_PYTHON, CHECK_STORED_MAIL_SCRIPT, stored.string(), expected.string()}, options);
        EXPECT_TRUE(checked.Succeeded()) << checked.m_strOutput;
    }
}

TEST_F(SmtpPostfixTest, MessageOverTheAnnouncedSizeIsRefusedBeforeMail)
{
    CPlainMail mail;
    mail.m_strFrom = "me@example.com";
    mail.AddRecipient(GATEWAY, "");
    mail.m_strSubject = "too large";
    mail.m_strBody = std::string(SIZE_LIMIT, 'x');
    CSmtpLink link("127.0.0.1", s_nSubmission);
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, PASSWORD);
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_FALSE(link.SendMail(mail));
    const std::size_t nSize = mail.GetHeader().size() + link.StuffDots(mail).size() + 2;
    // Both are 100 kB when rounded, so the bytes tell them apart.
    ASSERT_LT(nSize, SIZE_LIMIT + 500u);
    EXPECT_EQ(link.m_strError, "The message is " + std::to_string(nSize) +
                                   " bytes; the SMTP server takes at most " + std::to_string(SIZE_LIMIT) +
                                   " bytes");
    EXPECT_TRUE(link.Disconnect()) << link.m_strError;
}

} // namespace
