#include "converter/RowPacker.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

TEST(RowPackerTest, EveryNonzeroByteIsABlackBitInPixelOrderWhicheverWayItPacks)
{
    using converter::ERowPacker;
    std::mt19937 random(3);
    for (const ERowPacker ePacker : {ERowPacker::Portable, ERowPacker::Sse2, ERowPacker::Avx2})
    {
        if (!converter::RowPackerAvailable(ePacker))
            continue;
        for (const int nPixels : {0, 1, 15, 16, 63, 64, 65, 127, 1700, 1728})
        {
            // Ink in some stretches of 64 pixels, blank ones between, as on a page of text.
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(nPixels));
            for (std::size_t x = 0; x < pixels.size(); ++x)
                if ((x / 64) % 3 != 1 && random() % 3 == 0)
                    pixels[x] = static_cast<std::uint8_t>(random() % 256);
            const int nWords = converter::WordsPerRow(nPixels) + 1; // one word past the pixels
            std::vector<std::uint64_t> words(static_cast<std::size_t>(nWords), ~std::uint64_t{0});
            converter::PackRowWith(ePacker, pixels.data(), nPixels, words.data(), nWords);
            for (int x = 0; x < nWords * 64; ++x)
            {
                const bool bBlack = x < nPixels && pixels[static_cast<std::size_t>(x)] != 0;
                ASSERT_EQ((words[x / 64] >> (x % 64)) & 1, bBlack ? 1u : 0u)
                    << "packer " << static_cast<int>(ePacker) << ", " << nPixels << " pixels, x = " << x;
            }
        }
    }
}

TEST(RowPackerTest, ARasterRowFillsAFaxRowWithWhiteColumnsAtTheEnd)
{
    std::vector<std::uint8_t> pixels(1700, 255);
    std::vector<std::uint64_t> words(27, 0);
    converter::PackRow(pixels.data(), 1700, words.data(), 27);
    for (int n = 0; n < 26; ++n)
        EXPECT_EQ(words[n], ~std::uint64_t{0});
    EXPECT_EQ(words[26], (std::uint64_t{1} << 36) - 1); // 1700 = 26 * 64 + 36
}

} // namespace
