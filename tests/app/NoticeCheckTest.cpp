#include "sender/app/NoticeCheck.h"

#include "platform/BinaryFile.h"
#include "sender/app/NoticeCommand.h"
#include "sender/keyring/MailPasswordKeyring.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/PrivateDovecot.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TrustedTestCa.h"

#include <QCoreApplication>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace
{

constexpr std::int64_t NOW = 1'800'000'000;

TEST(NoticeCheck, BackOffDoublesFromFiveMinutesToSixHours)
{
    const std::pair<int, std::chrono::seconds> aCases[] = {{0, 0s}, {1, 5min}, {3, 20min}, {8, 6h}, {40, 6h}};
    for (const auto& [nFailures, durWait] : aCases)
        EXPECT_EQ(NoticeBackOff(nFailures), durWait) << nFailures;
}

// The port differs by nature (993, 587); an empty incoming login is the SMTP one.
TEST(NoticeCheck, PasswordIsSharedOnlyForTheSameHostAndLogin)
{
    const std::tuple<const char*, const char*, bool> aCases[] = {{"MAIL.example.org:993", "", true},
                                                                 {"imap.example.org", "", false},
                                                                 {"mail.example.org", "ann.lee", false}};
    for (const auto& [pszServer, pszLogin, bShared] : aCases)
    {
        SProviderSettings settings;
        settings.m_strLogin = "ann";
        settings.m_incoming.m_strServer = pszServer;
        settings.m_incoming.m_strLogin = pszLogin;
        const SMailboxAccount account = MailboxPasswordAccount(settings, "mail.example.org:587");
        EXPECT_EQ(account.m_strServer, bShared ? "mail.example.org:587" : pszServer) << pszLogin;
    }
}

TEST(NoticeCheck, NotificationTextIsOnePrintableLineWithoutMarkup)
{
    const std::tuple<std::string, std::size_t, std::string> aCases[] = {
        {"Fax <b>sent</b> & done", 100, "Fax &lt;b&gt;sent&lt;/b&gt; &amp; done"},
        {"one\r\ntwo\tbell\x07", 100, "one  two bell\xEF\xBF\xBD"},
        {"12345678&amp", 10, "12345678..."},         // never cut inside an entity
        {"123456789\xC3\xA9yz", 10, "123456789..."}, // nor inside a character
    };
    for (const auto& [strIn, nMax, strOut] : aCases)
        EXPECT_EQ(NotificationText(strIn, nMax), strOut) << strIn;
}

TEST(NoticeCheck, NoWordYetOnlyWhileWatchingAndForThreeDays)
{
    SSentFax fax;
    fax.m_nSentAt = NOW;
    EXPECT_EQ(FaxStatusText(fax, true, NOW + NOTICE_WAIT_SECONDS), "No word yet");
    EXPECT_EQ(FaxStatusText(fax, true, NOW + NOTICE_WAIT_SECONDS + 1), "Sent");
    EXPECT_EQ(FaxStatusText(fax, false, NOW), "Sent");
}

using NoticeCheckRecord = CTempFolderTest;

// Over a real record with two faxes awaiting word, and a stand-in poll that answers as told.
TEST_F(NoticeCheckRecord, WordIsStoredAndFailuresBackOffAndAreShownOnce)
{
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill1.tif", "II*"));
    CSentFaxStore store(m_dir / "sent");
    std::vector<std::int64_t> aIds;
    for (int n = 0; n < 2; ++n)
    {
        SSentFax fax;
        fax.m_nSentAt = NOW - 3600;
        std::string strError;
        ASSERT_TRUE(store.Add(fax, {m_dir / "quill1.tif"}, {}, strError)) << strError;
        aIds.push_back(fax.m_nId);
    }
    SProviderSettings settings;
    settings.m_strLogin = "ann";
    settings.m_incoming = {"imap.example.org", EIncomingSecurity::StartTls, "", "INBOX", true};
    SPollResult answer;
    answer.m_aOutcomes = {{aIds[1], EFaxStatus::Failed, "busy", NOW - 10, "Fax failed", "Line busy"},
                          {aIds[1], EFaxStatus::Delivered, "", NOW, "Later", ""},
                          {aIds[1] + 100, EFaxStatus::Delivered, "", NOW, "Not ours", ""}};
    answer.m_mark = {9, 120};
    std::string strAsked;
    CNoticeCheck check(store,
                       [&](const SImapAccount& account, const std::vector<SAwaitingFax>& aAwaiting,
                           const SPollMark& mark, std::chrono::milliseconds, const platform::CCancelSignal*)
                       {
                           strAsked = account.m_strLogin + ":" + account.m_strPassword + ":" +
                                      std::to_string(aAwaiting.size()) + ":" +
                                      std::to_string(mark.m_nLastUid);
                           return answer;
                       });
    ASSERT_TRUE(check.IsDue(settings, NOW, false));
    SNoticeCheckResult result = check.Run(settings, "secret", NOW);
    EXPECT_EQ(strAsked, "ann:secret:2:0");
    ASSERT_EQ(result.m_aNewWord.size(), 1u);
    EXPECT_EQ(result.m_aNewWord[0].m_strStatusReason, "busy") << "the first word for a fax counts";

    // A failure keeps the mark and backs off; the same failure again waits twice as long and is
    // no news, another is.
    answer = {EPollStatus::LoginRefused, "ann", {}, {}};
    EXPECT_EQ(check.Run(settings, "wrong", NOW).m_strFailure,
              PollStatusText(EPollStatus::LoginRefused, "ann"));
    EXPECT_EQ(strAsked, "ann:wrong:1:120");
    EXPECT_FALSE(check.IsDue(settings, NOW + 299, false));
    EXPECT_TRUE(check.IsDue(settings, NOW + 299, true)) << "Check now does not wait";
    SNoticePollState state = store.PollState(NoticePollAccount(settings));
    state.m_bFailureShown = true;
    std::string strError;
    ASSERT_TRUE(store.WritePollState(state, strError)) << strError;
    (void)check.Run(settings, "wrong", NOW + 300);
    EXPECT_EQ(store.PollState(NoticePollAccount(settings)).m_nNextTry, NOW + 300 + 600);
    EXPECT_TRUE(store.PollState(NoticePollAccount(settings)).m_bFailureShown);
    (void)check.RecordFailure(settings, NO_MAILBOX_PASSWORD_TEXT, NOW + 900);
    EXPECT_FALSE(store.PollState(NoticePollAccount(settings)).m_bFailureShown);

    // A poll the user cancelled is held against nobody; with watching off the watcher never polls.
    answer = {EPollStatus::Cancelled, "", {}, {}};
    EXPECT_EQ(check.Run(settings, "x", NOW + 5000).m_eOutcome, ENoticeCheck::NotDue);
    EXPECT_EQ(store.PollState(NoticePollAccount(settings)).m_nFailures, 3);
    settings.m_incoming.m_bWatch = false;
    EXPECT_FALSE(check.IsDue(settings, NOW + 100'000, false));
}

// Sendwell --check-notices on the whole road: the password from a private keyring (only under
// tests/support/private-keyring.sh, never the user's own), the real poll of a private Dovecot with
// a certificate of the test CA, and the word in the record.
TEST_F(NoticeCheckRecord, CommandTakesWordFromTheMailboxToTheRecordAndChangesNoFlag)
{
    if (std::getenv("VELLUM_TEST_KEYRING_HOME") == nullptr)
        GTEST_SKIP() << "needs a private keyring: run under tests/support/private-keyring.sh";
    if (const std::string strMissing = CPrivateDovecot::Missing(); !strMissing.empty())
        GTEST_SKIP() << strMissing;
    const char* const USER = "ann@example.org";
    const char* const PASSWORD = "imap pa55";
    const CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "notice-command-ca");
    ASSERT_EQ(ca.Failure(), "");
    CPrivateDovecot server(ca.Certificate("good"), ca.Key("good"), USER, PASSWORD);
    ASSERT_EQ(server.Failure(), "");

    ASSERT_EQ(::setenv("VELLUM_ROOT", m_dir.c_str(), 1), 0);
    std::string strError;
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill1.tif", "II*"));
    const std::int64_t nNow = static_cast<std::int64_t>(std::time(nullptr));
    CSentFaxStore store;
    for (const char* pszNumber : {"4930111111", "4930222222", "4930333333"})
    {
        SSentFax fax;
        fax.m_nSentAt = nNow - 3600;
        fax.m_strFaxNumber = pszNumber;
        fax.m_strMessageId = std::string("<") + pszNumber + ".1@ann.example.org>";
        ASSERT_TRUE(store.Add(fax, {m_dir / "quill1.tif"}, {}, strError)) << strError;
    }
    SProviderSettings settings;
    settings.m_strLogin = USER;
    settings.m_incoming = {"127.0.0.1:" + std::to_string(server.TlsPort()), EIncomingSecurity::Tls, "",
                           "INBOX", true};
    ASSERT_TRUE(WriteSettings("smtp.example.org:587", USER, "Ann", strError)) << strError;
    ASSERT_TRUE(WriteProviderSettings(settings, strError)) << strError;
    ASSERT_EQ(CMailPasswordKeyring().Write(settings.m_incoming.m_strServer, USER, PASSWORD).m_eStatus,
              EKeyringStatus::Ok);
    for (const char* pszNotice :
         {"In-Reply-To: <4930111111.1@ann.example.org>\nSubject: Re: your fax\n\nDelivered.",
          "References: <4930222222.1@ann.example.org>\nSubject: Fax status\n\nLine busy.",
          "Subject: Your order was delivered\n\nTracking 12345."})
        server.Deliver("INBOX",
                       std::string("From: status@fax.example\nTo: ann@example.org\n") + pszNotice + "\n");
    const std::string strFlags = server.Flags("INBOX");

    ASSERT_EQ(CheckNoticesCommand({}, nNow), 0);
    ASSERT_TRUE(store.Open(strError)) << strError;
    std::vector<std::string> aWords;
    for (const SSentFax& fax : store.List())
        aWords.push_back(FaxStatusText(fax, false, nNow) + " " + fax.m_strNoticeSubject);
    EXPECT_EQ(aWords,
              (std::vector<std::string>{"Sent ", "Failed (busy) Fax status", "Delivered Re: your fax"}));
    EXPECT_EQ(store.PollState(NoticePollAccount(settings)).m_nLastUid, 3u);
    EXPECT_EQ(server.Flags("INBOX"), strFlags) << "the poll changed no flag";
}

} // namespace

int main(int argc, char** argv)
{
    // Qt's SQLite driver and the keyring's calls need an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
