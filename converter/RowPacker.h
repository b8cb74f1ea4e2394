#pragma once

#include <cstdint>

namespace converter
{

// Rows of the page buffer are packed one bit per pixel into 64-bit words: pixel x is
// bit x % 64 of word x / 64, 1 for black. A fax row of 1728 pixels is 27 words (216
// bytes), an eighth of a byte-per-pixel row, so a whole page stays in the caches.
constexpr int WordsPerRow(int nWidth)
{
    return (nWidth + 63) / 64;
}

// Packs nPixels raster bytes (0 white, anything else black) into nWords words; the bits
// past nPixels are white.
void PackRow(const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords, int nWords);

// The ways PackRow can pack, the fastest the processor has being taken; named so that each
// can be checked against the others.
enum class ERowPacker
{
    Portable,
    Sse2,
    Avx2,
};
bool RowPackerAvailable(ERowPacker ePacker);
void PackRowWith(ERowPacker ePacker, const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords,
                 int nWords);

} // namespace converter
