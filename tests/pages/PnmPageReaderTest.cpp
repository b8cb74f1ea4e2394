#include "pages/PnmPageReader.h"

#include "platform/PageFiles.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using driver::CPnmPageReader;
using driver::EFeedResult;
using platform::RASTER_BYTES;
using platform::RASTER_ROW_BYTES;
using platform::RASTER_ROWS;

using PixelRule = std::function<bool(std::size_t x, std::size_t y)>; // true: black

// A P4 page as Ghostscript's pbmraw device writes it: a comment in the header, rows padded
// to whole bytes. The padding bits are set, to show they are ignored.
std::string BitmapPage(const PixelRule& isBlack,
                       const std::string& strHeader = "P4\n# made by a test\n1700 2200\n")
{
    std::string page = strHeader;
    const std::size_t nRowBytes = (platform::RASTER_ROW_BYTES + 7) / 8;
    for (std::size_t y = 0; y < platform::RASTER_ROWS; ++y)
    {
        std::string row(nRowBytes, '\0');
        for (std::size_t x = 0; x < nRowBytes * 8; ++x)
        {
            if (x >= platform::RASTER_ROW_BYTES || isBlack(x, y))
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        page += row;
    }
    return page;
}

std::string GraymapPage(const std::function<std::uint8_t(std::size_t x, std::size_t y)>& gray, unsigned nMax)
{
    std::string page = "P5 1700\t2200\r" + std::to_string(nMax) + "\n";
    for (std::size_t y = 0; y < platform::RASTER_ROWS; ++y)
        for (std::size_t x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            page += static_cast<char>(gray(x, y));
    return page;
}

std::vector<std::uint8_t> ExpectedRaster(const PixelRule& isBlack)
{
    std::vector<std::uint8_t> raster(platform::RASTER_BYTES);
    for (std::size_t y = 0; y < platform::RASTER_ROWS; ++y)
        for (std::size_t x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            raster[y * platform::RASTER_ROW_BYTES + x] =
                isBlack(x, y) ? platform::RASTER_BLACK : platform::RASTER_WHITE;
    return raster;
}

struct SCollector
{
    std::vector<std::vector<std::uint8_t>> m_aPages;
    CPnmPageReader m_reader{[this](const std::vector<std::uint8_t>& raster)
                            {
                                m_aPages.push_back(raster);
                                return true;
                            }};

    EFeedResult FeedInPieces(const std::string& data, std::size_t nPiece)
    {
        for (std::size_t i = 0; i < data.size(); i += nPiece)
        {
            const auto eResult = m_reader.Feed(reinterpret_cast<const std::uint8_t*>(data.data()) + i,
                                               std::min(nPiece, data.size() - i));
            if (eResult != EFeedResult::More)
                return eResult;
        }
        return EFeedResult::More;
    }
};

// A pattern that tells rows, columns and both edges apart.
bool Pattern(std::size_t x, std::size_t y)
{
    return x == 0 || x == platform::RASTER_ROW_BYTES - 1 || y == platform::RASTER_ROWS - 1 ||
           (x * 7 + y * 13) % 11 == 0;
}

TEST(PnmPageReaderTest, TurnsBitmapPagesIntoRastersWhateverThePiecesTheyArriveIn)
{
    auto leftBand = [](std::size_t x, std::size_t) { return x < 8; };
    const std::string stream = BitmapPage(Pattern) + BitmapPage(leftBand);
    const auto expected1 = ExpectedRaster(Pattern);
    const auto expected2 = ExpectedRaster(leftBand);
    for (std::size_t nPiece : {std::size_t{5}, std::size_t{213}, std::size_t{65536}, stream.size()})
    {
        SCollector collector;
        ASSERT_EQ(collector.FeedInPieces(stream, nPiece), EFeedResult::More) << collector.m_reader.Error();
        ASSERT_TRUE(collector.m_reader.Finish()) << collector.m_reader.Error();
        ASSERT_EQ(collector.m_aPages.size(), 2u) << "pieces of " << nPiece;
        EXPECT_TRUE(collector.m_aPages[0] == expected1);
        EXPECT_TRUE(collector.m_aPages[1] == expected2);
        EXPECT_EQ(collector.m_reader.PagesRead(), 2);
    }
}

TEST(PnmPageReaderTest, ThresholdsGraymapsAtHalfTheScale)
{
    // 0..255 across the row: below 128 is black. A second page with a maximum of 1.
    auto ramp = [](std::size_t x, std::size_t) { return static_cast<std::uint8_t>(x % 256); };
    auto binary = [](std::size_t x, std::size_t y) { return static_cast<std::uint8_t>((x + y) % 2); };
    SCollector collector;
    ASSERT_EQ(collector.FeedInPieces(GraymapPage(ramp, 255) + "\n" + GraymapPage(binary, 1), 4096),
              EFeedResult::More)
        << collector.m_reader.Error();
    ASSERT_TRUE(collector.m_reader.Finish());
    ASSERT_EQ(collector.m_aPages.size(), 2u);
    EXPECT_EQ(collector.m_aPages[0],
              ExpectedRaster([](std::size_t x, std::size_t) { return x % 256 < 128; }));
    EXPECT_EQ(collector.m_aPages[1],
              ExpectedRaster([](std::size_t x, std::size_t y) { return (x + y) % 2 == 0; }));
}

TEST(PnmPageReaderTest, ReportsAStreamThatEndsInsideAPage)
{
    const std::string page = BitmapPage(Pattern);
    // Cut inside the magic, the header, the first row, the middle and just before the end.
    for (std::size_t nLength :
         {std::size_t{1}, std::size_t{5}, std::size_t{30}, page.size() / 2, page.size() - 1})
    {
        SCollector collector;
        ASSERT_EQ(collector.FeedInPieces(page.substr(0, nLength), 1000), EFeedResult::More);
        EXPECT_FALSE(collector.m_reader.Finish()) << "cut at " << nLength;
        EXPECT_FALSE(collector.m_reader.Error().empty());
        EXPECT_TRUE(collector.m_aPages.empty());
    }
    SCollector empty;
    EXPECT_TRUE(empty.m_reader.Finish());
    EXPECT_EQ(empty.m_reader.PagesRead(), 0);
}

TEST(PnmPageReaderTest, RefusesWhatIsNotAPageOfTheFaxSize)
{
    const std::vector<std::string> bad = {
        "%PDF-1.4 not a bitmap",
        "P6\n1700 2200\n255\n",         // colour
        "P4\n1728 2200\n",              // wrong width
        "P4\n1700 2199\n",              // wrong height
        "P5\n1700 2200\n65535\n",       // 16-bit gray
        "P5\n1700 2200\n0\n",           // no gray scale
        "P4\n1700 99999999999 \n",      // absurd number
        "P4\n1700 x2200\n",             // junk in the header
        "P5\n1700 2200\n255#comment\n", // comment where the pixels begin
    };
    for (const auto& data : bad)
    {
        SCollector collector;
        EXPECT_EQ(collector.FeedInPieces(data, data.size()), EFeedResult::BadStream) << data;
        EXPECT_FALSE(collector.m_reader.Error().empty()) << data;
        EXPECT_FALSE(collector.m_reader.Finish());
        EXPECT_TRUE(collector.m_aPages.empty());
    }
}

TEST(PnmPageReaderTest, StopsWhenThePageSinkSaysSo)
{
    int nCalls = 0;
    CPnmPageReader reader([&](const std::vector<std::uint8_t>&) { return ++nCalls < 2; });
    const std::string stream = BitmapPage(Pattern) + BitmapPage(Pattern) + BitmapPage(Pattern);
    EXPECT_EQ(reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()),
              EFeedResult::Stopped);
    EXPECT_EQ(nCalls, 2);
}

} // namespace
