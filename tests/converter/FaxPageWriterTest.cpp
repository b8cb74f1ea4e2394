#include "converter/FaxPageWriter.h"

#include "converter/FaxRow.h"
#include "converter/T4Encoder.h"
#include "platform/BinaryFile.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& strHex)
{
    Bytes bytes;
    std::string strDigits;
    for (char ch : strHex)
        if (std::isxdigit(static_cast<unsigned char>(ch)))
            strDigits += ch;
    for (std::size_t i = 0; i + 1 < strDigits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(strDigits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The head of an all-white page, 1 of 1, typed from the file layout entry by entry.
const Bytes ALL_WHITE_HEAD = FromHex("49 49 2A 00 08 00 00 00  1100"
                                     "FE00 0300 01000000 02000000"           // NewSubfileType SHORT 2
                                     "0001 0300 01000000 C0060000"           // ImageWidth 1728
                                     "0101 0300 01000000 98080000"           // ImageLength 2200
                                     "0201 0300 01000000 01000000"           // BitsPerSample 1
                                     "0301 0300 01000000 03000000"           // Compression 3
                                     "0601 0300 01000000 00000000"           // Photometric 0
                                     "0A01 0300 01000000 02000000"           // FillOrder 2
                                     "1101 0400 01000000 EA000000"           // StripOffsets 234
                                     "1501 0300 01000000 01000000"           // SamplesPerPixel 1
                                     "1601 0400 01000000 98080000"           // RowsPerStrip 2200
                                     "1701 0400 01000000 FA2A0000"           // StripByteCounts 11002
                                     "1A01 0500 01000000 DA000000"           // XResolution at 218
                                     "1B01 0500 01000000 E2000000"           // YResolution at 226
                                     "1C01 0300 01000000 01000000"           // PlanarConfiguration 1
                                     "2401 0400 01000000 04000000"           // T4Options 4
                                     "2801 0300 01000000 02000000"           // ResolutionUnit 2
                                     "2901 0300 02000000 00000100"           // PageNumber 0, 1
                                     "00000000"                              // no next directory
                                     "CC000000 01000000 C4000000 01000000"); // 204/1, 196/1

class FaxPageFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_path = std::filesystem::temp_directory_path() / ("faxpage-" + std::to_string(::getpid()) + ".tif");
    }
    void TearDown() override { std::filesystem::remove(m_path); }

    Bytes WriteAndRead(const Bytes& encoded, int nIndex, int nTotal)
    {
        platform::CFileWriter file;
        EXPECT_TRUE(file.Create(m_path));
        EXPECT_TRUE(converter::WriteFaxPageFile(file, encoded.data(), encoded.size(), nIndex, nTotal));
        EXPECT_TRUE(file.Close());
        const auto data = platform::ReadWholeFile(m_path, 10'000'000);
        return data ? Bytes(data->begin(), data->end()) : Bytes();
    }

    std::filesystem::path m_path;
};

TEST(ReverseBitsTest, MirrorsEveryByte)
{
    EXPECT_EQ(converter::ReverseBits(0x01), 0x80);
    EXPECT_EQ(converter::ReverseBits(0x4D), 0xB2);
    EXPECT_EQ(converter::ReverseBits(0xF0), 0x0F);
    for (int n = 0; n < 256; ++n)
    {
        const auto byte = static_cast<std::uint8_t>(n);
        EXPECT_EQ(converter::ReverseBits(converter::ReverseBits(byte)), byte);
        for (int b = 0; b < 8; ++b)
            EXPECT_EQ((converter::ReverseBits(byte) >> (7 - b)) & 1, (byte >> b) & 1);
    }
}

TEST_F(FaxPageFileTest, AnAllWhitePageIsTheKnownFileByteForByte)
{
    const std::vector<std::uint64_t> page(std::size_t{converter::PAGE_ROW_WORDS} * converter::FAX_PAGE_ROWS,
                                          0);
    converter::CT4Encoder encoder;
    encoder.EncodePage(page.data(), converter::FAX_ROW_PIXELS, converter::FAX_PAGE_ROWS);
    const Bytes file = WriteAndRead(Bytes(encoder.Data(), encoder.Data() + encoder.Count()), 0, 1);

    ASSERT_EQ(file.size(), 11236u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 234), ALL_WHITE_HEAD);
    EXPECT_EQ(Bytes(file.begin() + 234, file.begin() + 241),
              (Bytes{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00, 0x80}));
    // The strip is the leading EOL and 2200 reversed white rows: 2201 EOLs in all.
    for (std::size_t i = 236; i < file.size(); i += 5)
        ASSERT_EQ(Bytes(file.begin() + i, file.begin() + i + 5), (Bytes{0xB2, 0x59, 0x01, 0x00, 0x80}));
}

TEST_F(FaxPageFileTest, OnlyTheStripLengthAndPageNumberDifferBetweenFiles)
{
    const Bytes a = WriteAndRead(Bytes{0x12}, 0, 1);
    const Bytes b = WriteAndRead(Bytes(70000, 0x34), 2, 5);
    ASSERT_EQ(a.size(), 237u);
    ASSERT_EQ(b.size(), 70236u);
    for (std::size_t i = 0; i < 234; ++i)
    {
        const bool bVaries = (i >= 138 && i < 142) || (i >= 210 && i < 214);
        if (!bVaries)
        {
            EXPECT_EQ(a[i], b[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(Bytes(a.begin() + 210, a.begin() + 214), (Bytes{0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Bytes(b.begin() + 210, b.begin() + 214), (Bytes{0x02, 0x00, 0x05, 0x00}));
    EXPECT_EQ(Bytes(a.begin() + 138, a.begin() + 142), (Bytes{0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Bytes(b.begin() + 138, b.begin() + 142), (Bytes{0x72, 0x11, 0x01, 0x00})); // 70002
    EXPECT_EQ(a[236], 0x48);                                                             // 0x12 reversed
    EXPECT_EQ(b.back(), 0x2C); // 0x34 reversed, past the 64 KiB chunks of the writer
}

TEST_F(FaxPageFileTest, AnEncodedPageInPiecesMakesTheSameFileAsInOnePiece)
{
    // Pieces of every size around the writer's 16 KiB chunks, empty ones among them.
    Bytes encoded(100000);
    for (std::size_t i = 0; i < encoded.size(); ++i)
        encoded[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
    const Bytes whole = WriteAndRead(encoded, 3, 9);
    std::vector<std::span<const std::uint8_t>> pieces;
    std::size_t nDone = 0;
    for (const std::size_t nPiece : {std::size_t{1}, std::size_t{0}, std::size_t{16383}, std::size_t{16385},
                                     std::size_t{7}, std::size_t{40000}, std::size_t{0}})
    {
        pieces.emplace_back(encoded.data() + nDone, nPiece);
        nDone += nPiece;
    }
    pieces.emplace_back(encoded.data() + nDone, encoded.size() - nDone);

    platform::CFileWriter file;
    ASSERT_TRUE(file.Create(m_path));
    ASSERT_TRUE(converter::WriteFaxPageFile(file, pieces, 3, 9));
    ASSERT_TRUE(file.Close());
    const auto data = platform::ReadWholeFile(m_path, 10'000'000);
    ASSERT_TRUE(data.has_value());
    EXPECT_TRUE(Bytes(data->begin(), data->end()) == whole);
}

TEST_F(FaxPageFileTest, AFailedWriteIsReported)
{
    platform::CFileWriter file;
    ASSERT_TRUE(file.Create("/dev/full"));
    const Bytes encoded(200000, 0);
    const bool bWritten = converter::WriteFaxPageFile(file, encoded.data(), encoded.size(), 0, 1);
    EXPECT_FALSE(bWritten && file.Close());
}

} // namespace
