// The check before a send against real peers: the gateway's coverage from a scripted web server,
// aiosmtpd with STARTTLS, sign-in and a SIZE limit, and the real Pagemill. Each failing cause
// shows in its line, and the server never sees a MAIL command.

#include "sender/send/SendCheck.h"

#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TrustedTestCa.h"
#include "tests/support/UnusedPort.h"

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using SendCheckTest = CTempFolderTest;

TEST_F(SendCheckTest, EachFailingCauseIsReportedAndNothingIsSent)
{
    const CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "send-check");
    ASSERT_EQ(ca.Failure(), "");
    ::setenv("VELLUM_ROOT", m_dir.c_str(), 1);
    fs::create_directories(m_dir / "c");
    // One printed page, waiting to be converted.
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "c/quill.1", std::string(platform::RASTER_BYTES, '\1')));
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "c/Page.tmp", "\x02"));
    // The line that fails (0 coverage, 1 server, 2 fax) and how it starts; the others pass. The
    // too large fax goes to a plain server: the check greets it with EHLO to learn its limit.
    struct SCase
    {
        const char* m_pszCoverage; // the gateway's reply body
        int m_nServer;             // 0 none listening, 1 plain, 2 STARTTLS with a wrong password
        const char* m_pszSizeLimit;
        std::size_t m_nFailing;
        const char* m_pszFailing;
    };
    // clang-format off
    const SCase aCases[] = {
        {"Sorry, not here\n", 1, "10000000", 0, "Sorry! 4930123 is not covered at present"},
        {"Bingo\n",           2, "10000000", 1, "Sorry, the SMTP server cannot be used: The SMTP server refused the "
                                                "user name or password. The server said: 535"},
        {"Bingo\n",           1, "1000",     2, "Sorry, the fax, 1 page, is too large: The message is "},
        {"Bingo\n",           0, "",         1, "Sorry, the SMTP server cannot be used: Unable to connect"},
    };
    // clang-format on
    for (const SCase& c : aCases)
    {
        SCOPED_TRACE(c.m_pszFailing);
        CScriptedHttpServer gateway({CScriptedHttpServer::Reply(200, "", c.m_pszCoverage)});
        CSmtpPeer peer;
        int nPort = UnusedPort();
        std::vector<std::string> aArgs = {"--from",        "x@example.org",    "--to",
                                          "y@example.org", "--expect-no-mail", "--size-limit",
                                          c.m_pszSizeLimit};
        if (c.m_nServer == 2)
            aArgs.insert(aArgs.end(), {"--security", "starttls", "--cert", ca.Certificate("good"), "--key",
                                       ca.Key("good"), "--user", "ann@example.org"});
        if (c.m_nServer != 0)
        {
            ASSERT_NE(nPort = peer.Start(aArgs, {"SMTP_PEER_PASSWORD=s3cret"}), 0);
        }
        SSendCheckJob job;
        job.m_send.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
        job.m_send.m_strFrom = "ann@example.org";
        job.m_send.m_timeouts.m_durConnect = job.m_send.m_timeouts.m_durGreeting = 10s;
        job.m_aRecipients = {{"Bob", "4930123"}};
        job.m_strQueryHost = gateway.HostPort();
        job.m_fnRunConverter = [](const fs::path& root)
        {
            platform::SRunOptions pagemill;
            pagemill.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + root.string()});
            const auto result = platform::RunProgram({PAGEMILL_PROGRAM}, pagemill);
            return SConverterRun{result.Succeeded(), result.Describe()};
        };
        if (c.m_nServer == 2)
        {
            job.m_send.m_eSecurity = ESmtpSecurity::StartTls;
            job.m_send.m_strLogin = "ann@example.org";
            job.m_send.m_strPassword = "wrong";
        }
        SCheckSignIn signIn;
        const std::vector<SCheckLine> aLines = CheckBeforeSend(job, &signIn);

        ASSERT_EQ(aLines.size(), 3u);
        for (std::size_t i = 0; i < aLines.size(); ++i)
            EXPECT_EQ(aLines[i].m_bOk, i != c.m_nFailing) << aLines[i].m_strText;
        EXPECT_TRUE(aLines[c.m_nFailing].m_strText.starts_with(c.m_pszFailing))
            << aLines[c.m_nFailing].m_strText;
        EXPECT_EQ(signIn.m_bCredentialsRefused, c.m_nServer == 2);
        std::string strReport;
        EXPECT_TRUE(c.m_nServer == 0 || peer.Finish(strReport)) << strReport;
        // The rasters stay for the send; the converter's copy is gone.
        EXPECT_TRUE(fs::exists(m_dir / "c/quill.1"));
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "c"), fs::directory_iterator()), 2);
    }
    ::unsetenv("VELLUM_ROOT");
}

} // namespace
