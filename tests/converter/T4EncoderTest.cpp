#include "converter/T4Encoder.h"

#include "converter/FaxRow.h"
#include "converter/RowPacker.h"
#include "converter/T4Codes.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

using converter::CT4Encoder;
using converter::EColour;
using Bytes = std::vector<std::uint8_t>;
constexpr int WIDTH = converter::FAX_ROW_PIXELS;

Bytes Encoded(const CT4Encoder& encoder)
{
    return {encoder.Data(), encoder.Data() + encoder.Count()};
}

// A byte-per-pixel page packed into the encoder's page buffer.
std::vector<std::uint64_t> Packed(const Bytes& page, int nWidth, int nRows)
{
    const int nWords = converter::WordsPerRow(nWidth);
    std::vector<std::uint64_t> packed(static_cast<std::size_t>(nWords) * nRows + 1);
    for (int nRow = 0; nRow < nRows; ++nRow)
        converter::PackRow(page.data() + static_cast<std::size_t>(nRow) * nWidth, nWidth,
                           packed.data() + static_cast<std::size_t>(nRow) * nWords, nWords);
    return packed;
}

Bytes EncodePage(const Bytes& page, int nWidth, int nRows)
{
    CT4Encoder encoder;
    encoder.EncodePage(Packed(page, nWidth, nRows).data(), nWidth, nRows);
    return Encoded(encoder);
}

Bytes EncodeRow(const Bytes& row)
{
    return EncodePage(row, static_cast<int>(row.size()), 1);
}

Bytes Row(int nBlackFrom, int nBlackTo) // black in [from, to), white elsewhere
{
    Bytes row(WIDTH, 0);
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
    auto putCode = [&](std::uint16_t nBits, int nLength)
    {
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
    auto emitRun = [&](int nRun, bool bBlack)
    {
        const auto& codes = bBlack ? converter::BLACK_CODES : converter::WHITE_CODES;
        if (nRun >= 64)
        {
            putCode(codes[63 + nRun / 64].m_nBits, codes[63 + nRun / 64].m_nLength);
            nRun %= 64;
        }
        putCode(codes[nRun].m_nBits, codes[nRun].m_nLength);
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
    const std::vector<std::uint64_t> page(std::size_t{converter::PAGE_ROW_WORDS} * converter::FAX_PAGE_ROWS,
                                          0);
    CT4Encoder encoder;
    encoder.EncodePage(page.data(), WIDTH, converter::FAX_PAGE_ROWS);
    ASSERT_EQ(encoder.Count(), 11000u);
    for (std::size_t i = 0; i < encoder.Count(); i += 5)
        ASSERT_EQ(Bytes(encoder.Data() + i, encoder.Data() + i + 5), (Bytes{0x4D, 0x9A, 0x80, 0x00, 0x01}));
}

TEST(T4EncoderTest, EncodingAgainStartsFromAnEmptyPage)
{
    const auto black = Packed(Row(0, WIDTH), WIDTH, 1);
    CT4Encoder encoder;
    encoder.EncodePage(black.data(), WIDTH, 1);
    const Bytes first = Encoded(encoder);
    encoder.EncodePage(black.data(), WIDTH, 1);
    EXPECT_EQ(Encoded(encoder), first);
    // Coding in bands gives the same bytes as coding the page at once.
    encoder.Reset();
    encoder.EncodeRows(black.data(), WIDTH, 1);
    encoder.EncodeRows(black.data(), WIDTH, 1);
    EXPECT_EQ(Encoded(encoder).size(), 2 * first.size());
}

TEST(T4EncoderTest, ABlankRowIsCodedForItsOwnWidthAndPlaceInTheStream)
{
    // One encoder, blank rows of one width, then of another, then after a code that left the
    // stream off a byte boundary: each as a fresh encoder or the reference codes it.
    CT4Encoder encoder;
    for (const int nWidth : {WIDTH, 65, 1792})
    {
        const auto blank = Packed(Bytes(static_cast<std::size_t>(nWidth) * 3, 0), nWidth, 3);
        encoder.EncodePage(blank.data(), nWidth, 3);
        EXPECT_EQ(Encoded(encoder),
                  ReferenceEncode(Bytes(static_cast<std::size_t>(nWidth) * 3, 0), nWidth, 3))
            << nWidth;
    }
    const auto blank = Packed(Bytes(WIDTH, 0), WIDTH, 1);
    encoder.Reset();
    encoder.PutCode(0b101, 3);
    encoder.EncodeRows(blank.data(), WIDTH, 1);
    CT4Encoder fresh;
    fresh.PutCode(0b101, 3);
    fresh.EmitRun(WIDTH, EColour::White);
    fresh.EndRow();
    EXPECT_EQ(Encoded(encoder), Encoded(fresh));
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
    constexpr int ROWS = 300;
    for (const int nBlackPercent : {0, 1, 10, 50, 90, 100})
    {
        for (const int nMeanRun : {1, 3, 64, 700})
        {
            Bytes page(static_cast<std::size_t>(WIDTH) * ROWS, 0);
            std::uint8_t nColour = 0;
            for (std::size_t i = 0; i < page.size(); ++i)
            {
                if (static_cast<int>(random() % static_cast<unsigned>(nMeanRun)) == 0)
                    nColour = static_cast<int>(random() % 100) < nBlackPercent ? 1 : 0;
                page[i] = nColour;
            }
            ASSERT_EQ(EncodePage(page, WIDTH, ROWS), ReferenceEncode(page, WIDTH, ROWS))
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
    for (int nRun = 0; nRun <= WIDTH; ++nRun, ++nRows)
    {
        Bytes row(WIDTH, 0);
        const int nStart = (WIDTH - nRun) / 3;
        std::fill(row.begin() + nStart, row.begin() + nStart + nRun, 1);
        page.insert(page.end(), row.begin(), row.end());
    }
    EXPECT_EQ(EncodePage(page, WIDTH, nRows), ReferenceEncode(page, WIDTH, nRows));
}

TEST(T4EncoderTest, WidthsThatAreNotAMultipleOf64MatchTheReference)
{
    std::mt19937 random(5);
    for (const int nWidth : {1, 7, 63, 64, 65, 1700, 2560})
    {
        Bytes page(static_cast<std::size_t>(nWidth) * 20);
        for (std::size_t i = 0; i < page.size(); ++i)
            page[i] = (i / 3 + random() % 4) % 2 == 0 ? 0 : 1;
        std::fill(page.begin(), page.begin() + nWidth, 1); // a row that is black to its last pixel
        EXPECT_EQ(EncodePage(page, nWidth, 20), ReferenceEncode(page, nWidth, 20)) << nWidth;
    }
}

// Bits written as text, zero-filled to a byte boundary and closed with the EOL bytes.
Bytes RowFromBits(const std::string& strBits)
{
    Bytes bytes((strBits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < strBits.size(); ++i)
        if (strBits[i] == '1')
            bytes[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    bytes.push_back(0x00);
    bytes.push_back(0x01);
    return bytes;
}

TEST(T4EncoderTest, RunsLongerThan2560RepeatTheLongestMakeUpCode)
{
    // 0 white, 2560 + 2560 black (extended make-up), 832 black make-up, 48 black.
    EXPECT_EQ(EncodeRow(Bytes(6000, 1)), RowFromBits("00110101"
                                                     "000000011111"
                                                     "000000011111"
                                                     "0000001001101"
                                                     "000001100100"));
    // 1792 white: the first extended code, then the terminating 0 of white.
    EXPECT_EQ(EncodeRow(Bytes(1792, 0)), RowFromBits("00000001000"
                                                     "00110101"));
}

TEST(T4EncoderTest, EachColourTableIsAPrefixFreeCodeAndNoCodeBeginsAnEol)
{
    for (const auto* pCodes : {&converter::WHITE_CODES, &converter::BLACK_CODES})
    {
        auto bit = [](const converter::SCodeWord& code, int i)
        { return (code.m_nBits >> (code.m_nLength - 1 - i)) & 1; };
        std::vector<converter::SCodeWord> all(pCodes->begin(), pCodes->end());
        all.push_back(converter::END_OF_LINE);
        for (std::size_t a = 0; a < all.size(); ++a)
        {
            ASSERT_GE(all[a].m_nLength, 2);
            ASSERT_LE(all[a].m_nLength, 13);
            ASSERT_LT(all[a].m_nBits, 1u << all[a].m_nLength);
            for (std::size_t b = 0; b < all.size(); ++b)
            {
                if (a == b || all[a].m_nLength > all[b].m_nLength)
                    continue;
                bool bPrefix = true;
                for (int i = 0; i < all[a].m_nLength && bPrefix; ++i)
                    bPrefix = bit(all[a], i) == bit(all[b], i);
                EXPECT_FALSE(bPrefix) << "code " << a << " is a prefix of code " << b;
            }
        }
    }
}

} // namespace
