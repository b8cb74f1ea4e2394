// Polls a private Dovecot (tests/support/private-dovecot.sh) with a certificate of the test CA:
// each kind of notice finds its fax, unrelated mail changes nothing and no flag changes, the
// mark makes the next poll read only what came since, and sign-in, folder and size faults end
// with their status. Skips, saying why, when Dovecot is not installed.
#include "sender/notice/NoticePoll.h"
#include "tests/support/PrivateDovecot.h"
#include "tests/support/TrustedTestCa.h"

#include <ctime>
#include <gtest/gtest.h>
#include <memory>

namespace
{

using namespace std::chrono_literals;

const char* const USER = "ann@example.org";
const char* const PASSWORD = "pa55 \"w0rd\"";
constexpr auto POLL_LIMIT = 30s;

std::int64_t Now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string MailDate(std::int64_t nTime)
{
    const std::time_t time = static_cast<std::time_t>(nTime);
    std::tm parts = {};
    ::gmtime_r(&time, &parts);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S +0000", &parts);
    return buffer;
}

// A plain notice from the gateway, with the header lines given before the date and subject.
std::string Notice(const std::string& strHeaders, const std::string& strSubject, const std::string& strText)
{
    return "From: Fax Gateway <status@fax.example>\nTo: ann@example.org\n" + strHeaders +
           "Date: " + MailDate(Now() - 60) + "\nSubject: " + strSubject + "\nMessage-ID: <n" +
           std::to_string(std::rand()) + "@fax.example>\n\n" + strText + "\n";
}

// A bounce from the user's own mail server for the fax mail with that Message-ID.
std::string Bounce(const std::string& strFaxId)
{
    return "From: MAILER-DAEMON@mail.example.org\nTo: ann@example.org\nDate: " + MailDate(Now() - 30) +
           "\nSubject: Undelivered Mail Returned to Sender\nMIME-Version: 1.0\n"
           "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\n\n"
           "--B\nContent-Type: text/plain\n\nThis is the mail system at host mail.example.org.\n"
           "I'm sorry to have to inform you that your message could not be delivered.\n"
           "--B\nContent-Type: message/delivery-status\n\nReporting-MTA: dns; mail.example.org\n\n"
           "Final-Recipient: rfc822; remote-printer.Bob@4930999.fax.example\nAction: failed\n"
           "Status: 5.1.1\nDiagnostic-Code: smtp; 550 5.1.1 <remote-printer.Bob@4930999.fax.example>:\n"
           " Recipient address rejected: User unknown\n"
           "--B\nContent-Type: text/rfc822-headers\n\nFrom: ann@example.org\nSubject: Hi! I am: Vellum\n"
           "Message-ID: " +
           strFaxId + "\n\n--B--\n";
}

SAwaitingFax Fax(std::int64_t nId, const std::string& strNumber)
{
    SAwaitingFax fax;
    fax.m_nId = nId;
    fax.m_nSentAt = Now() - 3600;
    fax.m_strMessageId = "<fax" + std::to_string(nId) + ".1234@ann.example.org>";
    fax.m_strFaxNumber = strNumber;
    fax.m_strGatewayAddress = "remote-printer.Bob@" + strNumber + ".fax.example";
    return fax;
}

class NoticeDovecotTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_strSkip = CPrivateDovecot::Missing();
        if (!s_strSkip.empty())
            return;
        s_pCa = std::make_unique<CTrustedTestCa>(VELLUM_TEST_CA_SCRIPT, "notice-dovecot-ca");
        if (s_pCa->Failure().empty())
            s_pServer = std::make_unique<CPrivateDovecot>(s_pCa->Certificate("good"), s_pCa->Key("good"),
                                                          USER, PASSWORD);
    }
    static void TearDownTestSuite()
    {
        s_pServer.reset();
        s_pCa.reset();
    }
    void SetUp() override
    {
        if (!s_strSkip.empty())
            GTEST_SKIP() << s_strSkip;
        ASSERT_EQ(s_pCa->Failure(), "");
        ASSERT_EQ(s_pServer->Failure(), "");
    }

    static SImapAccount Account(const std::string& strFolder, EImapSecurity eSecurity = EImapSecurity::Tls)
    {
        SImapAccount account;
        const int nPort = eSecurity == EImapSecurity::Tls ? s_pServer->TlsPort() : s_pServer->StartTlsPort();
        account.m_strServer = "127.0.0.1:" + std::to_string(nPort);
        account.m_eSecurity = eSecurity;
        account.m_strLogin = USER;
        account.m_strPassword = PASSWORD;
        account.m_strFolder = strFolder;
        return account;
    }

    static std::string s_strSkip;
    static std::unique_ptr<CTrustedTestCa> s_pCa;
    static std::unique_ptr<CPrivateDovecot> s_pServer;
};

std::string NoticeDovecotTest::s_strSkip;
std::unique_ptr<CTrustedTestCa> NoticeDovecotTest::s_pCa;
std::unique_ptr<CPrivateDovecot> NoticeDovecotTest::s_pServer;

TEST_F(NoticeDovecotTest, EachKindOfNoticeFindsItsFaxAndNoFlagChanges)
{
    const std::vector<SAwaitingFax> aFaxes = {Fax(1, "4930111111"), Fax(2, "4930222222"),
                                              Fax(3, "4930999999"), Fax(4, "4940123456"),
                                              Fax(5, "4940654321"), Fax(6, "4940777777")};
    const std::string strFolder = "Kinds";
    s_pServer->Deliver(strFolder, Notice("In-Reply-To: " + aFaxes[0].m_strMessageId + "\n", "Re: your fax",
                                         "Your fax was delivered to 4930111111 (2 pages)."));
    s_pServer->Deliver(strFolder,
                       Notice("References: <other@x.example> " + aFaxes[1].m_strMessageId + "\n",
                              "Fax status", "Transmission result: line busy.\nWe gave up after 3 tries."));
    s_pServer->Deliver(strFolder, Bounce(aFaxes[2].m_strMessageId));
    s_pServer->Deliver(strFolder, Notice("", "Fax to +49 (40) 654321: transmitted", "Pages: 1"));
    // Unrelated: 4940123456 only inside a longer number, 4940777777 in mail older than the fax.
    s_pServer->Deliver(strFolder, Notice("", "Your order was delivered", "Tracking 004940123456789."));
    s_pServer->Deliver(strFolder, "From: x@y.example\nDate: " + MailDate(Now() - 7200) +
                                      "\nSubject: fax 4940777777 failed\n\nold news\n");
    const std::string strFlagsBefore = s_pServer->Flags(strFolder);
    ASSERT_NE(strFlagsBefore, "");

    const SPollResult result = PollNotices(Account(strFolder), aFaxes, {}, POLL_LIMIT);

    ASSERT_EQ(result.m_eStatus, EPollStatus::Ok) << result.m_strDetail;
    std::map<std::int64_t, std::pair<EFaxStatus, std::string>> outcomes;
    for (const SNoticeOutcome& outcome : result.m_aOutcomes)
        outcomes[outcome.m_nFaxId] = {outcome.m_eStatus, outcome.m_strReason};
    const std::map<std::int64_t, std::pair<EFaxStatus, std::string>> expected = {
        {1, {EFaxStatus::Delivered, ""}},
        {2, {EFaxStatus::Failed, "busy"}},
        {3, {EFaxStatus::Failed, "address not deliverable"}},
        {5, {EFaxStatus::Delivered, ""}},
    };
    EXPECT_EQ(outcomes, expected);
    EXPECT_EQ(result.m_aOutcomes.front().m_strFirstLines, "Your fax was delivered to 4930111111 (2 pages).");
    EXPECT_EQ(s_pServer->Flags(strFolder), strFlagsBefore);
    EXPECT_NE(result.m_mark.m_nUidValidity, 0u);
    EXPECT_EQ(result.m_mark.m_nLastUid, 6u);
}

TEST_F(NoticeDovecotTest, TheMarkMakesTheNextPollReadOnlyNewMailOverStartTls)
{
    const std::vector<SAwaitingFax> aFaxes = {Fax(1, "4930111111")};
    const std::string strFolder = "Marked";
    s_pServer->Deliver(strFolder,
                       Notice("In-Reply-To: " + aFaxes[0].m_strMessageId + "\n", "Fax failed", "no answer"));
    const SPollResult first =
        PollNotices(Account(strFolder, EImapSecurity::StartTls), aFaxes, {}, POLL_LIMIT);
    ASSERT_EQ(first.m_eStatus, EPollStatus::Ok) << first.m_strDetail;
    ASSERT_EQ(first.m_aOutcomes.size(), 1u);

    const SPollResult again =
        PollNotices(Account(strFolder, EImapSecurity::StartTls), aFaxes, first.m_mark, POLL_LIMIT);
    ASSERT_EQ(again.m_eStatus, EPollStatus::Ok) << again.m_strDetail;
    EXPECT_TRUE(again.m_aOutcomes.empty());

    s_pServer->Deliver(strFolder,
                       Notice("In-Reply-To: " + aFaxes[0].m_strMessageId + "\n", "Fax delivered", ""));
    const SPollResult later =
        PollNotices(Account(strFolder, EImapSecurity::StartTls), aFaxes, again.m_mark, POLL_LIMIT);
    ASSERT_EQ(later.m_aOutcomes.size(), 1u);
    EXPECT_EQ(later.m_aOutcomes[0].m_eStatus, EFaxStatus::Delivered);
    EXPECT_EQ(later.m_mark.m_nLastUid, 2u);
}

TEST_F(NoticeDovecotTest, FaultsEndWithTheirStatus)
{
    const std::vector<SAwaitingFax> aFaxes = {Fax(1, "4930111111")};
    EXPECT_EQ(PollNotices(Account("No such folder"), aFaxes, {}, POLL_LIMIT).m_eStatus,
              EPollStatus::FolderMissing);

    // Last: Dovecot delays the next sign-in from an address after a refused one.
    SImapAccount wrong = Account("INBOX");
    wrong.m_strPassword = "not the password";
    const SPollResult refused = PollNotices(wrong, aFaxes, {7, 3}, POLL_LIMIT);
    EXPECT_EQ(refused.m_eStatus, EPollStatus::LoginRefused);
    EXPECT_EQ(PollStatusText(refused.m_eStatus, refused.m_strDetail),
              "The mail server refused the login for ann@example.org.");
    EXPECT_EQ(refused.m_mark.m_nUidValidity, 7u);
}

TEST_F(NoticeDovecotTest, ATenMegabyteNoticeIsReadInPart)
{
    const std::vector<SAwaitingFax> aFaxes = {Fax(1, "4930111111")};
    std::string strBig(10 * 1024 * 1024, 'x');
    for (std::size_t i = 100; i < strBig.size(); i += 100)
        strBig[i] = '\n';
    s_pServer->Deliver("Big",
                       Notice("In-Reply-To: " + aFaxes[0].m_strMessageId + "\n", "Fax delivered", strBig));

    const SPollResult result = PollNotices(Account("Big"), aFaxes, {}, POLL_LIMIT);

    ASSERT_EQ(result.m_eStatus, EPollStatus::Ok) << result.m_strDetail;
    ASSERT_EQ(result.m_aOutcomes.size(), 1u);
    EXPECT_LE(result.m_aOutcomes[0].m_strFirstLines.size(), 500u);
}

} // namespace
