#include "converter/T4Encoder.h"

#include "converter/RowPacker.h"

#include <algorithm>
#include <bit>

namespace converter
{

void CT4Encoder::EmitMakeUp(int& nRun, const std::array<SCodeWord, CODES_PER_COLOUR>& codes)
{
    // Runs longer than the longest make-up code repeat it, as T.4 allows; 1728-pixel rows never need this.
    while (nRun > LONGEST_RUN)
    {
        const SCodeWord& code = codes[MakeUpIndex(LONGEST_RUN)];
        PutCode(code.m_nBits, code.m_nLength);
        nRun -= LONGEST_RUN;
    }
    const SCodeWord& code = codes[MakeUpIndex(nRun)];
    PutCode(code.m_nBits, code.m_nLength);
    nRun %= 64;
}

void CT4Encoder::EndRow()
{
    m_bits.AlignToByte();
    // Four zero fill bits and the 12-bit EOL: 0000 0000 0000 0001.
    PutCode(END_OF_LINE.m_nBits, 16);
    m_bits.AlignToByte();
}

void CT4Encoder::EncodeRow(const std::uint64_t* pRow, int nWidth)
{
    // No code word is longer than 13 bits and no run shorter than one pixel except the
    // leading white run, so a row never needs more than one byte per pixel plus the EOL.
    m_bits.Reserve(static_cast<std::size_t>(nWidth) + 16);

    const int nWords = WordsPerRow(nWidth);
    // Every row ends on a byte boundary, so a blank row's code is the same whole bytes each time.
    const bool bWhite = std::all_of(pRow, pRow + nWords, [](std::uint64_t nWord) { return nWord == 0; });
    if (bWhite && m_nWhiteRowWidth == nWidth && m_bits.PendingBits() == 0)
        return m_bits.PutBytes(m_aWhiteRow.data(), m_nWhiteRowBytes);
    const std::size_t nStart = m_bits.Size();
    const bool bAligned = m_bits.PendingBits() == 0;

    // A run ends wherever a pixel differs from the one before it. Those places are the set
    // bits of the row XORed with itself shifted by one pixel; the pixel before the first is
    // white, so a row that begins black begins with a white run of 0.
    int nRunStart = 0;
    EColour eColour = EColour::White;
    std::uint64_t nPrevious = 0; // the last pixel of the previous word, in bit 0
    for (int nWord = 0; nWord < nWords; ++nWord)
    {
        const std::uint64_t nPixels = pRow[nWord];
        std::uint64_t nChanges = nPixels ^ (nPixels << 1 | nPrevious);
        nPrevious = nPixels >> 63;
        if (nWord == nWords - 1 && nWidth % 64 != 0)
            nChanges &= (std::uint64_t{1} << (nWidth % 64)) - 1; // bits past the width are not pixels
        while (nChanges != 0)
        {
            const int nRunEnd = nWord * 64 + std::countr_zero(nChanges);
            nChanges &= nChanges - 1;
            EmitRun(nRunEnd - nRunStart, eColour);
            nRunStart = nRunEnd;
            eColour = eColour == EColour::White ? EColour::Black : EColour::White;
        }
    }
    EmitRun(nWidth - nRunStart, eColour);
    EndRow();
    if (bWhite && bAligned && m_bits.Size() - nStart <= MAX_WHITE_ROW_BYTES)
    {
        m_nWhiteRowBytes = m_bits.Size() - nStart;
        std::copy(m_bits.Data() + nStart, m_bits.Data() + m_bits.Size(), m_aWhiteRow.begin());
        m_nWhiteRowWidth = nWidth;
    }
}

void CT4Encoder::EncodeRows(const std::uint64_t* pRows, int nWidth, int nRows)
{
    const int nWords = WordsPerRow(nWidth);
    for (int nRow = 0; nRow < nRows; ++nRow)
        EncodeRow(pRows + static_cast<std::size_t>(nRow) * nWords, nWidth);
}

void CT4Encoder::EncodePage(const std::uint64_t* pPage, int nWidth, int nRows)
{
    Reset();
    EncodeRows(pPage, nWidth, nRows);
}

} // namespace converter
