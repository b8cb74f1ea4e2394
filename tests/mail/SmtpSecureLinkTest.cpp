// The secure dialogue against the scripted server, which turns to TLS at a "T:" step with a
// certificate of the test CA: EHLO, STARTTLS, TLS from the first byte, AUTH, SIZE and cancel.
#include "platform/CancelSignal.h"
#include "sender/mail/SmtpLink.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/TrustedTestCa.h"
#include "tests/support/UnusedPort.h"

#include <gtest/gtest.h>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Script = std::vector<std::string>;

const char* const USER = "fax.user@example.org";
const char* const PASSWORD = "s3cret pass";
// The password as it goes over the wire, alone (LOGIN) and in the PLAIN token.
const char* const PASSWORD_BASE64 = "czNjcmV0IHBhc3M=";
const char* const PLAIN_TOKEN = "AGZheC51c2VyQGV4YW1wbGUub3JnAHMzY3JldCBwYXNz";

Script Join(std::initializer_list<Script> pieces)
{
    Script script;
    for (const Script& piece : pieces)
        script.insert(script.end(), piece.begin(), piece.end());
    return script;
}

const Script PLAIN_EHLO = {"S: 220 mx.example ESMTP", "C: EHLO *",
                           "S: 250-mx.example\r\n250-PIPELINING\r\n250-STARTTLS\r\n250 8BITMIME"};
const Script STARTTLS = {"C: STARTTLS", "S: 220 2.0.0 go ahead", "T:"};
const Script TLS_EHLO = {"C: EHLO *", "S: 250-mx.example\r\n250-AUTH LOGIN PLAIN\r\n250 HELP"};
const Script AUTH_PLAIN = {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 235 2.7.0 accepted"};
const Script ENVELOPE = {"C: MAIL From: <me@example.com>", "S: 250 ok",
                         "C: RCPT TO: <remote-printer.Bob@4930123.fax.example>", "S: 250 ok"};
const Script DATA_STEP = {"C: DATA", "S: 354 go ahead", "C: <DATA>", "S: 250 queued"};
const Script QUIT_STEP = {"C: QUIT", "S: 221 bye"};

SSmtpTimeouts TestTimeouts()
{
    SSmtpTimeouts timeouts;
    timeouts.m_durConnect = timeouts.m_durTlsHandshake = 10s;
    timeouts.m_durGreeting = timeouts.m_durCommand = timeouts.m_durDataStart = timeouts.m_durDataEnd = 10s;
    timeouts.m_durSend = 10s;
    return timeouts;
}

void FillPlain(CPlainMail& mail)
{
    mail.m_strFrom = "me@example.com";
    mail.AddRecipient("remote-printer.Bob@4930123.fax.example", "");
    mail.m_strSubject = "fax";
    mail.m_strBody = "Hello\r\n";
    mail.SetTimeSource([] { return std::time_t{1'800'000'000}; });
    mail.SetMessageIdSource([](const CPlainMail&) { return std::string("<1@example.com>"); });
}

struct SSecureRow
{
    const char* m_pszName;
    ESmtpSecurity m_eSecurity;
    bool m_bSignIn;
    Script m_script;
    bool m_bConnect;
    bool m_bSend;
    const char* m_pszError;
    const char* m_pszServerReply;
};

void PrintTo(const SSecureRow& row, std::ostream* pOut)
{
    *pOut << row.m_pszName;
}

class SmtpSecureLinkTest : public ::testing::TestWithParam<SSecureRow>
{
protected:
    static void SetUpTestSuite() { s_pCa = new CTrustedTestCa(VELLUM_TEST_CA_SCRIPT, "smtp-secure-link"); }
    static void TearDownTestSuite()
    {
        delete s_pCa;
        s_pCa = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_pCa->Failure(), ""); }

    static CScriptedSmtpServer::SOptions ServerOptions(const std::string& strLeaf = "good")
    {
        CScriptedSmtpServer::SOptions options;
        options.m_strCertificate = s_pCa->Certificate(strLeaf);
        options.m_strKey = s_pCa->Key(strLeaf);
        return options;
    }

    static CTrustedTestCa* s_pCa;
};

CTrustedTestCa* SmtpSecureLinkTest::s_pCa = nullptr;

// One connection as a send makes it: connect, one message if connected, QUIT; the server checks
// every line, and neither the error nor the server's reply shown ever holds the password.
TEST_P(SmtpSecureLinkTest, FollowsTheTranscript)
{
    const SSecureRow& row = GetParam();
    CScriptedSmtpServer server(row.m_script, ServerOptions());
    CPlainMail mail;
    FillPlain(mail);
    {
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
        link.SetSecurity(row.m_eSecurity);
        if (row.m_bSignIn)
            link.SetCredentials(USER, PASSWORD);
        EXPECT_EQ(link.Connect(), row.m_bConnect);
        if (row.m_bConnect)
        {
            EXPECT_EQ(link.SendMail(mail), row.m_bSend);
        }
        link.Disconnect();
        EXPECT_EQ(link.m_strError, row.m_pszError);
        EXPECT_EQ(link.GetServerReply(), row.m_pszServerReply);
        for (const std::string& strShown : {link.m_strError, link.GetServerReply()})
            for (const char* pszSecret : {PASSWORD, PASSWORD_BASE64, PLAIN_TOKEN})
                EXPECT_EQ(strShown.find(pszSecret), std::string::npos);
    }
    EXPECT_EQ(server.Finish(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpSecureLinkTest,
    ::testing::Values(
        SSecureRow{"StartTlsThenAuthPlain", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO, STARTTLS, TLS_EHLO, AUTH_PLAIN, ENVELOPE, DATA_STEP, QUIT_STEP}), true,
                   true, "OK", ""},
        SSecureRow{"StartTlsWithoutSignIn", ESmtpSecurity::StartTls, false,
                   Join({PLAIN_EHLO, STARTTLS, TLS_EHLO, ENVELOPE, DATA_STEP, QUIT_STEP}), true, true, "OK",
                   ""},
        SSecureRow{"AuthLoginWhenPlainIsNotOffered", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         {"C: EHLO *", "S: 250-mx.example\r\n250 AUTH login CRAM-MD5", "C: AUTH LOGIN",
                          "S: 334 VXNlcm5hbWU6", "C: ZmF4LnVzZXJAZXhhbXBsZS5vcmc=", "S: 334 UGFzc3dvcmQ6",
                          std::string("C: ") + PASSWORD_BASE64, "S: 235 ok"},
                         ENVELOPE,
                         DATA_STEP,
                         QUIT_STEP}),
                   true, true, "OK", ""},
        // Nothing after the EHLO: no STARTTLS, no QUIT, no command in plain text.
        SSecureRow{
            "StartTlsNotOfferedIsRefused",
            ESmtpSecurity::StartTls,
            true,
            {"S: 220 mx", "C: EHLO *", "S: 250-mx\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 1000"},
            false,
            false,
            "The SMTP server does not offer STARTTLS: nothing was sent over the unprotected connection",
            ""},
        SSecureRow{"StartTlsRefused", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO, {"C: STARTTLS", "S: 454 4.7.0 TLS not available"}}), false, false,
                   "454:SMTP server refused STARTTLS", "454 4.7.0 TLS not available"},
        SSecureRow{"EhloUnknownDoesNotFallBackToHelo",
                   ESmtpSecurity::StartTls,
                   false,
                   {"S: 220 mx", "C: EHLO *", "S: 502 5.5.1 command not implemented"},
                   false,
                   false,
                   "502:SMTP server does not understand EHLO, which a secure connection needs",
                   "502 5.5.1 command not implemented"},
        // An attacker's plaintext after the 220 must not be read as the reply to the EHLO in TLS:
        // that "reply" offers no AUTH and would end the sign-in.
        SSecureRow{"BytesAfterTheStartTlsReplyAreDropped", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         {"C: STARTTLS", "S: 220 go ahead\r\n250 mx.example", "T:"},
                         TLS_EHLO,
                         AUTH_PLAIN,
                         ENVELOPE,
                         DATA_STEP,
                         QUIT_STEP}),
                   true, true, "OK", ""},
        SSecureRow{"AuthOfferedOnlyBeforeTlsIsRefused", ESmtpSecurity::StartTls, true,
                   Join({{"S: 220 mx", "C: EHLO *", "S: 250-mx\r\n250-AUTH PLAIN\r\n250 STARTTLS"},
                         STARTTLS,
                         {"C: EHLO *", "S: 250-mx.example\r\n250 SIZE 100000"}}),
                   false, false, "The SMTP server offers no sign-in (AUTH) on this connection", ""},
        SSecureRow{"NoKnownMechanism", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO, STARTTLS, {"C: EHLO *", "S: 250-mx\r\n250 AUTH CRAM-MD5 XOAUTH2"}}),
                   false, false, "The SMTP server offers neither PLAIN nor LOGIN for signing in", ""},
        SSecureRow{"WrongPassword535", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         TLS_EHLO,
                         {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 535 5.7.8 credentials invalid"}}),
                   false, false, "535:The SMTP server refused the user name or password",
                   "535 5.7.8 credentials invalid"},
        SSecureRow{"WrongPasswordInLogin", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         {"C: EHLO *", "S: 250-mx\r\n250 AUTH LOGIN", "C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6",
                          "C: ZmF4LnVzZXJAZXhhbXBsZS5vcmc=", "S: 334 UGFzc3dvcmQ6",
                          std::string("C: ") + PASSWORD_BASE64, "S: 535 no"}}),
                   false, false, "535:The SMTP server refused the user name or password", "535 no"},
        SSecureRow{"UnknownUserInLogin", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         {"C: EHLO *", "S: 250-mx\r\n250 AUTH LOGIN", "C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6",
                          "C: ZmF4LnVzZXJAZXhhbXBsZS5vcmc=", "S: 535 who?"}}),
                   false, false, "535:The SMTP server refused the user name or password", "535 who?"},
        SSecureRow{"EncryptionRequired538", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         TLS_EHLO,
                         {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 538 5.7.11 encryption required"}}),
                   false, false,
                   "538:The SMTP server wants encryption or another kind of authentication first",
                   "538 5.7.11 encryption required"},
        SSecureRow{"AuthenticationRequired530", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         TLS_EHLO,
                         {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 530 5.7.0 no"}}),
                   false, false,
                   "530:The SMTP server wants encryption or another kind of authentication first",
                   "530 5.7.0 no"},
        SSecureRow{"MechanismTooWeak534", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         TLS_EHLO,
                         {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 534 5.7.9 too weak"}}),
                   false, false, "534:The SMTP server finds this kind of sign-in too weak",
                   "534 5.7.9 too weak"},
        SSecureRow{"TemporaryFailure454", ESmtpSecurity::StartTls, true,
                   Join({PLAIN_EHLO,
                         STARTTLS,
                         TLS_EHLO,
                         {std::string("C: AUTH PLAIN ") + PLAIN_TOKEN, "S: 454 4.7.0 try later\x1b[2J"}}),
                   false, false, "454:The SMTP server cannot sign you in just now; try again later",
                   "454 4.7.0 try later?[2J"},
        SSecureRow{
            "TlsFromTheFirstByte", ESmtpSecurity::Tls, true,
            Join({{"T:", "S: 220 mx.example ESMTP"}, TLS_EHLO, AUTH_PLAIN, ENVELOPE, DATA_STEP, QUIT_STEP}),
            true, true, "OK", ""}),
    [](const ::testing::TestParamInfo<SSecureRow>& info) { return std::string(info.param.m_pszName); });
// The size goes on MAIL only when offered, and is the data as the server takes it; a message
// over the announced limit is refused before MAIL, naming both sizes.
TEST_F(SmtpSecureLinkTest, SizeIsAnnouncedAndItsLimitKeptBeforeMail)
{
    const Script tls = Join({PLAIN_EHLO, STARTTLS});
    {
        CScriptedSmtpServer server(
            Join({tls,
                  {"C: EHLO *", "S: 250-mx\r\n250 SIZE 1000000", "C: MAIL From: <me@example.com> SIZE=*",
                   "S: 250 ok", "C: RCPT TO: <remote-printer.Bob@4930123.fax.example>", "S: 250 ok"},
                  DATA_STEP,
                  QUIT_STEP}),
            ServerOptions());
        CPlainMail mail;
        FillPlain(mail);
        mail.m_strBody = ".dot\r\n";
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
        link.SetSecurity(ESmtpSecurity::StartTls);
        ASSERT_TRUE(link.Connect()) << link.m_strError;
        EXPECT_TRUE(link.SendMail(mail)) << link.m_strError;
        EXPECT_TRUE(link.Disconnect());
        ASSERT_EQ(server.Finish(), "");
        ASSERT_EQ(server.Data().size(), 1u);
        EXPECT_EQ(server.ClientLines().at(3),
                  "MAIL From: <me@example.com> SIZE=" + std::to_string(server.Data()[0].size()));
    }
    {
        CScriptedSmtpServer server(Join({tls, {"C: EHLO *", "S: 250-mx\r\n250 SIZE 150000"}, QUIT_STEP}),
                                   ServerOptions());
        CPlainMail mail;
        FillPlain(mail);
        mail.m_strBody = std::string(186'000, 'x');
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
        link.SetSecurity(ESmtpSecurity::StartTls);
        ASSERT_TRUE(link.Connect()) << link.m_strError;
        EXPECT_FALSE(link.SendMail(mail));
        EXPECT_EQ(link.m_strError, "The message is 186 kB; the SMTP server takes at most 150 kB");
        EXPECT_TRUE(link.Disconnect());
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST_F(SmtpSecureLinkTest, CertificateForAnotherHostEndsTheDialogueNamingIt)
{
    CScriptedSmtpServer server(Join({PLAIN_EHLO, STARTTLS}), ServerOptions("other"));
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, PASSWORD);
    EXPECT_FALSE(link.Connect());
    EXPECT_EQ(link.m_strError.rfind("Cannot make a secure connection to the SMTP server: ", 0), 0u)
        << link.m_strError;
    EXPECT_NE(link.m_strError.find("mail.another.example"), std::string::npos) << link.m_strError;
    EXPECT_EQ(link.GetStage(), ESmtpStage::Idle);
    EXPECT_NE(server.Finish().find("no TLS session came about"), std::string::npos);
}

// The password is wiped once used: a second connection asks for it again instead of going on
// without signing in.
TEST_F(SmtpSecureLinkTest, UsedPasswordIsNotKeptForTheNextConnection)
{
    CScriptedSmtpServer server(Join({PLAIN_EHLO, STARTTLS, TLS_EHLO, AUTH_PLAIN, QUIT_STEP}),
                               ServerOptions());
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, PASSWORD);
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");
    EXPECT_FALSE(link.Connect());
    EXPECT_EQ(link.m_strError,
              "The password was used for the last connection and is no longer kept: give it again");
}

TEST_F(SmtpSecureLinkTest, CredentialsAreNeverSentWithoutTls)
{
    CSmtpLink link("127.0.0.1", UnusedPort(), TestTimeouts());
    link.SetCredentials(USER, PASSWORD);
    EXPECT_FALSE(link.Connect());
    EXPECT_EQ(link.m_strError,
              "A user name and password are only sent over a secure connection: choose STARTTLS or TLS");
}

// A silent server on the plain and on the TLS stream: the cancel from another thread ends the
// wait (its limit is a minute) and the connection, before the data.
TEST_F(SmtpSecureLinkTest, CancelEndsAWaitOnThePlainAndTheTlsStream)
{
    for (const ESmtpSecurity eSecurity : {ESmtpSecurity::None, ESmtpSecurity::Tls})
    {
        SCOPED_TRACE(static_cast<int>(eSecurity));
        CScriptedSmtpServer server(eSecurity == ESmtpSecurity::Tls ? Script{"T:"} : Script{},
                                   ServerOptions());
        platform::CCancelSignal cancel;
        SSmtpTimeouts timeouts = TestTimeouts();
        timeouts.m_durGreeting = 60s;
        CSmtpLink link("127.0.0.1", server.Port(), timeouts);
        link.SetSecurity(eSecurity);
        link.SetCancelSignal(&cancel);
        std::thread raiser(
            [&cancel]
            {
                std::this_thread::sleep_for(200ms);
                cancel.Raise();
            });
        EXPECT_FALSE(link.Connect());
        raiser.join();
        EXPECT_EQ(link.m_strError, "Cancelled before the message was sent");
        EXPECT_EQ(link.GetCancel(), ESmtpCancel::BeforeEndOfData);
        EXPECT_EQ(server.Finish(), "");
    }
}

// Progress counts what the server has acknowledged: it never goes back and ends at the total; a
// cancel once the server has acknowledged the end of the data says that it may have the message.
TEST_F(SmtpSecureLinkTest, ProgressCountsTheDataAndCancelAfterItsEndSaysSo)
{
    CScriptedSmtpServer server(
        Join({PLAIN_EHLO, STARTTLS, TLS_EHLO, ENVELOPE, {"C: DATA", "S: 354 go ahead", "C: <DATA>"}}),
        ServerOptions());
    CPlainMail mail;
    FillPlain(mail);
    mail.m_strBody.clear();
    for (int i = 0; i < 5000; ++i)
        mail.m_strBody += "line " + std::to_string(i) + " of a body that spans several slices of data\r\n";
    platform::CCancelSignal cancel;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> aReports;
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCancelSignal(&cancel);
    link.SetProgress(
        [&](std::uint64_t nSent, std::uint64_t nTotal)
        {
            aReports.emplace_back(nSent, nTotal);
            if (nSent == nTotal)
                cancel.Raise();
        });
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_FALSE(link.SendMail(mail));
    EXPECT_EQ(link.m_strError, "Cancelled after the message was sent: the server may have accepted it");
    EXPECT_EQ(link.GetCancel(), ESmtpCancel::AfterEndOfData);
    EXPECT_FALSE(link.Disconnect());
    ASSERT_EQ(server.Finish(), "");
    ASSERT_EQ(server.Data().size(), 1u);
    // The data the server took, and its end-of-data line.
    const std::uint64_t nTotal = server.Data()[0].size() + 3;
    ASSERT_GE(aReports.size(), 5u);
    std::uint64_t nLast = 0;
    for (const auto& [nSent, nReportedTotal] : aReports)
    {
        EXPECT_EQ(nReportedTotal, nTotal);
        EXPECT_GE(nSent, nLast);
        nLast = nSent;
    }
    EXPECT_EQ(nLast, nTotal);
}

// The data stops short of the server. A server that takes DATA and then holds, reading nothing,
// lets the kernel take the whole message from the link but acknowledges no more than its small
// receive buffer: the progress stays short of the total, and a cancel then says that nothing was
// sent and resets the connection, so that the end of the data never reaches the server. A server
// that ends the TLS session (closing alert and all) in the middle of the data is said in plain words.
TEST_F(SmtpSecureLinkTest, DataThatStopsShortOfTheServerIsNeverCalledSent)
{
    struct SCase
    {
        ESmtpSecurity m_eSecurity;
        bool m_bHoldAndCancel; // else the server closes after 4000 bytes
        const char* m_pszError;
    };
    const SCase aCases[] = {
        {ESmtpSecurity::None, true, "Cancelled before the message was sent"},
        {ESmtpSecurity::Tls, true, "Cancelled before the message was sent"},
        {ESmtpSecurity::Tls, false, "The SMTP server closed the connection before the fax had gone out"},
    };
    for (const SCase& test : aCases)
    {
        SCOPED_TRACE(std::to_string(static_cast<int>(test.m_eSecurity)) + test.m_pszError);
        const Script opening = test.m_eSecurity == ESmtpSecurity::Tls
                                   ? Join({{"T:", "S: 220 mx.example ESMTP"}, TLS_EHLO})
                                   : Script{"S: 220 mx.example ESMTP", "C: HELO *", "S: 250 mx.example"};
        CScriptedSmtpServer::SOptions options = ServerOptions();
        options.m_nReceiveBuffer = test.m_bHoldAndCancel ? 4096 : 0;
        options.m_durPatience = 5s;
        const Script data = test.m_bHoldAndCancel ? Script{"C: DATA", "S: 354 go ahead", "H:"}
                                                  : Script{"C: DATA", "S: 354 go ahead", "R: 4000", "X:"};
        CScriptedSmtpServer server(Join({opening, ENVELOPE, data}), options);
        CPlainMail mail;
        FillPlain(mail);
        // Held: less than one slice of 64 KiB, so that the first report comes once all of it is
        // handed over. Closed: more than the kernels on both sides can hold.
        mail.m_strBody.clear();
        while (mail.m_strBody.size() < (test.m_bHoldAndCancel ? 27'000u : (8u << 20)))
            mail.m_strBody += "a line of a body that fills the socket buffers of the two ends\r\n";
        platform::CCancelSignal cancel;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> aReports;
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
        link.SetSecurity(test.m_eSecurity);
        link.SetCancelSignal(&cancel);
        link.SetProgress(
            [&](std::uint64_t nSent, std::uint64_t nTotal)
            {
                aReports.emplace_back(nSent, nTotal);
                if (test.m_bHoldAndCancel)
                    cancel.Raise();
            });
        ASSERT_TRUE(link.Connect()) << link.m_strError;
        EXPECT_FALSE(link.SendMail(mail));
        EXPECT_EQ(link.m_strError, test.m_pszError);
        EXPECT_EQ(link.GetCancel(),
                  test.m_bHoldAndCancel ? ESmtpCancel::BeforeEndOfData : ESmtpCancel::NotCancelled);
        EXPECT_TRUE(!test.m_bHoldAndCancel || aReports.size() == 1u) << aReports.size();
        for (const auto& [nSent, nTotal] : aReports)
            EXPECT_LT(nSent, nTotal);
        EXPECT_FALSE(link.Disconnect());
        EXPECT_EQ(server.Finish(), "");
    }
}

} // namespace
