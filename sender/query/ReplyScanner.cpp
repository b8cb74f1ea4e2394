#include "sender/query/ReplyScanner.h"

namespace
{

// Case-sensitive substring tests: "bingo" does not count, "inaccessible" does.
constexpr std::string_view COVERED_KEYWORDS[] = {"Bingo", "accessible"};
constexpr std::string_view NOT_COVERED_KEYWORD = "Sorry";

} // namespace

EReplyVerdict CReplyScanner::TestPiece(std::string_view strPiece)
{
    for (const std::string_view keyword : COVERED_KEYWORDS)
        if (strPiece.find(keyword) != std::string_view::npos)
            return EReplyVerdict::Covered;
    if (strPiece.find(NOT_COVERED_KEYWORD) != std::string_view::npos)
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
        if (m_strPiece.size() == PIECE_MAX)
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
