#pragma once

#include "BitWriter.h"
#include "T4Codes.h"

#include <cstddef>
#include <cstdint>

namespace converter
{

enum class EColour : std::uint8_t
{
    White = 0,
    Black = 1,
};

// T.4 one-dimensional (Modified Huffman) coding of a page. Every row is split into
// alternating white and black runs, starting with white (of length 0 when the row
// begins black); each run becomes its code words; each row ends with zero fill up to
// a byte boundary and the two bytes 00 01, an EOL that ends on the boundary. The
// result carries no EOL before the first row and no return-to-control after the last.
class CT4Encoder
{
public:
    // Empties the encoded page; memory is kept for the next page.
    void Reset() { m_bits.Reset(); }

    // Codes nRows rows of nWidth pixels, one byte per pixel, 0 white and anything else black.
    void EncodePage(const std::uint8_t* pPage, int nWidth, int nRows);

    // Appends the code words of one run: make-up code(s), then the terminating code.
    void EmitRun(int nRun, EColour eColour);
    // Appends one code word of nLength bits, right-aligned in nBits.
    void PutCode(std::uint16_t nBits, int nLength) { m_bits.Put(nBits, nLength); }
    // Closes the row: zero fill to the byte boundary, then the EOL.
    void EndRow();

    // The encoded page, first bit of the stream in the most significant bit of each byte.
    const std::uint8_t* Data() const { return m_bits.Data(); }
    std::size_t Count() const { return m_bits.Size(); }

private:
    void EncodeRow(const std::uint8_t* pRow, int nWidth);

    CBitWriter m_bits;
};

} // namespace converter
