#include "sender/app/NoticeCheck.h"

#include "platform/Text.h"
#include "sender/mail/ServerAddress.h"

#include <algorithm>
#include <cctype>

namespace
{

// How many back-offs double the first one before the longest holds (5 min * 2^7 > 6 h).
constexpr int MAX_DOUBLINGS = 7;

std::string LowerCase(std::string strText)
{
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return strText;
}

std::string EffectiveLogin(const SProviderSettings& settings)
{
    return settings.m_incoming.m_strLogin.empty() ? settings.m_strLogin : settings.m_incoming.m_strLogin;
}

ESentStatus StoredStatus(EFaxStatus eStatus)
{
    switch (eStatus)
    {
    case EFaxStatus::Delivered:
        return ESentStatus::Delivered;
    case EFaxStatus::Failed:
        return ESentStatus::Failed;
    default:
        return ESentStatus::Sent;
    }
}

} // namespace

std::chrono::seconds NoticeBackOff(int nFailures)
{
    if (nFailures <= 0)
        return std::chrono::seconds(0);
    const auto durWait = NOTICE_FIRST_BACK_OFF * (1 << std::min(nFailures - 1, MAX_DOUBLINGS));
    return std::min<std::chrono::seconds>(durWait, NOTICE_MAX_BACK_OFF);
}

SMailboxAccount MailboxPasswordAccount(const SProviderSettings& settings, const std::string& strSmtpServer)
{
    SMailboxAccount account{settings.m_incoming.m_strServer, EffectiveLogin(settings), false};
    const auto incoming = ParseServerAddress(settings.m_incoming.m_strServer);
    const auto smtp = ParseServerAddress(strSmtpServer);
    // The ports differ by nature (993 and 587): the host and the login name the account.
    if (incoming && smtp && LowerCase(incoming->m_strHost) == LowerCase(smtp->m_strHost) &&
        account.m_strLogin == settings.m_strLogin && !settings.m_strLogin.empty())
        account = {strSmtpServer, settings.m_strLogin, true};
    return account;
}

std::string NoticePollAccount(const SProviderSettings& settings)
{
    return EffectiveLogin(settings) + "@" + LowerCase(settings.m_incoming.m_strServer) + "/" +
           settings.m_incoming.m_strFolder;
}

std::string FaxStatusText(const SSentFax& fax, bool bWatching, std::int64_t nNow)
{
    switch (fax.m_eStatus)
    {
    case ESentStatus::Delivered:
        return "Delivered";
    case ESentStatus::Failed:
        return fax.m_strStatusReason.empty() ? "Failed" : "Failed (" + fax.m_strStatusReason + ")";
    case ESentStatus::Sent:
        break;
    }
    return bWatching && fax.m_nSentAt >= nNow - NOTICE_WAIT_SECONDS ? "No word yet" : "Sent";
}

std::string NotificationText(std::string_view strText, std::size_t nMaxBytes)
{
    // One line: the breaks and tabs of a notice become blanks before the rest is made printable.
    std::string strLine(strText);
    std::replace_if(
        strLine.begin(), strLine.end(), [](char ch) { return ch == '\n' || ch == '\r' || ch == '\t'; }, ' ');
    strLine = platform::PrintableUtf8(strLine);
    std::string strOut;
    for (const char ch : strLine)
    {
        switch (ch)
        {
        case '&':
            strOut += "&amp;";
            break;
        case '<':
            strOut += "&lt;";
            break;
        case '>':
            strOut += "&gt;";
            break;
        default:
            strOut += ch;
        }
    }
    if (strOut.size() <= nMaxBytes)
        return strOut;
    // Cut before a character that continues UTF-8 or an entity, never inside either.
    std::size_t nCut = nMaxBytes;
    while (nCut > 0 && (static_cast<unsigned char>(strOut[nCut]) & 0xC0) == 0x80)
        --nCut;
    const auto nAmp = strOut.rfind('&', nCut);
    if (nAmp != std::string::npos && strOut.find(';', nAmp) >= nCut)
        nCut = nAmp;
    return strOut.substr(0, nCut) + "...";
}

CNoticeCheck::CNoticeCheck(CSentFaxStore& store, NoticePollFunction fnPoll)
    : m_store(store), m_fnPoll(fnPoll ? std::move(fnPoll) : NoticePollFunction(PollNotices))
{
}

bool CNoticeCheck::IsDue(const SProviderSettings& settings, std::int64_t nNow, bool bOnDemand) const
{
    if ((!bOnDemand && !settings.m_incoming.m_bWatch) || settings.m_incoming.m_strServer.empty() ||
        !m_store.IsOpen() || m_store.IsReadOnly() || m_store.AwaitingWord(nNow).empty())
        return false;
    return bOnDemand || m_store.PollState(NoticePollAccount(settings)).m_nNextTry <= nNow;
}

SNoticeCheckResult CNoticeCheck::RecordFailure(const SProviderSettings& settings,
                                               const std::string& strFailure, std::int64_t nNow)
{
    SNoticePollState state = m_store.PollState(NoticePollAccount(settings));
    state.m_nFailures = std::min(state.m_nFailures + 1, MAX_DOUBLINGS + 1);
    state.m_nNextTry = nNow + NoticeBackOff(state.m_nFailures).count();
    // The same failure again is not news: shown once, until another comes or a poll works.
    if (state.m_strFailure != strFailure)
        state.m_bFailureShown = false;
    state.m_strFailure = strFailure;
    SNoticeCheckResult result;
    result.m_eOutcome = ENoticeCheck::Failed;
    result.m_strFailure = strFailure;
    std::string strError;
    if (!m_store.WritePollState(state, strError))
        result.m_strFailure += " (" + strError + ")";
    return result;
}

SNoticePollJob CNoticeCheck::Prepare(const SProviderSettings& settings, const std::string& strPassword,
                                     std::int64_t nNow) const
{
    SNoticePollJob job;
    for (const SSentFax& fax : m_store.AwaitingWord(nNow))
        job.m_aAwaiting.push_back(
            {fax.m_nId, fax.m_nSentAt, fax.m_strMessageId, fax.m_strFaxNumber, fax.m_strGatewayAddress});
    job.m_account.m_strServer = settings.m_incoming.m_strServer;
    job.m_account.m_eSecurity = settings.m_incoming.m_eSecurity == EIncomingSecurity::StartTls
                                    ? EImapSecurity::StartTls
                                    : EImapSecurity::Tls;
    job.m_account.m_strLogin = EffectiveLogin(settings);
    job.m_account.m_strPassword = strPassword;
    job.m_account.m_strFolder = settings.m_incoming.m_strFolder;
    const SNoticePollState state = m_store.PollState(NoticePollAccount(settings));
    job.m_mark = {state.m_nUidValidity, state.m_nLastUid};
    return job;
}

SPollResult CNoticeCheck::Poll(SNoticePollJob& job, const platform::CCancelSignal* pCancel) const
{
    SPollResult poll = m_fnPoll(job.m_account, job.m_aAwaiting, job.m_mark, NOTICE_POLL_TIMEOUT, pCancel);
    platform::WipeSecret(job.m_account.m_strPassword);
    return poll;
}

SNoticeCheckResult CNoticeCheck::Apply(const SProviderSettings& settings, const SPollResult& poll,
                                       std::int64_t nNow)
{
    SNoticeCheckResult result;
    if (poll.m_eStatus == EPollStatus::Cancelled)
        return result; // the user stopped it: nothing learnt, nothing to hold against the server
    if (poll.m_eStatus != EPollStatus::Ok)
        return RecordFailure(settings, PollStatusText(poll.m_eStatus, poll.m_strDetail), nNow);

    // Word only for the faxes that await it, each once: the first outcome for a fax counts.
    const std::vector<SSentFax> aFaxes = m_store.AwaitingWord(nNow);
    std::vector<SFaxWord> aWords;
    for (const SNoticeOutcome& outcome : poll.m_aOutcomes)
    {
        const bool bAwaited = std::any_of(aFaxes.begin(), aFaxes.end(),
                                          [&](const SSentFax& fax) { return fax.m_nId == outcome.m_nFaxId; });
        const bool bTaken =
            std::any_of(aWords.begin(), aWords.end(),
                        [&](const SFaxWord& word) { return word.m_nFaxId == outcome.m_nFaxId; });
        if (bAwaited && !bTaken && outcome.m_eStatus != EFaxStatus::Sent)
            aWords.push_back({outcome.m_nFaxId, StoredStatus(outcome.m_eStatus), outcome.m_strReason,
                              outcome.m_nNoticeDate, outcome.m_strSubject, outcome.m_strFirstLines});
    }
    SNoticePollState state = m_store.PollState(NoticePollAccount(settings));
    state.m_nUidValidity = poll.m_mark.m_nUidValidity;
    state.m_nLastUid = poll.m_mark.m_nLastUid;
    state.m_nFailures = 0;
    state.m_nNextTry = nNow;
    state.m_strFailure.clear();
    state.m_bFailureShown = false;
    std::string strError;
    if (!m_store.ApplyNoticeWord(aWords, state, strError))
    {
        result.m_eOutcome = ENoticeCheck::Failed;
        result.m_strFailure = "The word of the status notices could not be recorded: " + strError + ".";
        return result;
    }
    result.m_eOutcome = ENoticeCheck::Polled;
    for (const SFaxWord& word : aWords)
        if (const auto fax = m_store.Find(word.m_nFaxId); fax && fax->m_eStatus != ESentStatus::Sent)
            result.m_aNewWord.push_back(*fax);
    return result;
}

SNoticeCheckResult CNoticeCheck::Run(const SProviderSettings& settings, const std::string& strPassword,
                                     std::int64_t nNow, const platform::CCancelSignal* pCancel)
{
    SNoticePollJob job = Prepare(settings, strPassword, nNow);
    const SPollResult poll = Poll(job, pCancel);
    return Apply(settings, poll, nNow);
}
