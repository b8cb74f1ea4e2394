#include "sender/app/PageRaster.h"

#include "platform/BinaryFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{

// A raster file's bytes: 0 white, anything else black.
class CRasterBytes
{
public:
    CRasterBytes() : m_bytes(platform::RASTER_BYTES, 0) {}
    void Black(int r, int j, std::uint8_t nValue = 0xFF)
    {
        m_bytes[static_cast<std::size_t>(r) * platform::RASTER_ROW_BYTES + j] = nValue;
    }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

class PageRaster : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        ASSERT_TRUE(m_raster.Allocate());
    }
    void Load(const CRasterBytes& bytes) { m_raster.LoadBytes(bytes.Bytes().data(), bytes.Bytes().size()); }
    std::vector<std::uint8_t> View(int h, int v) const
    {
        std::vector<std::uint8_t> view(VIEW_WIDTH * VIEW_HEIGHT);
        m_raster.RenderView(h, v, view.data());
        return view;
    }
    static int CountBlack(const std::vector<std::uint8_t>& view)
    {
        return static_cast<int>(std::count(view.begin(), view.end(), VIEW_BLACK));
    }

    CPageRaster m_raster;
};

} // namespace

TEST_F(PageRaster, AllZeroBytesGiveAWhiteView)
{
    Load(CRasterBytes());
    const auto view = View(0, 0);
    EXPECT_EQ(CountBlack(view), 0);
    EXPECT_EQ(std::count(view.begin(), view.end(), VIEW_WHITE), VIEW_WIDTH * VIEW_HEIGHT);
}

TEST_F(PageRaster, AnyBlackPixelOfABlockMakesItBlack)
{
    // Row 0, column 1: view pixel (0, 0) at offsets 0.
    CRasterBytes bytes;
    bytes.Black(0, 1, 1);
    Load(bytes);
    auto view = View(0, 0);
    EXPECT_EQ(view[0], VIEW_BLACK);
    EXPECT_EQ(CountBlack(view), 1);

    // Each of the four pixels of the block at view (3, 2) by itself.
    for (auto [dr, dj] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}})
    {
        CRasterBytes one;
        one.Black(4 + dr, 6 + dj, 0x80);
        Load(one);
        view = View(0, 0);
        EXPECT_EQ(view[2 * VIEW_WIDTH + 3], VIEW_BLACK);
        EXPECT_EQ(CountBlack(view), 1);
    }
}

TEST_F(PageRaster, OffsetsMoveTheViewInStepsOfTwoPixels)
{
    CRasterBytes bytes;
    bytes.Black(2 * 30 + 2 * 7, 2 * 40 + 2 * 9 + 1);
    Load(bytes);
    const auto view = View(40, 30);
    EXPECT_EQ(view[7 * VIEW_WIDTH + 9], VIEW_BLACK);
    EXPECT_EQ(CountBlack(view), 1);
    // At offsets 0 the same block is view pixel (49, 37).
    const auto origin = View(0, 0);
    EXPECT_EQ(origin[37 * VIEW_WIDTH + 49], VIEW_BLACK);
    EXPECT_EQ(CountBlack(origin), 1);
}

TEST_F(PageRaster, SlidersAtTheirEndsReachRow2197AndColumn1697)
{
    CRasterBytes bytes;
    bytes.Black(2197, 1697);
    // Rows 2198-2199 and columns 1698-1699 are never shown.
    for (int r = 0; r < platform::RASTER_ROWS; ++r)
        for (int j = 1698; j < platform::RASTER_ROW_BYTES; ++j)
            bytes.Black(r, j);
    for (int j = 0; j < platform::RASTER_ROW_BYTES; ++j)
        for (int r = 2198; r < platform::RASTER_ROWS; ++r)
            bytes.Black(r, j);
    Load(bytes);
    const auto view = View(HORZ_OFFSET_MAX, VERT_OFFSET_MAX);
    EXPECT_EQ(view[(VIEW_HEIGHT - 1) * VIEW_WIDTH + VIEW_WIDTH - 1], VIEW_BLACK);
    EXPECT_EQ(CountBlack(view), 1);
    // Offsets beyond the sliders' ranges are held at their ends.
    EXPECT_EQ(View(HORZ_OFFSET_MAX + 50, VERT_OFFSET_MAX + 9), view);
    EXPECT_EQ(View(-3, -3), View(0, 0));
}

TEST_F(PageRaster, ReadsAPageFileAndAShortOneIsWhiteBeyondItsEnd)
{
    CRasterBytes bytes;
    bytes.Black(0, 0);
    bytes.Black(100, 100);
    bytes.Black(1000, 1000);
    const auto path = m_dir / "quill.1";
    ASSERT_TRUE(platform::WriteWholeFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.Bytes().data()), bytes.Bytes().size())));
    ASSERT_TRUE(m_raster.LoadPage(path));
    EXPECT_EQ(m_raster.ViewPixel(0, 0, 0, 0), VIEW_BLACK);
    EXPECT_EQ(m_raster.ViewPixel(50, 50, 0, 0), VIEW_BLACK);
    EXPECT_EQ(m_raster.ViewPixel(0, 0, 500, 500), VIEW_BLACK);

    // Only the first 101 rows: the black pixel at row 1000 is gone, the rest white.
    const std::size_t nShort = 101 * platform::RASTER_ROW_BYTES;
    ASSERT_TRUE(platform::WriteWholeFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.Bytes().data()), nShort)));
    ASSERT_TRUE(m_raster.LoadPage(path));
    EXPECT_EQ(m_raster.ViewPixel(50, 50, 0, 0), VIEW_BLACK);
    EXPECT_EQ(m_raster.ViewPixel(0, 0, 500, 500), VIEW_WHITE);
    EXPECT_EQ(CountBlack(View(0, 0)), 2);

    // An empty file previews a white page; a missing one leaves the buffer as it was.
    ASSERT_TRUE(platform::WriteWholeFile(path, ""));
    ASSERT_TRUE(m_raster.LoadPage(path));
    EXPECT_EQ(CountBlack(View(0, 0)), 0);
    Load(bytes);
    EXPECT_FALSE(m_raster.LoadPage(m_dir / "quill.9"));
    EXPECT_EQ(m_raster.ViewPixel(50, 50, 0, 0), VIEW_BLACK);
}

TEST_F(PageRaster, ALongerFileFillsOnePage)
{
    std::vector<std::uint8_t> bytes(platform::RASTER_BYTES + 5000, 0);
    bytes[platform::RASTER_BYTES + 10] = 1;
    const auto path = m_dir / "quill.2";
    ASSERT_TRUE(platform::WriteWholeFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    ASSERT_TRUE(m_raster.LoadPage(path));
    EXPECT_EQ(CountBlack(View(0, 0)), 0);
    EXPECT_EQ(CountBlack(View(HORZ_OFFSET_MAX, VERT_OFFSET_MAX)), 0);
}
