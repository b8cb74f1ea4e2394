#include "sender/app/NoticeCheck.h"

#include "platform/BinaryFile.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{

constexpr std::int64_t NOW = 1'800'000'000;

TEST(NoticeCheck, BackOffDoublesFromFiveMinutesToSixHours)
{
    const std::pair<int, std::chrono::seconds> aCases[] = {{0, 0s},     {1, 5min}, {2, 10min}, {3, 20min},
                                                           {7, 320min}, {8, 6h},   {40, 6h}};
    for (const auto& [nFailures, durWait] : aCases)
        EXPECT_EQ(NoticeBackOff(nFailures), durWait) << nFailures;
}

TEST(NoticeCheck, PasswordIsSharedOnlyForTheSameHostAndLogin)
{
    struct SCase
    {
        const char* m_pszServer;
        const char* m_pszLogin;
        bool m_bShared;
    };
    // clang-format off
    const SCase aCases[] = {
        {"MAIL.example.org:993", "",          true},  // the port differs by nature; the login is the SMTP one
        {"mail.example.org",     "ann",       true},
        {"imap.example.org",     "",          false},
        {"mail.example.org",     "ann.lee",   false},
    };
    // clang-format on
    for (const SCase& test : aCases)
    {
        SProviderSettings settings;
        settings.m_strLogin = "ann";
        settings.m_incoming.m_strServer = test.m_pszServer;
        settings.m_incoming.m_strLogin = test.m_pszLogin;
        const SMailboxAccount account = MailboxPasswordAccount(settings, "mail.example.org:587");
        EXPECT_EQ(account.m_bSharedWithSmtp, test.m_bShared) << test.m_pszServer << " " << test.m_pszLogin;
        EXPECT_EQ(account.m_strServer, test.m_bShared ? "mail.example.org:587" : test.m_pszServer);
    }
}

TEST(NoticeCheck, NotificationTextIsOnePrintableLineWithoutMarkup)
{
    struct SCase
    {
        std::string m_strIn;
        std::size_t m_nMax;
        std::string m_strOut;
    };
    const SCase aCases[] = {
        {"Fax <b>sent</b> & done", 100, "Fax &lt;b&gt;sent&lt;/b&gt; &amp; done"},
        {"line one\r\nline\ttwo", 100, "line one  line two"},
        {"bell\x07 esc\x1b[2J", 100, "bell\xEF\xBF\xBD esc\xEF\xBF\xBD[2J"},
        {"12345678&amp", 10, "12345678..."},         // never cut inside an entity
        {"123456789\xC3\xA9yz", 10, "123456789..."}, // nor inside a character
    };
    for (const SCase& test : aCases)
        EXPECT_EQ(NotificationText(test.m_strIn, test.m_nMax), test.m_strOut) << test.m_strIn;
}

TEST(NoticeCheck, StatusWordsFollowTheRecordAndTheWatch)
{
    SSentFax fax;
    fax.m_nSentAt = NOW - 60;
    EXPECT_EQ(FaxStatusText(fax, true, NOW), "No word yet");
    EXPECT_EQ(FaxStatusText(fax, false, NOW), "Sent");
    EXPECT_EQ(FaxStatusText(fax, true, NOW + NOTICE_WAIT_SECONDS), "Sent");
    fax.m_eStatus = ESentStatus::Failed;
    fax.m_strStatusReason = "no answer";
    EXPECT_EQ(FaxStatusText(fax, true, NOW), "Failed (no answer)");
    fax.m_eStatus = ESentStatus::Delivered;
    EXPECT_EQ(FaxStatusText(fax, false, NOW), "Delivered");
}

// A record with two faxes awaiting word, and a poll that answers as the test says and notes
// what it was asked.
class NoticeCheckRecord : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill1.tif", "II*"));
        m_pStore = std::make_unique<CSentFaxStore>(m_dir / "sent");
        for (const char* pszNumber : {"4930111", "4930222"})
        {
            SSentFax fax;
            fax.m_nSentAt = NOW - 3600;
            fax.m_strRecipient = "Acme";
            fax.m_strFaxNumber = pszNumber;
            fax.m_strMessageId = std::string("<") + pszNumber + "@example.org>";
            std::string strError;
            ASSERT_TRUE(m_pStore->Add(fax, {m_dir / "quill1.tif"}, {}, strError)) << strError;
            m_aIds.push_back(fax.m_nId);
        }
        m_settings.m_strLogin = "ann";
        m_settings.m_incoming = {"imap.example.org", EIncomingSecurity::StartTls, "", "INBOX", true};
    }

    FnNoticePoll Poll()
    {
        return [this](const SImapAccount& account, const std::vector<SAwaitingFax>& aAwaiting,
                      const SPollMark& mark, std::chrono::milliseconds, const platform::CCancelSignal*)
        {
            m_strAskedLogin = account.m_strLogin + ":" + account.m_strPassword;
            m_nAskedFaxes = aAwaiting.size();
            m_askedMark = mark;
            return m_answer;
        };
    }

    std::unique_ptr<CSentFaxStore> m_pStore;
    std::vector<std::int64_t> m_aIds;
    SProviderSettings m_settings;
    SPollResult m_answer;
    std::string m_strAskedLogin;
    std::size_t m_nAskedFaxes = 0;
    SPollMark m_askedMark;
};

TEST_F(NoticeCheckRecord, WordIsStoredAndFailuresBackOffAndAreShownOnce)
{
    CNoticeCheck check(*m_pStore, Poll());
    ASSERT_TRUE(check.IsDue(m_settings, NOW, false));
    m_answer.m_aOutcomes = {{m_aIds[1], EFaxStatus::Failed, "busy", NOW - 10, "Fax failed", "Line busy"},
                            {m_aIds[1], EFaxStatus::Delivered, "", NOW, "Later", ""},
                            {m_aIds[1] + 100, EFaxStatus::Delivered, "", NOW, "Not ours", ""}};
    m_answer.m_mark = {9, 120};
    SNoticeCheckResult result = check.Run(m_settings, "secret", NOW);
    EXPECT_EQ(result.m_eOutcome, ENoticeCheck::Polled);
    EXPECT_EQ(m_strAskedLogin, "ann:secret") << "an empty incoming login is the SMTP login";
    EXPECT_EQ(m_nAskedFaxes, 2u);
    ASSERT_EQ(result.m_aNewWord.size(), 1u);
    EXPECT_EQ(result.m_aNewWord[0].m_strStatusReason, "busy") << "the first word for a fax counts";
    EXPECT_EQ(m_pStore->AwaitingWord(NOW).size(), 1u);

    // A failure keeps the mark, backs off and is news once; a second one waits twice as long.
    m_answer = {EPollStatus::LoginRefused, "ann", {}, {}};
    result = check.Run(m_settings, "wrong", NOW);
    EXPECT_EQ(result.m_eOutcome, ENoticeCheck::Failed);
    EXPECT_EQ(result.m_strFailure, PollStatusText(EPollStatus::LoginRefused, "ann"));
    EXPECT_EQ(m_askedMark.m_nLastUid, 120u);
    EXPECT_FALSE(check.IsDue(m_settings, NOW + 299, false));
    EXPECT_TRUE(check.IsDue(m_settings, NOW + 299, true)) << "Check now does not wait";
    ASSERT_TRUE(check.IsDue(m_settings, NOW + 300, false));
    SNoticePollState state = m_pStore->PollState(NoticePollAccount(m_settings));
    state.m_bFailureShown = true;
    std::string strError;
    ASSERT_TRUE(m_pStore->WritePollState(state, strError)) << strError;
    (void)check.Run(m_settings, "wrong", NOW + 300);
    state = m_pStore->PollState(NoticePollAccount(m_settings));
    EXPECT_EQ(state.m_nNextTry, NOW + 300 + 600);
    EXPECT_TRUE(state.m_bFailureShown) << "the same failure again is not shown again";
    (void)check.RecordFailure(m_settings, NO_MAILBOX_PASSWORD_TEXT, NOW + 900);
    EXPECT_FALSE(m_pStore->PollState(NoticePollAccount(m_settings)).m_bFailureShown);

    // A poll the user cancelled is held against nobody.
    m_answer = {EPollStatus::Cancelled, "", {}, {}};
    EXPECT_EQ(check.Run(m_settings, "x", NOW + 5000).m_eOutcome, ENoticeCheck::NotDue);
    EXPECT_EQ(m_pStore->PollState(NoticePollAccount(m_settings)).m_nFailures, 3);

    // Watching off: the watcher's poll is never due.
    m_settings.m_incoming.m_bWatch = false;
    EXPECT_FALSE(check.IsDue(m_settings, NOW + 100'000, false));
}

} // namespace

int main(int argc, char** argv)
{
    // Qt loads the SQLite driver as a plugin, which needs an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
