// libFuzzer target: a notice's header and text (parted at the first NUL) read, then matched to a
// few faxes. Every text that comes out must be printable UTF-8 within its bound, else it aborts.

#include "sender/notice/NoticeMatcher.h"
#include "sender/notice/NoticeParser.h"

#include <cstdint>
#include <cstdlib>
#include <set>

namespace
{

constexpr std::size_t SUBJECT_BYTES = 200;
constexpr std::size_t FIRST_LINES_BYTES = 500;
constexpr std::size_t TEXT_BYTES = 8 * 1024;
constexpr std::size_t FIELD_BYTES = 300;
constexpr std::size_t MAX_REFERENCES = 64;
constexpr std::int64_t ARRIVAL = 1796860800; // 9 Dec 2026

// Valid UTF-8 (RFC 3629: no overlong forms, no surrogates) without C0 or C1 controls or DEL.
bool IsPrintableUtf8(std::string_view strText)
{
    std::size_t i = 0;
    while (i < strText.size())
    {
        const auto nLead = static_cast<unsigned char>(strText[i]);
        std::size_t nLength = 1;
        char32_t nCode = nLead;
        if (nLead >= 0x80)
        {
            // The sequence's length and the bits of its lead byte.
            nLength = nLead >= 0xF0 ? 4 : nLead >= 0xE0 ? 3 : 2;
            if (nLead < 0xC2 || nLead > 0xF4)
                return false;
            nCode = nLead & (0x7F >> nLength);
            if (i + nLength > strText.size())
                return false;
            for (std::size_t k = 1; k < nLength; ++k)
            {
                const auto nNext = static_cast<unsigned char>(strText[i + k]);
                if ((nNext & 0xC0) != 0x80)
                    return false;
                nCode = (nCode << 6) | (nNext & 0x3F);
            }
            if ((nLength == 3 && nCode < 0x800) || (nLength == 4 && nCode < 0x10000) ||
                (nCode >= 0xD800 && nCode <= 0xDFFF) || nCode > 0x10FFFF)
                return false;
        }
        if (nCode < 0x20 || (nCode >= 0x7F && nCode <= 0x9F))
            return false;
        i += nLength;
    }
    return true;
}

// A line for the screen: printable, bounded, blanks single and none at its start (the cut to
// the bound may leave one at its end).
bool IsLine(std::string_view strText, std::size_t nMaxBytes)
{
    return strText.size() <= nMaxBytes && IsPrintableUtf8(strText) &&
           strText.find("  ") == std::string::npos && (strText.empty() || strText.front() != ' ');
}

void Require(bool bHolds)
{
    if (!bHolds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    const std::size_t nNul = strInput.find('\0');
    const std::string_view strHeader = strInput.substr(0, nNul);
    const std::string_view strText =
        nNul == std::string_view::npos ? std::string_view() : strInput.substr(nNul + 1);

    SNotice notice = ParseNotice(strHeader, strText, ARRIVAL);
    Require(IsLine(notice.m_strSubject, SUBJECT_BYTES));
    Require(IsLine(notice.m_strFirstLines, FIRST_LINES_BYTES));
    Require(IsLine(notice.m_strText, TEXT_BYTES));
    Require(IsLine(notice.m_report.m_strAction, FIELD_BYTES));
    Require(IsLine(notice.m_report.m_strStatus, FIELD_BYTES));
    Require(IsLine(notice.m_report.m_strDiagnostic, FIELD_BYTES));
    Require(notice.m_aReferences.size() <= MAX_REFERENCES);
    // A Message-ID is only compared, never shown: bounded by what came. A byte outside UTF-8 may
    // come out of GMime as a two-byte character, and a C1 control as two replacement characters.
    for (const std::string& strId : notice.m_aReferences)
        Require(IsPrintableUtf8(strId) && strId.size() <= 6 * nSize);
    for (const std::string& strId : notice.m_report.m_aReturnedIds)
        Require(IsPrintableUtf8(strId) && strId.size() <= 6 * nSize);

    // Two faxes a notice may name, and one that shares a number with the first.
    const std::vector<SAwaitingFax> aAwaiting = {
        {1, ARRIVAL - 3600, "<fax-1@vellum.example>", "493012345678", "fax@gateway.example"},
        {2, ARRIVAL - 600, "<fax-2@vellum.example>", "4940654321", "fax@gateway.example"},
        {3, ARRIVAL + 3600, "<fax-3@vellum.example>", "493012345678", "fax@gateway.example"},
    };
    // The same notice twice: a fax still gets one outcome at most.
    notice.m_nUid = 7;
    SNotice again = notice;
    again.m_nUid = 8;
    const std::vector<SNoticeOutcome> aOutcomes = MatchNotices({notice, again}, aAwaiting);
    std::set<std::int64_t> faxes;
    for (const SNoticeOutcome& outcome : aOutcomes)
    {
        Require(faxes.insert(outcome.m_nFaxId).second && outcome.m_nFaxId >= 1 && outcome.m_nFaxId <= 3);
        Require(outcome.m_eStatus != EFaxStatus::Failed || !outcome.m_strReason.empty());
        Require(IsLine(outcome.m_strReason, FIELD_BYTES));
        Require(IsLine(outcome.m_strSubject, SUBJECT_BYTES));
        Require(IsLine(outcome.m_strFirstLines, FIRST_LINES_BYTES));
        Require(outcome.m_nNoticeDate == notice.m_nDate);
    }
    return 0;
}
