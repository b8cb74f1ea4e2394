#include "sender/notice/NoticeMatcher.h"

#include "sender/notice/OutcomeWords.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

namespace
{

// A notice dated this much before the send still counts: the gateway's clock and this
// computer's may differ a little.
constexpr std::int64_t CLOCK_SKEW_SECONDS = 10 * 60;
// Shorter numbers occur by chance in any text (dates, amounts, page counts).
constexpr std::size_t MIN_NUMBER_DIGITS = 6;

bool IsDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

bool IsNumberSeparator(char ch)
{
    return ch == ' ' || ch == '-' || ch == '.' || ch == '/' || ch == '(' || ch == ')';
}

// Joins the digits of one number ("030-1234-567"), where a blank or a parenthesis may also part two.
bool IsJoiner(char ch)
{
    return ch == '-' || ch == '.' || ch == '/';
}

std::string_view WithoutBrackets(std::string_view strId)
{
    if (strId.size() >= 2 && strId.front() == '<' && strId.back() == '>')
        strId = strId.substr(1, strId.size() - 2);
    return strId;
}

bool NamesAny(const std::vector<std::string>& aIds, const SAwaitingFax& fax)
{
    const std::string_view strId = WithoutBrackets(fax.m_strMessageId);
    return !strId.empty() && std::find(aIds.begin(), aIds.end(), strId) != aIds.end();
}

// -1: the notice names no fax; -2: it fits several; else the fax's index.
constexpr long NO_FAX = -1;
constexpr long SEVERAL = -2;

long FindFax(const SNotice& notice, const std::vector<SAwaitingFax>& aAwaiting)
{
    const auto pick = [&](auto fnFits) -> std::optional<long>
    {
        const long nCount = std::count_if(aAwaiting.begin(), aAwaiting.end(), fnFits);
        if (nCount == 0)
            return std::nullopt;
        if (nCount > 1)
            return SEVERAL;
        return static_cast<long>(std::find_if(aAwaiting.begin(), aAwaiting.end(), fnFits) -
                                 aAwaiting.begin());
    };
    if (auto found =
            pick([&](const SAwaitingFax& fax) { return NamesAny(notice.m_report.m_aReturnedIds, fax); }))
        return *found;
    if (auto found = pick([&](const SAwaitingFax& fax) { return NamesAny(notice.m_aReferences, fax); }))
        return *found;
    if (auto found = pick(
            [&](const SAwaitingFax& fax)
            {
                return fax.m_strFaxNumber.size() >= MIN_NUMBER_DIGITS &&
                       notice.m_nDate + CLOCK_SKEW_SECONDS >= fax.m_nSentAt &&
                       (HoldsFaxNumber(notice.m_strSubject, fax.m_strFaxNumber) ||
                        HoldsFaxNumber(notice.m_strText, fax.m_strFaxNumber));
            }))
        return *found;
    return NO_FAX;
}

// What the notice says, or none.
std::optional<SOutcomeWord> Verdict(const SNotice& notice)
{
    if (notice.m_bDeliveryReport)
    {
        // A report that the mail was delivered or relayed speaks of the gateway's mail server,
        // not of the fax; one that is delayed says nothing yet.
        if (notice.m_report.m_strAction == "failed" || notice.m_report.m_strStatus.rfind("5.", 0) == 0)
            return SOutcomeWord{EFaxStatus::Failed, DeliveryStatusReason(notice.m_report.m_strStatus)};
        return std::nullopt;
    }
    if (auto word = FindOutcomeWord(notice.m_strSubject))
        return word;
    return FindOutcomeWord(notice.m_strText);
}

} // namespace

bool HoldsFaxNumber(std::string_view strText, std::string_view strDigits)
{
    if (strDigits.empty())
        return false;
    for (std::size_t nStart = 0; nStart < strText.size(); ++nStart)
    {
        if (!IsDigit(strText[nStart]) || (nStart > 0 && IsDigit(strText[nStart - 1])) ||
            (nStart > 1 && IsJoiner(strText[nStart - 1]) && IsDigit(strText[nStart - 2])))
            continue;
        std::size_t j = nStart;
        std::size_t k = 0;
        while (k < strDigits.size() && j < strText.size())
        {
            if (strText[j] == strDigits[k])
            {
                ++j;
                ++k;
            }
            else if (k > 0 && IsNumberSeparator(strText[j]))
            {
                // At most two in a row: "+49 (40) 654321".
                const std::size_t nDigit =
                    j + (j + 1 < strText.size() && IsNumberSeparator(strText[j + 1]) ? 2 : 1);
                if (nDigit >= strText.size() || !IsDigit(strText[nDigit]))
                    break;
                j = nDigit;
            }
            else
                break;
        }
        const bool bLonger = j < strText.size() &&
                             (IsDigit(strText[j]) ||
                              (IsJoiner(strText[j]) && j + 1 < strText.size() && IsDigit(strText[j + 1])));
        if (k == strDigits.size() && !bLonger)
            return true;
    }
    return false;
}

std::vector<SNoticeOutcome> MatchNotices(const std::vector<SNotice>& aNotices,
                                         const std::vector<SAwaitingFax>& aAwaiting)
{
    struct SChosen
    {
        const SNotice* m_pNotice;
        SOutcomeWord m_word;
    };
    std::map<std::size_t, SChosen> chosen;
    for (const SNotice& notice : aNotices)
    {
        const long nFax = FindFax(notice, aAwaiting);
        if (nFax < 0)
            continue;
        auto verdict = Verdict(notice);
        if (!verdict)
            continue;
        const auto it = chosen.find(static_cast<std::size_t>(nFax));
        if (it != chosen.end() &&
            std::make_pair(it->second.m_pNotice->m_nDate, it->second.m_pNotice->m_nUid) >
                std::make_pair(notice.m_nDate, notice.m_nUid))
            continue;
        chosen[static_cast<std::size_t>(nFax)] = SChosen{&notice, std::move(*verdict)};
    }
    std::vector<SNoticeOutcome> aOutcomes;
    for (const auto& [nFax, choice] : chosen)
    {
        SNoticeOutcome outcome;
        outcome.m_nFaxId = aAwaiting[nFax].m_nId;
        outcome.m_eStatus = choice.m_word.m_eStatus;
        outcome.m_strReason = choice.m_word.m_strReason;
        outcome.m_nNoticeDate = choice.m_pNotice->m_nDate;
        outcome.m_strSubject = choice.m_pNotice->m_strSubject;
        outcome.m_strFirstLines = choice.m_pNotice->m_strFirstLines;
        aOutcomes.push_back(std::move(outcome));
    }
    return aOutcomes;
}
