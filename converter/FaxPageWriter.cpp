#include "converter/FaxPageWriter.h"

#include "converter/FaxRow.h"

#include <algorithm>
#include <cstring>

namespace converter
{

namespace
{

enum ETiffType : std::uint16_t
{
    SHORT = 3,
    LONG = 4,
    RATIONAL = 5,
};

constexpr std::uint32_t X_RESOLUTION_OFFSET = 218;
constexpr std::uint32_t Y_RESOLUTION_OFFSET = 226;
constexpr std::uint16_t DIRECTORY_ENTRIES = 17;

constexpr std::array<std::uint8_t, 256> MakeReverseTable()
{
    std::array<std::uint8_t, 256> table = {};
    for (int i = 0; i < 256; ++i)
        table[i] = ReverseBits(static_cast<std::uint8_t>(i));
    return table;
}

constexpr std::array<std::uint8_t, 256> REVERSED = MakeReverseTable();
static_assert(REVERSED[0x01] == 0x80 && REVERSED[0x4D] == 0xB2 && REVERSED[0x9A] == 0x59);

class CHeadBuilder
{
public:
    explicit CHeadBuilder(std::array<std::uint8_t, FAX_HEAD_BYTES>& head) : m_head(head) {}

    void Put16(std::uint32_t nValue)
    {
        m_head[m_nPos++] = static_cast<std::uint8_t>(nValue);
        m_head[m_nPos++] = static_cast<std::uint8_t>(nValue >> 8);
    }
    void Put32(std::uint32_t nValue)
    {
        Put16(nValue & 0xFFFF);
        Put16(nValue >> 16);
    }
    // A directory entry; a single SHORT sits in the low half of the value field.
    void Entry(std::uint16_t nTag, ETiffType eType, std::uint32_t nCount, std::uint32_t nValue)
    {
        Put16(nTag);
        Put16(eType);
        Put32(nCount);
        Put32(nValue);
    }
    std::size_t Position() const { return m_nPos; }

private:
    std::array<std::uint8_t, FAX_HEAD_BYTES>& m_head;
    std::size_t m_nPos = 0;
};

} // namespace

std::array<std::uint8_t, FAX_HEAD_BYTES> FaxPageHead(std::size_t nCount, int nPageIndex, int nPageTotal)
{
    std::array<std::uint8_t, FAX_HEAD_BYTES> head = {};
    CHeadBuilder out(head);
    out.Put16(0x4949); // "II": little-endian
    out.Put16(42);
    out.Put32(8); // the only directory follows at once

    out.Put16(DIRECTORY_ENTRIES);
    // In ascending tag order, as TIFF requires.
    out.Entry(254, SHORT, 1, 2);              // NewSubfileType: one page of a multi-page document
    out.Entry(256, SHORT, 1, FAX_ROW_PIXELS); // ImageWidth
    out.Entry(257, SHORT, 1, FAX_PAGE_ROWS);  // ImageLength
    out.Entry(258, SHORT, 1, 1);              // BitsPerSample
    out.Entry(259, SHORT, 1, 3);              // Compression: CCITT T.4
    out.Entry(262, SHORT, 1, 0);              // PhotometricInterpretation: white is zero
    out.Entry(266, SHORT, 1, 2);              // FillOrder: least significant bit first
    out.Entry(273, LONG, 1, STRIP_OFFSET);    // StripOffsets
    out.Entry(277, SHORT, 1, 1);              // SamplesPerPixel
    out.Entry(278, LONG, 1, FAX_PAGE_ROWS);   // RowsPerStrip
    out.Entry(279, LONG, 1, static_cast<std::uint32_t>(nCount + 2)); // StripByteCounts, with the leading EOL
    out.Entry(282, RATIONAL, 1, X_RESOLUTION_OFFSET);
    out.Entry(283, RATIONAL, 1, Y_RESOLUTION_OFFSET);
    out.Entry(284, SHORT, 1, 1); // PlanarConfiguration
    out.Entry(292, LONG, 1, 4);  // T4Options: fill bits before EOLs, one-dimensional
    out.Entry(296, SHORT, 1, 2); // ResolutionUnit: inch
    // PageNumber: two SHORTs, the 0-based page index and the page total.
    out.Entry(297, SHORT, 2,
              static_cast<std::uint32_t>(nPageIndex & 0xFFFF) | static_cast<std::uint32_t>(nPageTotal) << 16);
    out.Put32(0); // no further directory

    // 204 x 196 dots per inch: fax fine mode.
    out.Put32(204);
    out.Put32(1);
    out.Put32(196);
    out.Put32(1);
    return head;
}

namespace
{

// Reverses the bits of each of eight bytes at once.
std::uint64_t ReverseBitsOfEachByte(std::uint64_t nBytes)
{
    nBytes = (nBytes >> 1 & 0x5555555555555555ULL) | (nBytes & 0x5555555555555555ULL) << 1;
    nBytes = (nBytes >> 2 & 0x3333333333333333ULL) | (nBytes & 0x3333333333333333ULL) << 2;
    nBytes = (nBytes >> 4 & 0x0F0F0F0F0F0F0F0FULL) | (nBytes & 0x0F0F0F0F0F0F0F0FULL) << 4;
    return nBytes;
}

void ReverseBytes(const std::uint8_t* pIn, std::size_t nCount, std::uint8_t* pOut)
{
    std::size_t i = 0;
    for (; i + 8 <= nCount; i += 8)
    {
        std::uint64_t nBytes;
        std::memcpy(&nBytes, pIn + i, 8);
        nBytes = ReverseBitsOfEachByte(nBytes);
        std::memcpy(pOut + i, &nBytes, 8);
    }
    for (; i < nCount; ++i)
        pOut[i] = REVERSED[pIn[i]];
}

} // namespace

bool WriteFaxPageFile(platform::CFileWriter& file, const std::uint8_t* pEncoded, std::size_t nCount,
                      int nPageIndex, int nPageTotal)
{
    const std::span<const std::uint8_t> segment(pEncoded, nCount);
    return WriteFaxPageFile(file, std::span(&segment, 1), nPageIndex, nPageTotal);
}

bool WriteFaxPageFile(platform::CFileWriter& file, std::span<const std::span<const std::uint8_t>> aSegments,
                      int nPageIndex, int nPageTotal)
{
    std::size_t nCount = 0;
    for (const auto& segment : aSegments)
        nCount += segment.size();
    const auto head = FaxPageHead(nCount, nPageIndex, nPageTotal);
    // The strip starts with 00 01 reversed: four fill bits and an EOL before the first row.
    const std::uint8_t leadingEol[2] = {REVERSED[0x00], REVERSED[0x01]};
    bool bOk = file.Write(head.data(), head.size()) && file.Write(leadingEol, sizeof leadingEol);

    // The pieces are reversed into one chunk after another, so that the file is written in
    // large blocks however small the pieces.
    constexpr std::size_t CHUNK_BYTES = 16 * 1024;
    std::uint8_t chunk[CHUNK_BYTES];
    std::size_t nUsed = 0;
    for (const auto& segment : aSegments)
        for (std::size_t nDone = 0; nDone < segment.size() && bOk;)
        {
            const std::size_t nBytes = std::min(CHUNK_BYTES - nUsed, segment.size() - nDone);
            ReverseBytes(segment.data() + nDone, nBytes, chunk + nUsed);
            nUsed += nBytes;
            nDone += nBytes;
            if (nUsed == CHUNK_BYTES)
            {
                bOk = file.Write(chunk, nUsed);
                nUsed = 0;
            }
        }
    return bOk && file.Write(chunk, nUsed);
}

} // namespace converter
