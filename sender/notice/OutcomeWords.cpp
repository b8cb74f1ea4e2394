#include "sender/notice/OutcomeWords.h"

#include <array>
#include <cctype>

namespace
{

struct SWordRow
{
    const char* m_pszWord;
    EFaxStatus m_eStatus;
};

// Failures come first: the first row found wins, and several failure phrases hold a success word.
// clang-format off
constexpr std::array<SWordRow, 16> WORDS = {{
    {"not delivered", EFaxStatus::Failed},
    {"not sent",      EFaxStatus::Failed},
    {"undeliverable", EFaxStatus::Failed},
    {"not a fax",     EFaxStatus::Failed},
    {"no answer",     EFaxStatus::Failed},
    {"busy",          EFaxStatus::Failed},
    {"failed",        EFaxStatus::Failed},
    {"failure",       EFaxStatus::Failed},
    {"error",         EFaxStatus::Failed},
    {"unsuccessful",  EFaxStatus::Failed},
    {"delivered",     EFaxStatus::Delivered},
    {"transmitted",   EFaxStatus::Delivered},
    {"successful",    EFaxStatus::Delivered},
    {"success",       EFaxStatus::Delivered},
    {"sent",          EFaxStatus::Delivered},
    {"completed",     EFaxStatus::Delivered},
}};

// RFC 3463 3: the subject and detail of a status code, as the user reads them.
struct SStatusRow
{
    const char* m_pszPrefix; // "5.1.1", or "5.1." for the whole class
    const char* m_pszReason;
};
constexpr std::array<SStatusRow, 8> STATUS_REASONS = {{
    {"5.1.",  "address not deliverable"},
    {"5.2.2", "mailbox full"},
    {"5.2.3", "message too large"},
    {"5.2.",  "mailbox not available"},
    {"5.3.4", "message too large"},
    {"5.4.",  "no route to the gateway"},
    {"5.7.",  "refused by the receiving server"},
    {"5.",    "not deliverable"},
}};
// clang-format on

bool IsWordCharacter(char ch)
{
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_';
}

// Whether strWord occurs in strLower as a whole word (strLower is in lower case).
bool HoldsWord(std::string_view strLower, std::string_view strWord)
{
    for (std::size_t nAt = strLower.find(strWord); nAt != std::string_view::npos;
         nAt = strLower.find(strWord, nAt + 1))
    {
        const bool bStart = nAt == 0 || !IsWordCharacter(strLower[nAt - 1]);
        const std::size_t nEnd = nAt + strWord.size();
        const bool bEnd = nEnd == strLower.size() || !IsWordCharacter(strLower[nEnd]);
        if (bStart && bEnd)
            return true;
    }
    return false;
}

} // namespace

std::optional<SOutcomeWord> FindOutcomeWord(std::string_view strText)
{
    std::string strLower(strText);
    for (char& ch : strLower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const SWordRow& row : WORDS)
        if (HoldsWord(strLower, row.m_pszWord))
            return SOutcomeWord{row.m_eStatus, row.m_eStatus == EFaxStatus::Failed ? row.m_pszWord : ""};
    return std::nullopt;
}

std::string DeliveryStatusReason(std::string_view strStatus)
{
    for (const SStatusRow& row : STATUS_REASONS)
        if (strStatus.rfind(row.m_pszPrefix, 0) == 0)
            return row.m_pszReason;
    return "not deliverable";
}
