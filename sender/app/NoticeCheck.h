#pragma once

#include "sender/notice/NoticePoll.h"
#include "sender/record/SentFaxStore.h"
#include "sender/store/ProviderSettings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One look into the user's mailbox for the gateway's status notices, and what becomes of it in
// the record: the faxes that await word are handed to the poll, the word it finds is stored,
// and a failure backs the next try off (5, 10, 20 ... minutes, at most 6 hours) and is kept to
// be shown once in the sent faxes window. No keyring, no window and no D-Bus here: the password
// comes in from the caller and the faxes with new word go out to it.

// The notice poll (sender/notice/NoticePoll.h): PollNotices, or a test's stand-in.
using NoticePollFunction = std::function<SPollResult(
    const SImapAccount& account, const std::vector<SAwaitingFax>& aAwaiting, const SPollMark& mark,
    std::chrono::milliseconds durTimeout, const platform::CCancelSignal* pCancel)>;

// How long the whole poll may take.
inline constexpr std::chrono::milliseconds NOTICE_POLL_TIMEOUT{60'000};
inline constexpr std::chrono::minutes NOTICE_FIRST_BACK_OFF{5};
inline constexpr std::chrono::hours NOTICE_MAX_BACK_OFF{6};
// What is recorded when the keyring holds no password for the mailbox.
inline constexpr const char* NO_MAILBOX_PASSWORD_TEXT =
    "No password for the incoming mail server is stored: type it in Config, or use Check now in the "
    "sent faxes window.";

// What is recorded when neither the incoming mail nor the SMTP server has a login.
inline constexpr const char* NO_MAILBOX_LOGIN_TEXT =
    "No login for the incoming mail server is set: type it in Config.";

// The wait before the next try after nFailures failures in a row (0: none).
std::chrono::seconds NoticeBackOff(int nFailures);

// The account whose keyring entry holds the mailbox's password. When the incoming server's host
// and its login are those of the SMTP server (the usual one account at one provider), the
// password is shared: the SMTP entry (smtpServer as typed, the SMTP login) is used, so the user
// types it once. Otherwise the incoming server as typed and its login.
struct SMailboxAccount
{
    std::string m_strServer;
    std::string m_strLogin;
    bool m_bSharedWithSmtp = false;
};
SMailboxAccount MailboxPasswordAccount(const SProviderSettings& settings, const std::string& strSmtpServer);

// The key of the poll state in the record: "login@server/folder".
std::string NoticePollAccount(const SProviderSettings& settings);

// A fax's word in the sent faxes window's status column: "Delivered", "Failed (busy)", "No word
// yet" (sent in the last NOTICE_WAIT_SECONDS, watching on) or "Sent".
std::string FaxStatusText(const SSentFax& fax, bool bWatching, std::int64_t nNow);

// A text from a notice made fit for a desktop notification: printable UTF-8 on one line, at
// most nMaxBytes (then "..."), with the characters that a notification server may read as
// markup written as entities.
std::string NotificationText(std::string_view strText, std::size_t nMaxBytes);

enum class ENoticeCheck
{
    NotDue, // watching off, nothing awaits word, or the next try has not come
    Polled, // the poll worked (m_aNewWord may be empty)
    Failed, // recorded; m_strFailure says why
};

struct SNoticeCheckResult
{
    ENoticeCheck m_eOutcome = ENoticeCheck::NotDue;
    // The faxes that have word since this check, as they are stored now.
    std::vector<SSentFax> m_aNewWord;
    std::string m_strFailure;
};

// One poll's question, made from the record before the poll and answered without it: the
// record's database connection belongs to its thread, the poll may run on another.
struct SNoticePollJob
{
    SImapAccount m_account;
    std::vector<SAwaitingFax> m_aAwaiting;
    SPollMark m_mark;
};

class CNoticeCheck
{
public:
    // fnPoll empty: PollNotices.
    CNoticeCheck(CSentFaxStore& store, NoticePollFunction fnPoll = {});

    // Whether a poll is due at nNow: watching on, a server set, a fax awaiting word, and the
    // back-off passed (bOnDemand, the user's Check now, ignores the back-off and the watch).
    [[nodiscard]] bool IsDue(const SProviderSettings& settings, std::int64_t nNow, bool bOnDemand) const;

    // Polls with strPassword and records the outcome, all on this thread: Prepare, Poll, Apply.
    // Call only when IsDue.
    SNoticeCheckResult Run(const SProviderSettings& settings, const std::string& strPassword,
                           std::int64_t nNow, const platform::CCancelSignal* pCancel = nullptr);

    // The steps of Run, for a caller that polls on a worker thread. Poll touches no record; the
    // job's password is wiped when Poll returns.
    SNoticePollJob Prepare(const SProviderSettings& settings, const std::string& strPassword,
                           std::int64_t nNow) const;
    SPollResult Poll(SNoticePollJob& job, const platform::CCancelSignal* pCancel) const;
    SNoticeCheckResult Apply(const SProviderSettings& settings, const SPollResult& poll, std::int64_t nNow);

    // Records a failure found before polling (no password): backs off like a failed poll.
    SNoticeCheckResult RecordFailure(const SProviderSettings& settings, const std::string& strFailure,
                                     std::int64_t nNow);

private:
    CSentFaxStore& m_store;
    NoticePollFunction m_fnPoll;
};
