#include "sender/query/ReplyScanner.h"

namespace
{

// Case-sensitive substring tests: "bingo" does not count, "inaccessible" does.
constexpr std::string_view kCoveredKeywords[] = {"Bingo", "accessible"};
constexpr std::string_view kNotCoveredKeyword = "Sorry";

} // namespace

EReplyVerdict CReplyScanner::TestPiece(std::string_view strPiece)
{
    for (const std::string_view keyword : kCoveredKeywords)
        if (strPiece.find(keyword) != std::string_view::npos)
            return EReplyVerdict::Covered;
    if (strPiece.find(kNotCoveredKeyword) != std::string_view::npos)
        return EReplyVerdict::NotCovered;
    return EReplyVerdict::Undecided;
}

void CReplyScanner::EndPiece()
{
    m_eVerdict = TestPiece(m_strPiece);
    m_strPiece.clear();
}

EReplyVerdict CReplyScanner::Feed(std::string_view bytes)
{
    for (const char ch : bytes)
    {
        if (m_eVerdict != EReplyVerdict::Undecided)
            break;
        ++m_nBytesTaken;
        if (ch == '\r')
            continue;
        if (ch == '\n')
        {
            EndPiece();
            continue;
        }
        m_strPiece += ch;
        if (m_strPiece.size() == kPieceMax)
            EndPiece();
    }
    return m_eVerdict;
}

EReplyVerdict CReplyScanner::Finish()
{
    if (m_eVerdict == EReplyVerdict::Undecided && !m_strPiece.empty())
        EndPiece();
    return m_eVerdict;
}
