#include "sender/mail/SmtpLink.h"

#include "sender/mail/ContentAgent.h"
#include "sender/mail/MimeMail.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/UnusedPort.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using namespace std::chrono_literals;
using Script = std::vector<std::string>;

const char* const FROM = "me@example.com";
const char* const GATEWAY_RECIPIENT = "remote-printer.Bob@4930123.fax.example";

// Limits short enough that a test never waits long, long enough for a loaded machine.
SSmtpTimeouts TestTimeouts(std::chrono::milliseconds reply = 10s)
{
    SSmtpTimeouts timeouts;
    timeouts.m_durConnect = 10s;
    timeouts.m_durGreeting = timeouts.m_durCommand = timeouts.m_durDataStart = timeouts.m_durDataEnd = reply;
    timeouts.m_durSend = 10s;
    return timeouts;
}

void FillPlain(CPlainMail& mail)
{
    mail.m_strFrom = FROM;
    mail.AddRecipient(GATEWAY_RECIPIENT, "");
    mail.m_strSubject = "Hi! I am: test";
    mail.m_strBody = "Hello\r\n";
    mail.SetTimeSource([] { return std::time_t{1'800'000'000}; });
    mail.SetMessageIdSource([](const CPlainMail&) { return std::string("<1@example.com>"); });
}

Script Join(std::initializer_list<Script> pieces)
{
    Script script;
    for (const Script& piece : pieces)
        script.insert(script.end(), piece.begin(), piece.end());
    return script;
}

const Script OPEN = {"S: 220 mx.example ESMTP", "C: HELO *", "S: 250 mx.example"};
const Script ENVELOPE = {"C: MAIL From: <me@example.com>", "S: 250 ok",
                         "C: RCPT TO: <remote-printer.Bob@4930123.fax.example>", "S: 250 ok"};
const Script DATA_STEP = {"C: DATA", "S: 354 go ahead", "C: <DATA>", "S: 250 queued"};
const Script QUIT_STEP = {"C: QUIT", "S: 221 bye"};

struct SDialogueRow
{
    const char* m_pszName;
    Script m_script;
    bool m_bConnect;
    bool m_bSend;
    bool m_bDisconnect;
    const char* m_pszError;
};

void PrintTo(const SDialogueRow& row, std::ostream* pOut)
{
    *pOut << row.m_pszName;
}

class SmtpDialogueTest : public ::testing::TestWithParam<SDialogueRow>
{
};

// One connection, one message, one QUIT, as a send does; the server checks every line.
TEST_P(SmtpDialogueTest, FollowsTheTranscript)
{
    const SDialogueRow& row = GetParam();
    CScriptedSmtpServer server(row.m_script);
    CPlainMail mail;
    FillPlain(mail);
    {
        CSmtpLink link("", 25, TestTimeouts());
        link.SetServer("127.0.0.1", server.Port());
        EXPECT_EQ(link.Connect(), row.m_bConnect);
        if (row.m_bConnect)
        {
            EXPECT_EQ(link.SendMail(mail), row.m_bSend);
        }
        EXPECT_EQ(link.Disconnect(), row.m_bDisconnect);
        EXPECT_EQ(link.m_strError, row.m_pszError);
        EXPECT_EQ(link.GetStage(), ESmtpStage::Idle);
    }
    EXPECT_EQ(server.Finish(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpDialogueTest,
    ::testing::Values(
        SDialogueRow{"Accepted", Join({OPEN, ENVELOPE, DATA_STEP, QUIT_STEP}), true, true, true, "OK"},
        SDialogueRow{
            "GreetingRefused", {"S: 554 no service here"}, false, false, true, "Server didn't respond."},
        SDialogueRow{
            "GreetingOnSeveralLines",
            Join({{"S: 220-mx.example ESMTP\r\n220-no spam\r\n220 welcome", "C: HELO *", "S: 250 hi"},
                  ENVELOPE,
                  DATA_STEP,
                  QUIT_STEP}),
            true, true, true, "OK"},
        SDialogueRow{
            "GreetingWithoutCode", {"S: ready when you are"}, false, false, true, "Server didn't respond."},
        SDialogueRow{"HeloRefused",
                     {"S: 220 mx", "C: HELO *", "S: 501 bad name"},
                     false,
                     false,
                     true,
                     "501:SMTP server error"},
        SDialogueRow{"HeloAnsweredOnSeveralLines",
                     Join({{"S: 220 mx", "C: HELO *", "S: 250-mx.example\r\n250-SIZE 1000000\r\n250 HELP"},
                           ENVELOPE,
                           DATA_STEP,
                           QUIT_STEP}),
                     true, true, true, "OK"},
        SDialogueRow{"GreetingAndHeloReplyInOnePiece",
                     Join({{"S: 220 mx\r\n250 hello", "C: HELO *"}, ENVELOPE, DATA_STEP, QUIT_STEP}), true,
                     true, true, "OK"},
        SDialogueRow{"SenderRefusedThenQuit",
                     Join({OPEN, {"C: MAIL From: <me@example.com>", "S: 550 not you"}, QUIT_STEP}), true,
                     false, true, "550:SMTP server error"},
        SDialogueRow{"OnlyRecipientRefused550EndsBeforeData",
                     Join({OPEN,
                           {"C: MAIL From: <me@example.com>", "S: 250 ok",
                            "C: RCPT TO: <remote-printer.Bob@4930123.fax.example>", "S: 550 no such user"},
                           QUIT_STEP}),
                     true, false, true, "550:SMTP server error"},
        SDialogueRow{"RecipientForwarded251CountsAsRefused",
                     Join({OPEN,
                           {"C: MAIL From: <me@example.com>", "S: 250 ok",
                            "C: RCPT TO: <remote-printer.Bob@4930123.fax.example>", "S: 251 will forward"},
                           DATA_STEP,
                           QUIT_STEP}),
                     true, true, true, "251:SMTP server error"},
        SDialogueRow{"DataRefusedThenQuit",
                     Join({OPEN, ENVELOPE, {"C: DATA", "S: 554 no valid recipients"}, QUIT_STEP}), true,
                     false, true, "554:SMTP server not ready for data"},
        SDialogueRow{
            "MessageRefusedAfterDataThenQuit",
            Join({OPEN, ENVELOPE, {"C: DATA", "S: 354 go", "C: <DATA>", "S: 552 too big"}, QUIT_STEP}), true,
            false, true, "552:SMTP server error"},
        SDialogueRow{"ReplyWithoutCodeCountsAsCodeZero",
                     Join({OPEN, {"C: MAIL From: <me@example.com>", "S: okay"}, QUIT_STEP}), true, false,
                     true, "0:SMTP server error"},
        SDialogueRow{"QuitAnsweredWithout221",
                     Join({OPEN, ENVELOPE, DATA_STEP, {"C: QUIT", "S: 250 whatever"}}), true, true, false,
                     "250:SMTP server didn't terminate session"},
        SDialogueRow{
            "ClosedInsteadOfHeloReply", {"S: 220 mx", "C: HELO *", "X:"}, false, false, true, "Socket Error"},
        // The server went away: there is no one to say QUIT to, and nothing is said.
        SDialogueRow{"ClosedInsteadOfMailReply", Join({OPEN, {"C: MAIL From: <me@example.com>", "X:"}}), true,
                     false, false, "Socket Error"},
        SDialogueRow{"ClosedInsteadOfQuitReply", Join({OPEN, ENVELOPE, DATA_STEP, {"C: QUIT", "X:"}}), true,
                     true, false, "Socket Error"}),
    [](const ::testing::TestParamInfo<SDialogueRow>& info) { return std::string(info.param.m_pszName); });

// For a check before sending, a plain connection asks with EHLO what the server takes (the
// check's own test shows the limit learnt); a server that does not know EHLO gets HELO after all.
TEST(SmtpLinkTest, PlainEhloFallsBackToHelo)
{
    CScriptedSmtpServer server(
        {"S: 220 mx", "C: EHLO *", "S: 500 what?", "C: HELO *", "S: 250 mx", "C: QUIT", "S: 221 bye"});
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    link.SetPlainEhlo(true);
    EXPECT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");
}

TEST(SmtpLinkTest, ReplySplitAtEveryByteIsReadWhole)
{
    CScriptedSmtpServer::SOptions options;
    options.m_durDrip = 2ms;
    CScriptedSmtpServer server(
        Join({{"D: 220-mx.example\r\n220 ready", "C: HELO *", "D: 250 hi"}, ENVELOPE, DATA_STEP, QUIT_STEP}),
        options);
    CPlainMail mail;
    FillPlain(mail);
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    EXPECT_TRUE(link.Connect());
    EXPECT_TRUE(link.SendMail(mail));
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(link.m_strError, "OK");
    EXPECT_EQ(server.Finish(), "");
}

TEST(SmtpLinkTest, SilentServerTimesOutAtEveryStage)
{
    struct SStage
    {
        Script m_script;
        bool m_bConnects;
        const char* m_pszError;
        ESmtpSecurity m_eSecurity = ESmtpSecurity::None;
    };
    const SStage stages[] = {
        {{}, false, "Server didn't respond."},
        // A server that expects TLS at once says nothing to STARTTLS: the client is told to choose TLS.
        {{},
         false,
         "The SMTP server sent no greeting: a server that expects TLS from the first byte (port 465 as a "
         "rule) "
         "waits for the handshake instead, so choose the security TLS for it",
         ESmtpSecurity::StartTls},
        {{"S: 220 mx", "C: HELO *"}, false, "Socket Error"},
        {Join({OPEN, {"C: MAIL From: <me@example.com>"}}), true, "Socket Error"},
        {Join({OPEN, ENVELOPE, {"C: DATA"}}), true, "Socket Error"},
        // No reply to the end of data: the client must not say QUIT into what may still be data.
        {Join({OPEN, ENVELOPE, {"C: DATA", "S: 354 go", "C: <DATA>"}}), true, "Socket Error"},
    };
    for (const SStage& stage : stages)
    {
        SCOPED_TRACE(stage.m_script.empty() ? "greeting" : stage.m_script.back());
        CScriptedSmtpServer server(stage.m_script);
        CPlainMail mail;
        FillPlain(mail);
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts(300ms));
        link.SetSecurity(stage.m_eSecurity);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.Connect(), stage.m_bConnects);
        if (stage.m_bConnects)
        {
            EXPECT_FALSE(link.SendMail(mail));
        }
        EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
        EXPECT_EQ(link.m_strError, stage.m_pszError);
        EXPECT_EQ(link.Disconnect(), !stage.m_bConnects);
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(SmtpLinkTest, DrippedReplyCannotStretchTheReplyDeadline)
{
    CScriptedSmtpServer::SOptions options;
    options.m_durDrip = 100ms;
    // Forty bytes at 100 ms each would take four seconds; the greeting may take half of one.
    CScriptedSmtpServer server({"D: 220 a greeting that takes its time to arrive"}, options);
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts(500ms));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.Connect());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 500ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(link.m_strError, "Server didn't respond.");
    EXPECT_EQ(server.Finish(), "");
}

// Many 54-byte lines of noise make a body far larger than the socket buffers.
std::filesystem::path WriteNoiseFile(std::size_t nBytes)
{
    const auto path =
        std::filesystem::temp_directory_path() / ("smtp-noise-" + std::to_string(::getpid()) + ".tif");
    std::mt19937 random(7);
    std::string strData(nBytes, '\0');
    for (char& ch : strData)
        ch = static_cast<char>(random());
    std::ofstream(path, std::ios::binary) << strData;
    return path;
}

TEST(SmtpLinkTest, ConnectionClosedInTheMiddleOfDataFailsWithoutSigpipe)
{
    const auto path = WriteNoiseFile(8 << 20);
    CScriptedSmtpServer server(Join({OPEN, ENVELOPE, {"C: DATA", "S: 354 go", "R: 4000", "X:"}}));
    CMimeMail mail;
    FillPlain(mail);
    mail.m_strBody.clear();
    mail.AddPart(path.c_str(), AGENT_TIFF_ATTACHMENT, "");
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    ASSERT_TRUE(link.Connect());
    // A SIGPIPE would end this test program here.
    EXPECT_FALSE(link.SendMail(mail));
    EXPECT_EQ(link.m_strError, "Socket Error");
    EXPECT_EQ(link.GetStage(), ESmtpStage::Broken);
    EXPECT_FALSE(link.Disconnect());
    EXPECT_EQ(link.GetStage(), ESmtpStage::Idle);
    EXPECT_EQ(server.Finish(), "");
    std::filesystem::remove(path);
}

TEST(SmtpLinkTest, UnsafeFieldsAreRefusedBeforeAnythingOfTheMessageIsSent)
{
    struct SCase
    {
        std::function<void(CPlainMail&)> m_fnSpoil;
        const char* m_pszError;
    };
    const SCase cases[] = {
        {[](CPlainMail& m) { m.m_strFrom = "me@example.com>\r\nRCPT TO: <victim@example.com"; },
         "Invalid sender address"},
        {[](CPlainMail& m) { m.m_strFrom = "me @example.com"; }, "Invalid sender address"},
        {[](CPlainMail& m) { m.AddRecipient("a@b>\r\nDATA", ""); }, "Invalid recipient address"},
        {[](CPlainMail& m) { m.AddRecipient("a<b@example.com", ""); }, "Invalid recipient address"},
        {[](CPlainMail& m) { m.AddRecipient(" a@example.com", ""); }, "Invalid recipient address"},
        {[](CPlainMail& m) { m.AddRecipient("a@example.com", "Eve\r\nBcc: x@example.com\r\n"); },
         "Invalid recipient name"},
        {[](CPlainMail& m) { m.m_strSubject = "Hi\nX-Spam: no"; }, "Invalid subject"},
        {[](CPlainMail& m) { m.m_strSubject = std::string("Hi\0there", 8); }, "Invalid subject"},
    };
    for (const SCase& test : cases)
    {
        CScriptedSmtpServer server(Join({OPEN, QUIT_STEP}));
        CPlainMail mail;
        FillPlain(mail);
        test.m_fnSpoil(mail);
        CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
        ASSERT_TRUE(link.Connect());
        EXPECT_FALSE(link.SendMail(mail));
        EXPECT_EQ(link.m_strError, test.m_pszError);
        EXPECT_EQ(mail.GetHeader(), "") << "the message was built";
        EXPECT_TRUE(link.Disconnect());
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(SmtpLinkTest, WholeReplyToTheEndOfDataIsKeptOnlyWhenTheServerTookTheMessage)
{
    CScriptedSmtpServer server(Join({OPEN,
                                     ENVELOPE,
                                     {"C: DATA", "S: 354 go ahead", "C: <DATA>",
                                      "S: 250-2.0.0 Ok: queued as 4Xk9Q2\r\n250 2.0.0 \x01thanks"},
                                     ENVELOPE,
                                     {"C: DATA", "S: 354 go ahead", "C: <DATA>", "S: 554 5.7.1 refused"},
                                     QUIT_STEP}));
    CPlainMail mail;
    FillPlain(mail);
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(link.GetDataReply(), "");
    ASSERT_TRUE(link.SendMail(mail));
    EXPECT_EQ(link.GetDataReply(), "250-2.0.0 Ok: queued as 4Xk9Q2\n250 2.0.0 ?thanks");
    const std::uint64_t nDataBytes = link.GetDataBytes();

    EXPECT_FALSE(link.SendMail(mail));
    EXPECT_EQ(link.GetDataReply(), "");
    EXPECT_EQ(link.GetDataBytes(), 0u);
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");
    // The message's size: its data up to the end-of-data line, as the server took it.
    ASSERT_EQ(server.Data().size(), 2u);
    EXPECT_EQ(nDataBytes, server.Data()[0].size());
}

TEST(SmtpLinkTest, MessageWithoutRecipientsIsRefusedUnbuilt)
{
    CScriptedSmtpServer server(Join({OPEN, QUIT_STEP}));
    CPlainMail mail;
    mail.m_strFrom = FROM;
    mail.m_strBody = "x";
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    ASSERT_TRUE(link.Connect());
    EXPECT_FALSE(link.SendMail(mail));
    EXPECT_EQ(link.m_strError, "No Recipients");
    EXPECT_EQ(mail.m_strBody, "x");
    EXPECT_EQ(mail.GetHeader(), "");
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");
}

TEST(SmtpLinkTest, IdleAndConnectedLinksAnswerWithoutTraffic)
{
    CScriptedSmtpServer server(Join({OPEN, QUIT_STEP}));
    CPlainMail mail;
    FillPlain(mail);
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    EXPECT_TRUE(link.Disconnect());
    EXPECT_FALSE(link.SendMail(mail));
    EXPECT_EQ(link.m_strError, "Must be connected");
    EXPECT_TRUE(link.Connect());
    EXPECT_TRUE(link.Connect()); // a second greeting would break the transcript
    EXPECT_TRUE(link.Disconnect());
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");
}

TEST(SmtpLinkTest, ServerTextMayCarryThePort)
{
    CScriptedSmtpServer server(Join({OPEN, QUIT_STEP}));
    CSmtpLink link("", 25, TestTimeouts());
    link.SetServer(("localhost:" + std::to_string(server.Port())).c_str(), 25);
    EXPECT_EQ(link.GetPort(), 25);
    EXPECT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_TRUE(link.Disconnect());
    EXPECT_EQ(server.Finish(), "");

    link.SetServer(nullptr, 1);
    EXPECT_EQ(link.GetServer(), "localhost:" + std::to_string(server.Port()));
}

TEST(SmtpLinkTest, UnreachableOrMalformedServerFailsToConnect)
{
    for (const std::string& strServer : {"127.0.0.1:" + std::to_string(UnusedPort()), std::string("[::1"),
                                         std::string("host:0"), std::string()})
    {
        CSmtpLink link(strServer.c_str(), 25, TestTimeouts());
        EXPECT_FALSE(link.Connect()) << strServer;
        EXPECT_EQ(link.m_strError, "Unable to connect to server") << strServer;
        EXPECT_TRUE(link.Disconnect());
    }
}

TEST(SmtpLinkTest, NoDescriptorLeftForASocketFailsToCreateIt)
{
    CSmtpLink link("127.0.0.1", UnusedPort(), TestTimeouts());
    // A first try with descriptors to spare, which finds nobody listening: it also lets clang's
    // UBSan check the objects' dynamic types, for which it opens a pipe.
    EXPECT_FALSE(link.Connect());
    rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const bool bConnected = link.Connect();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(bConnected);
    EXPECT_EQ(link.m_strError, "Unable to create the socket.");
}

TEST(SmtpLinkTest, EveryLineBeginningWithADotIsSentWithAnotherDot)
{
    CScriptedSmtpServer server(Join({OPEN, ENVELOPE, DATA_STEP, QUIT_STEP}));
    CPlainMail mail;
    FillPlain(mail);
    mail.m_strBody = ".\r\nline\r\n.hidden\r\n..two\r\nbare\nlf\n.after lf\r\n.";
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    ASSERT_TRUE(link.Connect());
    ASSERT_TRUE(link.SendMail(mail));
    EXPECT_TRUE(link.Disconnect());
    ASSERT_EQ(server.Finish(), "");
    ASSERT_EQ(server.Data().size(), 1u);
    EXPECT_EQ(server.Data()[0],
              mail.GetHeader() +
                  "..\r\nline\r\n..hidden\r\n...two\r\nbare\r\nlf\r\n..after lf\r\n..\r\n\r\n");
}

TEST(SmtpLinkTest, FirstLineOfADotIsDoubledAndOtherLinesStay)
{
    CPlainMail mail;
    CSmtpLink link("", 25);
    mail.m_strBody = "";
    EXPECT_EQ(link.StuffDots(mail), "");
    mail.m_strBody = "a.b\r\n x.\r\n";
    EXPECT_EQ(link.StuffDots(mail), "a.b\r\n x.\r\n");
    mail.m_strBody = "\r\r\n.";
    EXPECT_EQ(link.StuffDots(mail), "\r\n\r\n..");
}

// RFC 5321 4.1.1.1: a fully qualified domain name (a dotted plain name) or the address
// literal of the local end; a bare host name such as "vm" is neither.
TEST(SmtpLinkTest, HeloNamesAQualifiedDomainOrTheLocalAddress)
{
    CScriptedSmtpServer server(Join({OPEN, QUIT_STEP}));
    CSmtpLink link("127.0.0.1", server.Port(), TestTimeouts());
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_TRUE(link.Disconnect());
    ASSERT_EQ(server.Finish(), "");
    const std::string strName = server.ClientLines().at(0).substr(5);
    if (strName.front() == '[')
        EXPECT_EQ(strName, "[127.0.0.1]");
    else
        EXPECT_NE(strName.find('.'), std::string::npos) << strName;
}

} // namespace
