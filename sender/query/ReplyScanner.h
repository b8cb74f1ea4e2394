#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class EReplyVerdict
{
    Undecided,
    Covered,
    NotCovered,
};

// Reads the gateway's reply body as it arrives, in the pieces a line reader with a
// 1023-character buffer yields: one line with its carriage returns dropped, or, of a
// longer line, a piece of at most 1022 characters. Each piece is tested by itself, so a
// keyword split across two pieces is not found. The first piece that holds one of the
// keywords decides, and nothing after it is looked at.
class CReplyScanner
{
public:
    static constexpr std::size_t PIECE_MAX = 1022;

    // Takes the next bytes of the body; returns the verdict once a piece has decided.
    EReplyVerdict Feed(std::string_view bytes);
    // The body has ended (or is read no further): tests the piece still being gathered.
    EReplyVerdict Finish();

    [[nodiscard]] EReplyVerdict Verdict() const { return m_eVerdict; }
    // Bytes of the body taken up to and including the deciding one.
    [[nodiscard]] std::size_t BytesTaken() const { return m_nBytesTaken; }

    // The keyword test of one piece, in its order: "Bingo", then "accessible", then "Sorry".
    [[nodiscard]] static EReplyVerdict TestPiece(std::string_view strPiece);

private:
    void EndPiece();

    std::string m_strPiece;
    EReplyVerdict m_eVerdict = EReplyVerdict::Undecided;
    std::size_t m_nBytesTaken = 0;
};
