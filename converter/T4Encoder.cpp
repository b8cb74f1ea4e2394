#include "T4Encoder.h"

#include <bit>
#include <cstring>

namespace converter
{

namespace
{

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

std::uint64_t Load64(const std::uint8_t* p)
{
    std::uint64_t nWord;
    std::memcpy(&nWord, p, sizeof nWord);
    if constexpr (std::endian::native == std::endian::big)
        nWord = __builtin_bswap64(nWord);
    return nWord;
}

// First column at or after nPos that is not white (nonzero), or nWidth.
int EndOfWhiteRun(const std::uint8_t* pRow, int nPos, int nWidth)
{
    for (; nPos + 8 <= nWidth; nPos += 8)
    {
        const std::uint64_t nWord = Load64(pRow + nPos);
        if (nWord != 0)
            return nPos + std::countr_zero(nWord) / 8;
    }
    while (nPos < nWidth && pRow[nPos] == 0)
        ++nPos;
    return nPos;
}

// First column at or after nPos that is white (zero), or nWidth.
int EndOfBlackRun(const std::uint8_t* pRow, int nPos, int nWidth)
{
    for (; nPos + 8 <= nWidth; nPos += 8)
    {
        const std::uint64_t nWord = Load64(pRow + nPos);
        // The lowest set bit of this expression marks the first zero byte exactly;
        // borrows can only produce false marks above it.
        const std::uint64_t nZeroMarks = (nWord - kOnes) & ~nWord & kHighs;
        if (nZeroMarks != 0)
            return nPos + std::countr_zero(nZeroMarks) / 8;
    }
    while (nPos < nWidth && pRow[nPos] != 0)
        ++nPos;
    return nPos;
}

} // namespace

void CT4Encoder::EmitRun(int nRun, EColour eColour)
{
    const auto& codes = eColour == EColour::White ? kWhiteCodes : kBlackCodes;
    // Runs longer than the longest make-up code repeat it, as T.4 allows; 1728-pixel rows never need this.
    while (nRun > kLongestRun)
    {
        const SCodeWord& code = codes[MakeUpIndex(kLongestRun)];
        PutCode(code.nBits, code.nLength);
        nRun -= kLongestRun;
    }
    if (nRun >= 64)
    {
        const SCodeWord& code = codes[MakeUpIndex(nRun)];
        PutCode(code.nBits, code.nLength);
        nRun %= 64;
    }
    const SCodeWord& code = codes[TerminatingIndex(nRun)];
    PutCode(code.nBits, code.nLength);
}

void CT4Encoder::EndRow()
{
    m_bits.AlignToByte();
    // Four zero fill bits and the 12-bit EOL: 0000 0000 0000 0001.
    PutCode(kEndOfLine.nBits, 16);
    m_bits.AlignToByte();
}

void CT4Encoder::EncodeRow(const std::uint8_t* pRow, int nWidth)
{
    // No code word is longer than 13 bits and no run shorter than one pixel except the
    // leading white run, so a row never needs more than one byte per pixel plus the EOL.
    m_bits.Reserve(static_cast<std::size_t>(nWidth) + 16);
    int nPos = 0;
    EColour eColour = EColour::White;
    do
    {
        const int nEnd = eColour == EColour::White ? EndOfWhiteRun(pRow, nPos, nWidth)
                                                   : EndOfBlackRun(pRow, nPos, nWidth);
        EmitRun(nEnd - nPos, eColour);
        nPos = nEnd;
        eColour = eColour == EColour::White ? EColour::Black : EColour::White;
    } while (nPos < nWidth);
    EndRow();
}

void CT4Encoder::EncodePage(const std::uint8_t* pPage, int nWidth, int nRows)
{
    Reset();
    for (int nRow = 0; nRow < nRows; ++nRow)
        EncodeRow(pPage + static_cast<std::size_t>(nRow) * nWidth, nWidth);
}

} // namespace converter
