#include "sender/notice/NoticePoll.h"

#include "sender/notice/ImapLink.h"
#include "sender/notice/ImapText.h"
#include "sender/notice/NoticeMatcher.h"
#include "sender/notice/NoticeParser.h"

#include <algorithm>

namespace
{

// A notice's header and the start of its text: enough for the words, the number and, in a
// delivery status notification, the report and the returned mail's header, which come first.
constexpr std::size_t HEADER_BYTES = 16 * 1024;
constexpr std::size_t TEXT_BYTES = 16 * 1024;
// The most mails one poll reads; the mark makes the next poll go on from where it stopped.
constexpr std::size_t MAX_NOTICES_PER_POLL = 500;
// SEARCH SINCE compares days in the server's time zone: a day earlier covers every zone.
constexpr std::int64_t SEARCH_MARGIN_SECONDS = 24 * 3600;

} // namespace

SPollResult PollNotices(const SImapAccount& account, const std::vector<SAwaitingFax>& aAwaiting,
                        const SPollMark& mark, std::chrono::milliseconds timeout,
                        const platform::CCancelSignal* pCancel)
{
    SPollResult result;
    result.m_mark = mark;
    if (aAwaiting.empty())
        return result;

    CImapLink link(CImapLink::Clock::now() + timeout, pCancel);
    const auto fail = [&](EPollStatus eStatus)
    {
        result.m_eStatus = eStatus;
        result.m_strDetail = link.Detail();
        result.m_mark = mark;
        return result;
    };
    SImapFolderState state;
    EPollStatus eStatus = link.Connect(account.m_strServer, account.m_eSecurity);
    if (eStatus == EPollStatus::Ok)
        eStatus = link.Login(account.m_strLogin, account.m_strPassword);
    if (eStatus == EPollStatus::Ok)
        eStatus = link.Examine(account.m_strFolder, state);
    if (eStatus != EPollStatus::Ok)
        return fail(eStatus);

    const bool bMarkHolds = mark.m_nUidValidity != 0 && mark.m_nUidValidity == state.m_nUidValidity;
    const std::uint32_t nLastUid = bMarkHolds ? mark.m_nLastUid : 0;
    std::int64_t nOldest = aAwaiting.front().m_nSentAt;
    for (const SAwaitingFax& fax : aAwaiting)
        nOldest = std::min(nOldest, fax.m_nSentAt);
    std::string strCriteria = "SINCE " + SearchDate(nOldest - SEARCH_MARGIN_SECONDS);
    if (nLastUid != 0)
        strCriteria = "UID " + std::to_string(nLastUid + 1ull) + ":* " + strCriteria;

    std::vector<std::uint32_t> aUids;
    eStatus = link.UidSearch(strCriteria, aUids);
    if (eStatus != EPollStatus::Ok)
        return fail(eStatus);
    // "n:*" takes in the last message even when its UID is below n (RFC 3501 6.4.8).
    aUids.erase(
        std::remove_if(aUids.begin(), aUids.end(), [&](std::uint32_t nUid) { return nUid <= nLastUid; }),
        aUids.end());
    const bool bCut = aUids.size() > MAX_NOTICES_PER_POLL;
    if (bCut)
        aUids.resize(MAX_NOTICES_PER_POLL);

    std::vector<SNotice> aNotices;
    eStatus = link.UidFetch(aUids, HEADER_BYTES, TEXT_BYTES,
                            [&](SFetchedMessage&& message)
                            {
                                SNotice notice =
                                    ParseNotice(message.m_strHeader, message.m_strText, message.m_nArrival);
                                notice.m_nUid = message.m_nUid;
                                aNotices.push_back(std::move(notice));
                            });
    if (eStatus != EPollStatus::Ok)
        return fail(eStatus);
    link.Logout();

    result.m_aOutcomes = MatchNotices(aNotices, aAwaiting);
    std::uint32_t nNewMark = std::max(nLastUid, aUids.empty() ? 0u : aUids.back());
    // Without a cut, everything below UIDNEXT has been seen or lies before the oldest fax.
    if (!bCut && state.m_nUidNext > 0)
        nNewMark = std::max(nNewMark, state.m_nUidNext - 1);
    result.m_mark = {state.m_nUidValidity, nNewMark};
    return result;
}

std::string PollStatusText(EPollStatus eStatus, const std::string& strDetail)
{
    const std::string strMore = strDetail.empty() ? "." : ": " + strDetail + ".";
    switch (eStatus)
    {
    case EPollStatus::Ok:
        return "Checked the mailbox for fax notices.";
    case EPollStatus::CannotConnect:
        return "Cannot reach the incoming mail server" + strMore;
    case EPollStatus::NotSecure:
        return "Cannot make a secure connection to the incoming mail server" + strMore;
    case EPollStatus::LoginRefused:
        return strDetail.empty() ? "The mail server refused the login."
                                 : "The mail server refused the login for " + strDetail + ".";
    case EPollStatus::FolderMissing:
        return strDetail.empty() ? "The mail server has no such folder."
                                 : "The mail server has no folder \"" + strDetail + "\".";
    case EPollStatus::ServerError:
        return "The incoming mail server answered in a way that cannot be read" + strMore;
    case EPollStatus::TimedOut:
        return "The incoming mail server did not answer in time" + strMore;
    case EPollStatus::Cancelled:
        return "The check for fax notices was cancelled.";
    }
    return "The check for fax notices failed" + strMore;
}
