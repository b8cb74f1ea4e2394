#include "converter/PageFormat.h"
#include "converter/T4Codes.h"
#include "converter/T4Encoder.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

using converter::CT4Encoder;
using converter::EColour;
using Bytes = std::vector<std::uint8_t>;
constexpr int kWidth = converter::kFaxRowPixels;

Bytes Encoded(const CT4Encoder& encoder) { return {encoder.Data(), encoder.Data() + encoder.Count()}; }

Bytes EncodeRow(const Bytes& row)
{
    CT4Encoder encoder;
    encoder.EncodePage(row.data(), static_cast<int>(row.size()), 1);
    return Encoded(encoder);
}

Bytes Row(int nBlackFrom, int nBlackTo) // black in [from, to), white elsewhere
{
    Bytes row(kWidth, 0);
    std::fill(row.begin() + nBlackFrom, row.begin() + nBlackTo, 1);
    return row;
}

// The coding as first described: a 16-bit accumulator, a list of words with a flag for
// words of one byte, and the bytes formed after the last row. The encoder must produce
// exactly its bytes, however it holds the stream.
Bytes ReferenceEncode(const Bytes& page, int nWidth, int nRows)
{
    std::vector<std::uint16_t> words;
    std::vector<bool> oneByte;
    std::uint16_t nAccumulator = 0;
    int nFree = 16;
    auto putCode = [&](std::uint16_t nBits, int nLength) {
        if (nLength < nFree)
        {
            nAccumulator |= static_cast<std::uint16_t>(nBits << (nFree - nLength));
            nFree -= nLength;
            return;
        }
        const int nRest = nLength - nFree;
        words.push_back(static_cast<std::uint16_t>(nAccumulator | (nBits >> nRest)));
        oneByte.push_back(false);
        nAccumulator = nRest == 0 ? 0 : static_cast<std::uint16_t>(nBits << (16 - nRest));
        nFree = 16 - nRest;
    };
    auto emitRun = [&](int nRun, bool bBlack) {
        const auto& codes = bBlack ? converter::kBlackCodes : converter::kWhiteCodes;
        if (nRun >= 64)
        {
            putCode(codes[63 + nRun / 64].nBits, codes[63 + nRun / 64].nLength);
            nRun %= 64;
        }
        putCode(codes[nRun].nBits, codes[nRun].nLength);
    };
    for (int nRow = 0; nRow < nRows; ++nRow)
    {
        bool bBlack = false;
        int nRun = 0;
        for (int x = 0; x < nWidth; ++x)
        {
            const bool bPixel = page[static_cast<std::size_t>(nRow) * nWidth + x] != 0;
            if (bPixel == bBlack)
                ++nRun;
            else
            {
                emitRun(nRun, bBlack);
                bBlack = bPixel;
                nRun = 1;
            }
        }
        emitRun(nRun, bBlack);
        if (nFree < 16)
        {
            words.push_back(nAccumulator);
            oneByte.push_back(nFree >= 8);
            nAccumulator = 0;
            nFree = 16;
        }
        words.push_back(0x0001);
        oneByte.push_back(false);
    }
    Bytes bytes;
    for (std::size_t i = 0; i < words.size(); ++i)
    {
        bytes.push_back(static_cast<std::uint8_t>(words[i] >> 8));
        if (!oneByte[i])
            bytes.push_back(static_cast<std::uint8_t>(words[i]));
    }
    return bytes;
}

TEST(T4EncoderTest, CodesTheKnownRowsToTheirExactBytes)
{
    // make-up 1728 white, terminating 0 white, fill, EOL
    EXPECT_EQ(EncodeRow(Row(0, 0)), (Bytes{0x4D, 0x9A, 0x80, 0x00, 0x01}));
    // 0 white, 10 black, make-up 1664 white, 54 white
    EXPECT_EQ(EncodeRow(Row(0, 10)), (Bytes{0x35, 0x08, 0xC1, 0x28, 0x00, 0x01}));
    // 0 white, make-up 1664 black, 36 black, 28 white: exactly 32 bits, so no fill
    EXPECT_EQ(EncodeRow(Row(0, 1700)), (Bytes{0x35, 0x03, 0x20, 0x6A, 0x18, 0x00, 0x01}));
}

TEST(T4EncoderTest, ARunOfExactly64IsAMakeUpCodeAndATerminatingZero)
{
    CT4Encoder encoder;
    encoder.EmitRun(64, EColour::White); // 11011 00110101
    encoder.EndRow();
    EXPECT_EQ(Encoded(encoder), (Bytes{0xD9, 0xA8, 0x00, 0x01}));

    encoder.Reset();
    encoder.EmitRun(64, EColour::Black); // 0000001111 0000110111
    encoder.EndRow();
    EXPECT_EQ(Encoded(encoder), (Bytes{0x03, 0xC3, 0x70, 0x00, 0x01}));
}

TEST(T4EncoderTest, AnAllWhitePageIs2200CopiesOfTheWhiteRow)
{
    const Bytes page(converter::kPageBufferBytes, 0);
    CT4Encoder encoder;
    encoder.EncodePage(page.data(), kWidth, converter::kRowsPerPage);
    ASSERT_EQ(encoder.Count(), 11000u);
    for (std::size_t i = 0; i < encoder.Count(); i += 5)
        ASSERT_EQ(Bytes(encoder.Data() + i, encoder.Data() + i + 5), (Bytes{0x4D, 0x9A, 0x80, 0x00, 0x01}));
}

TEST(T4EncoderTest, EncodingAgainStartsFromAnEmptyPage)
{
    const Bytes black = Row(0, kWidth);
    CT4Encoder encoder;
    encoder.EncodePage(black.data(), kWidth, 1);
    const Bytes first = Encoded(encoder);
    encoder.EncodePage(black.data(), kWidth, 1);
    EXPECT_EQ(Encoded(encoder), first);
}

TEST(T4EncoderTest, AnyNonzeroPixelCodesAsBlack)
{
    Bytes ones = Row(5, 900);
    Bytes mixed = ones;
    for (int x = 5; x < 900; ++x)
        mixed[x] = static_cast<std::uint8_t>(1 + x % 255);
    EXPECT_EQ(EncodeRow(mixed), EncodeRow(ones));
}

TEST(T4EncoderTest, MatchesTheWordListCodingOnEveryKindOfRow)
{
    std::mt19937 random(2026);
    constexpr int kRows = 300;
    for (const int nBlackPercent : {0, 1, 10, 50, 90, 100})
    {
        for (const int nMeanRun : {1, 3, 64, 700})
        {
            Bytes page(static_cast<std::size_t>(kWidth) * kRows, 0);
            std::uint8_t nColour = 0;
            for (std::size_t i = 0; i < page.size(); ++i)
            {
                if (static_cast<int>(random() % static_cast<unsigned>(nMeanRun)) == 0)
                    nColour = static_cast<int>(random() % 100) < nBlackPercent ? 1 : 0;
                page[i] = nColour;
            }
            CT4Encoder encoder;
            encoder.EncodePage(page.data(), kWidth, kRows);
            ASSERT_EQ(Encoded(encoder), ReferenceEncode(page, kWidth, kRows))
                << nBlackPercent << "% black, runs of about " << nMeanRun;
        }
    }
}

TEST(T4EncoderTest, EveryRunLengthOfBothColoursMatchesTheReference)
{
    // Row n holds a black run of n pixels between white runs, so every length from 0 to
    // 1728 of each colour appears.
    Bytes page;
    int nRows = 0;
    for (int nRun = 0; nRun <= kWidth; ++nRun, ++nRows)
    {
        Bytes row(kWidth, 0);
        const int nStart = (kWidth - nRun) / 3;
        std::fill(row.begin() + nStart, row.begin() + nStart + nRun, 1);
        page.insert(page.end(), row.begin(), row.end());
    }
    CT4Encoder encoder;
    encoder.EncodePage(page.data(), kWidth, nRows);
    EXPECT_EQ(Encoded(encoder), ReferenceEncode(page, kWidth, nRows));
}

TEST(T4EncoderTest, EachColourTableIsAPrefixFreeCodeAndNoCodeBeginsAnEol)
{
    for (const auto* pCodes : {&converter::kWhiteCodes, &converter::kBlackCodes})
    {
        auto bit = [](const converter::SCodeWord& code, int i) { return (code.nBits >> (code.nLength - 1 - i)) & 1; };
        std::vector<converter::SCodeWord> all(pCodes->begin(), pCodes->end());
        all.push_back(converter::kEndOfLine);
        for (std::size_t a = 0; a < all.size(); ++a)
        {
            ASSERT_GE(all[a].nLength, 2);
            ASSERT_LE(all[a].nLength, 13);
            ASSERT_LT(all[a].nBits, 1u << all[a].nLength);
            for (std::size_t b = 0; b < all.size(); ++b)
            {
                if (a == b || all[a].nLength > all[b].nLength)
                    continue;
                bool bPrefix = true;
                for (int i = 0; i < all[a].nLength && bPrefix; ++i)
                    bPrefix = bit(all[a], i) == bit(all[b], i);
                EXPECT_FALSE(bPrefix) << "code " << a << " is a prefix of code " << b;
            }
        }
    }
}

} // namespace
