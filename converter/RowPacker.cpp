#include "converter/RowPacker.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
// The C library's header spells its results as C's _Bool, which clang does not take in C++.
#if defined(__clang__)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif

namespace converter
{

namespace
{

// Packs the pixels from x on one at a time.
void PackTail(const std::uint8_t* pPixels, int x, int nPixels, std::uint64_t* pWords)
{
    for (; x < nPixels; ++x)
        if (pPixels[x] != 0)
            pWords[x / 64] |= std::uint64_t{1} << (x % 64);
}

#if defined(__x86_64__)
// Sixteen pixels at a time: compare with zero, gather the sign bits, invert. Every x86-64
// processor has SSE2.
void PackRowSse2(const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords)
{
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
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
    PackTail(pPixels, x, nPixels, pWords);
}

// The same, thirty-two pixels at a time, with a quick way past blank stretches, which are
// most of a page.
__attribute__((target("avx2"))) void PackRowAvx2(const std::uint8_t* pPixels, int nPixels,
                                                 std::uint64_t* pWords)
{
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 64 <= nPixels; x += 64)
    {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pPixels + x));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pPixels + x + 32));
        if (_mm256_testz_si256(_mm256_or_si256(low, high), _mm256_or_si256(low, high)) != 0)
            continue;
        const auto nWhiteLow = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, zero)));
        const auto nWhiteHigh =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, zero)));
        pWords[x / 64] = ~(static_cast<std::uint64_t>(nWhiteHigh) << 32 | nWhiteLow);
    }
    PackTail(pPixels, x, nPixels, pWords);
}

// From what the C library found at start: asking the processor again costs a trap into the
// hypervisor per question on a virtual machine, which a short-lived program notices.
bool HasAvx2()
{
    static const bool bHas = CPU_FEATURE_ACTIVE(AVX2);
    return bHas;
}
#endif

} // namespace

bool RowPackerAvailable(ERowPacker ePacker)
{
    switch (ePacker)
    {
    case ERowPacker::Portable:
        return true;
#if defined(__x86_64__)
    case ERowPacker::Sse2:
        return true;
    case ERowPacker::Avx2:
        return HasAvx2();
#endif
    default:
        return false;
    }
}

void PackRowWith(ERowPacker ePacker, const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords,
                 int nWords)
{
    std::fill(pWords, pWords + nWords, std::uint64_t{0});
    nPixels = std::min(nPixels, nWords * 64);
#if defined(__x86_64__)
    if (ePacker == ERowPacker::Avx2 && HasAvx2())
        return PackRowAvx2(pPixels, nPixels, pWords);
    if (ePacker != ERowPacker::Portable)
        return PackRowSse2(pPixels, nPixels, pWords);
#endif
    PackTail(pPixels, 0, nPixels, pWords);
}

void PackRow(const std::uint8_t* pPixels, int nPixels, std::uint64_t* pWords, int nWords)
{
#if defined(__x86_64__)
    static const ERowPacker eBest = HasAvx2() ? ERowPacker::Avx2 : ERowPacker::Sse2;
#else
    constexpr ERowPacker eBest = ERowPacker::Portable;
#endif
    PackRowWith(eBest, pPixels, nPixels, pWords, nWords);
}

} // namespace converter
