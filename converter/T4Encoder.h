#pragma once

#include "converter/BitWriter.h"
#include "converter/T4Codes.h"

#include <array>
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

    // Codes a page buffer: nRows rows of nWidth pixels, packed as PackRow() packs them,
    // WordsPerRow(nWidth) words a row.
    void EncodePage(const std::uint64_t* pPage, int nWidth, int nRows);
    // Appends rows to the page begun by Reset(), so that a page can be coded in bands.
    void EncodeRows(const std::uint64_t* pRows, int nWidth, int nRows);

    // Appends the code words of one run: make-up code(s), then the terminating code.
    void EmitRun(int nRun, EColour eColour)
    {
        const auto& codes = eColour == EColour::White ? WHITE_CODES : BLACK_CODES;
        if (nRun >= 64)
            EmitMakeUp(nRun, codes);
        const SCodeWord& code = codes[TerminatingIndex(nRun)];
        PutCode(code.m_nBits, code.m_nLength);
    }
    // Appends one code word of nLength bits, right-aligned in nBits.
    void PutCode(std::uint16_t nBits, int nLength) { m_bits.Put(nBits, nLength); }
    // Closes the row: zero fill to the byte boundary, then the EOL.
    void EndRow();

    // The encoded page, first bit of the stream in the most significant bit of each byte.
    const std::uint8_t* Data() const { return m_bits.Data(); }
    std::size_t Count() const { return m_bits.Size(); }

private:
    void EncodeRow(const std::uint64_t* pRow, int nWidth);
    // Emits the make-up code(s) of a run of 64 or more and leaves the rest below 64 in nRun.
    void EmitMakeUp(int& nRun, const std::array<SCodeWord, CODES_PER_COLOUR>& codes);

    CBitWriter m_bits;
    // Most rows of a page are blank, and a blank row of a given width always has the same
    // whole bytes of code: they are kept from the first one coded and copied after that.
    static constexpr std::size_t MAX_WHITE_ROW_BYTES = 16;
    int m_nWhiteRowWidth = 0;
    std::size_t m_nWhiteRowBytes = 0;
    std::array<std::uint8_t, MAX_WHITE_ROW_BYTES> m_aWhiteRow{};
};

} // namespace converter
