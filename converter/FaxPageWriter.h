#pragma once

#include "platform/BinaryFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The fax page file: a single-page, single-strip TIFF Class F file, little-endian, with a
// fixed 234-byte head (header, one 17-entry directory, the two resolutions) followed by
// the strip: a leading EOL and the encoded page, every byte bit-reversed (FillOrder 2).
namespace converter
{

inline constexpr std::size_t FAX_HEAD_BYTES = 234; // everything before the strip
inline constexpr std::size_t STRIP_OFFSET = FAX_HEAD_BYTES;
inline constexpr std::size_t STRIP_BYTE_COUNTS_OFFSET = 138;
inline constexpr std::size_t PAGE_NUMBER_OFFSET = 210;

// Bit 7 swapped with bit 0, 6 with 1, 5 with 2 and 4 with 3.
constexpr std::uint8_t ReverseBits(std::uint8_t byte)
{
    byte = static_cast<std::uint8_t>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
    byte = static_cast<std::uint8_t>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
    byte = static_cast<std::uint8_t>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
    return byte;
}

// The fixed head of a fax page file for an encoded page of nCount bytes.
std::array<std::uint8_t, FAX_HEAD_BYTES> FaxPageHead(std::size_t nCount, int nPageIndex, int nPageTotal);

// Writes the complete file in file order: head, then the strip (00 80, the leading EOL,
// then the nCount encoded bytes reversed). nPageIndex is 0-based. False when a write failed.
[[nodiscard]] bool WriteFaxPageFile(platform::CFileWriter& file, const std::uint8_t* pEncoded,
                                    std::size_t nCount, int nPageIndex, int nPageTotal);
// The same for an encoded page held in pieces, which follow one another in the strip.
[[nodiscard]] bool WriteFaxPageFile(platform::CFileWriter& file,
                                    std::span<const std::span<const std::uint8_t>> aSegments, int nPageIndex,
                                    int nPageTotal);

} // namespace converter
