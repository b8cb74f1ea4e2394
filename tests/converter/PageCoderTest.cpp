#include "converter/PageCoder.h"

#include "converter/FaxRow.h"
#include "converter/RowPacker.h"
#include "converter/T4Encoder.h"
#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "tests/pages/TestDocuments.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using converter::CPageCoder;
using converter::ECodeResult;

// The code of a page as one encoder makes it from the whole page buffer at once.
Bytes CodedWhole(const Bytes& raster)
{
    std::vector<std::uint64_t> page(std::size_t{converter::PAGE_ROW_WORDS} * converter::FAX_PAGE_ROWS);
    for (int y = 0; y < converter::FAX_PAGE_ROWS; ++y)
        converter::PackRow(
            raster.data() + std::size_t{platform::RASTER_ROW_BYTES} * y, platform::RASTER_ROW_BYTES,
            page.data() + std::size_t{converter::PAGE_ROW_WORDS} * y, converter::PAGE_ROW_WORDS);
    converter::CT4Encoder encoder;
    encoder.EncodePage(page.data(), converter::FAX_ROW_PIXELS, converter::FAX_PAGE_ROWS);
    return Bytes(encoder.Data(), encoder.Data() + encoder.Count());
}

Bytes Joined(const CPageCoder& coder)
{
    Bytes joined;
    for (const auto& segment : coder.Segments())
        joined.insert(joined.end(), segment.begin(), segment.end());
    EXPECT_EQ(joined.size(), coder.Count());
    return joined;
}

class PageCoderTest : public CTempFolderTest
{
protected:
    void WriteRaster(int nPage, const Bytes& raster)
    {
        ASSERT_TRUE(platform::WriteWholeFile(m_dir / platform::RasterFileName(nPage),
                                             std::string(raster.begin(), raster.end())));
    }
};

TEST_F(PageCoderTest, CodesARealDocumentExactlyAsOneEncoderCodesEachWholePage)
{
    // The pages of the shared-mime-info manual as the fax printer renders them, and worst cases:
    // shared out in bands between two threads, every page's code is the very bytes of one
    // encoder coding it whole, with and without the helper.
    fs::path manual;
    for (const auto& entry : fs::directory_iterator("/usr/share/doc/shared-mime-info"))
        if (entry.path().extension() == ".pdf")
            manual = entry.path();
    ASSERT_FALSE(manual.empty()) << "the shared-mime-info manual is missing";
    std::string strError;
    std::vector<Bytes> rasters = testdocs::RenderReference(manual, strError);
    ASSERT_EQ(rasters.size(), 17u) << strError;
    std::mt19937 random(7);
    Bytes noise(platform::RASTER_BYTES);
    for (auto& pixel : noise)
        pixel = static_cast<std::uint8_t>(random() % 3 == 0 ? random() % 256 : 0);
    rasters.push_back(noise);
    rasters.push_back(Bytes(platform::RASTER_BYTES, 1));
    for (std::size_t n = 0; n < rasters.size(); ++n)
        WriteRaster(static_cast<int>(n + 1), rasters[n]);

    for (const bool bHelper : {true, false})
    {
        SCOPED_TRACE(bHelper ? "with the helper" : "alone");
        CPageCoder coder(m_dir, static_cast<int>(rasters.size()));
        if (bHelper)
            coder.StartHelper();
        for (std::size_t n = 0; n < rasters.size(); ++n)
        {
            const int nPage = static_cast<int>(n + 1);
            ASSERT_EQ(coder.Code(nPage), ECodeResult::Coded) << "page " << nPage << ": " << coder.Error();
            EXPECT_TRUE(Joined(coder) == CodedWhole(rasters[n])) << "page " << nPage;
            coder.Release(nPage);
        }
    }
}

TEST_F(PageCoderTest, SaysWhichRasterIsMissingOrShort)
{
    WriteRaster(1, Bytes(platform::RASTER_BYTES, 0));
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill.2", std::string(platform::RASTER_BYTES - 1, '\1')));
    CPageCoder coder(m_dir, 4);
    coder.StartHelper();
    ASSERT_EQ(coder.Code(1), ECodeResult::Coded) << coder.Error();
    coder.Release(1);
    EXPECT_EQ(coder.Code(2), ECodeResult::Failed);
    EXPECT_NE(coder.Error().find("quill.2 is shorter than a page"), std::string::npos) << coder.Error();
    coder.Release(2);
    EXPECT_EQ(coder.Code(3), ECodeResult::Failed);
    EXPECT_NE(coder.Error().find("quill.3 cannot be opened"), std::string::npos) << coder.Error();
}

} // namespace
