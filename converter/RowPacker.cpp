#include "converter/RowPacker.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace converter
{

void PackRow(const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords, int nWords)
{
    std::fill(pWords, pWords + nWords, std::uint64_t{0});
    nPixels = std::min(nPixels, nWords * 64);
    int x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time: compare with zero, gather the sign bits, invert.
    const __m128i zero = _mm_setzero_si128();
    for (; x + 64 <= nPixels; x += 64)
    {
        std::uint64_t nBits = 0;
        for (int k = 0; k < 4; ++k)
        {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pPixels + x + 16 * k));
            const auto nWhite = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, zero)));
            nBits |= static_cast<std::uint64_t>(~nWhite & 0xFFFFu) << (16 * k);
        }
        pWords[x / 64] = nBits;
    }
#endif
    for (; x < nPixels; ++x)
        if (pPixels[x] != 0)
            pWords[x / 64] |= std::uint64_t{1} << (x % 64);
}

} // namespace converter
