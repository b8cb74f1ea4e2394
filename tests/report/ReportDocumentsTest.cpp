// The transmission report (CTransmissionReport) and the fax as one PDF (WriteFaxPdf), made
// from fax pages of the real Pagemill and read back with poppler's tools, not with our code.

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/report/FaxPdf.h"
#include "sender/report/TransmissionReport.h"
#include "tests/support/TestFiles.h"

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <regex>

namespace fs = std::filesystem;

namespace
{

platform::SRunResult RunTool(const std::vector<std::string>& aArgs)
{
    platform::SRunOptions options;
    options.m_durTimeout = std::chrono::seconds(60);
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_nMaxOutputBytes = 1 << 20;
    return platform::RunProgram(aArgs, options);
}

// What a program printed, or "" when it failed.
std::string Output(const std::vector<std::string>& aArgs)
{
    const auto result = RunTool(aArgs);
    return result.Succeeded() ? result.m_strOutput : std::string();
}

// Each page's size in points, from pdfinfo's "Page    2 size: 610 x 808 pts".
std::vector<std::pair<double, double>> PageSizes(const fs::path& pdf)
{
    const std::string strInfo = Output({"pdfinfo", "-f", "1", "-l", "999", pdf.string()});
    const std::regex size(R"(Page +\d+ size: +([0-9.]+) x ([0-9.]+) pts)");
    std::vector<std::pair<double, double>> aSizes;
    for (auto it = std::sregex_iterator(strInfo.begin(), strInfo.end(), size); it != std::sregex_iterator();
         ++it)
        aSizes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    return aSizes;
}

// A page raster with a black block at its top left and a pattern that differs per seed.
std::string Raster(int nSeed)
{
    std::string strRaster(platform::RASTER_BYTES, '\0');
    for (int y = 0; y < 200; ++y)
        std::fill_n(strRaster.begin() + y * platform::RASTER_ROW_BYTES, 300, '\1');
    for (std::size_t i = 700'000; i < platform::RASTER_BYTES; i += 97 + static_cast<std::size_t>(nSeed))
        strRaster[i] = 1;
    return strRaster;
}

class ReportDocuments : public CTempFolderTest
{
protected:
    // Three fax pages made by Pagemill from rasters, as a send makes them.
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        fs::create_directories(m_dir / "c");
        for (int n = 1; n <= PAGES; ++n)
            ASSERT_TRUE(platform::WriteWholeFile(m_dir / "c" / platform::RasterFileName(n), Raster(n)));
        ASSERT_TRUE(platform::WriteWholeFile(m_dir / "c" / platform::PAGE_COUNT_FILE_NAME,
                                             std::string(1, PAGES + 1)));
        ::setenv("VELLUM_ROOT", m_dir.c_str(), 1);
        ASSERT_TRUE(RunTool({PAGEMILL_PROGRAM}).Succeeded());
        for (int n = 1; n <= PAGES; ++n)
            m_aPages.push_back(m_dir / "c" / platform::FaxPageFileName(n));

        m_fax.m_nSentAt = 1'800'000'000;
        m_fax.m_strRecipient = "Борис_Acme";
        m_fax.m_strFaxNumber = "4930111222";
        m_fax.m_strGatewayAddress = "remote-printer.Acme@4930111222.fax.example";
        m_fax.m_nPages = PAGES;
        m_fax.m_nMailBytes = 123456;
        m_fax.m_strMessageId = "<1800000000.42@sender.example>";
    }

    static constexpr int PAGES = 3;
    SSentFax m_fax;
    std::vector<fs::path> m_aPages;
};

TEST_F(ReportDocuments, FaxPdfHasEveryPageAtItsTrueSizeAndItsPixels)
{
    const fs::path pdf = m_dir / "fax.pdf";
    std::string strError;
    ASSERT_TRUE(WriteFaxPdf(m_fax, m_aPages, pdf, strError)) << strError;

    // 1728 pixels at 204 dpi by 2200 rows at 196 dpi, to the whole point that Qt's PDF writer
    // gives a page's size in.
    const auto aSizes = PageSizes(pdf);
    ASSERT_EQ(aSizes.size(), std::size_t{PAGES});
    for (const auto& [nWidth, nHeight] : aSizes)
    {
        EXPECT_NEAR(nWidth, 1728.0 / 204 * 72, 0.5);
        EXPECT_NEAR(nHeight, 2200.0 / 196 * 72, 0.5);
    }
    // A search finds the fax by its recipient and Message-ID.
    const std::string strText = Output({"pdftotext", pdf.string(), "-"});
    EXPECT_NE(strText.find(m_fax.m_strMessageId), std::string::npos) << strText;
    EXPECT_NE(strText.find(m_fax.m_strRecipient), std::string::npos) << strText;

    // Page 2 drawn back at the fax's own resolution is the fax page, pixel for pixel (the whole
    // points may add a blank column or row at the edge).
    const fs::path pbm = m_dir / "page2.pbm";
    ASSERT_TRUE(RunTool({"pdftoppm", "-f", "2", "-l", "2", "-rx", "204", "-ry", "196", "-mono", "-singlefile",
                         pdf.string(), (m_dir / "page2").string()})
                    .Succeeded());
    const auto strPbm = platform::ReadWholeFile(pbm, 1 << 22);
    std::smatch header;
    ASSERT_TRUE(strPbm && std::regex_search(*strPbm, header, std::regex(R"(^P4\n(\d+) (\d+)\n)")));
    const std::size_t nRowBytes = (std::stoul(header[1]) + 7) / 8;
    EXPECT_NEAR(std::stoi(header[1]), 1728, 1);
    EXPECT_NEAR(std::stoi(header[2]), 2200, 1);
    ASSERT_GE(strPbm->size(), header.length() + nRowBytes * platform::RASTER_ROWS);
    const std::string strRaster = Raster(2);
    int nDiffer = 0;
    for (std::size_t y = 0; y < platform::RASTER_ROWS; ++y)
        for (std::size_t x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            nDiffer += (((*strPbm)[header.length() + y * nRowBytes + x / 8] >> (7 - x % 8)) & 1) !=
                       strRaster[y * platform::RASTER_ROW_BYTES + x];
    EXPECT_EQ(nDiffer, 0);
}

TEST_F(ReportDocuments, ReportIsOnePageThatSaysWhatWasSent)
{
    m_fax.m_bCoverSent = true;
    // Text from the record is drawn as it is: markup stays text, control characters and
    // direction overrides are shown as replacement characters, and an overlong reply is cut.
    m_fax.m_strServerReply = "250-<b>Ok</b> &amp;\x1b[31m\n250 queued\u202e as 7F3A";
    for (int n = 0; n < 40; ++n)
        m_fax.m_strServerReply += "\n250-line " + std::to_string(n);
    CTransmissionReport report;
    std::string strError;
    ASSERT_TRUE(report.Load(m_fax, m_aPages[0], strError)) << strError;
    const fs::path pdf = m_dir / "report.pdf";
    ASSERT_TRUE(report.WritePdf(pdf, strError)) << strError;

    const auto aSizes = PageSizes(pdf);
    ASSERT_EQ(aSizes.size(), 1u);
    const QRectF rcPage = CTransmissionReport::DefaultLayout().fullRect(QPageLayout::Point);
    EXPECT_NEAR(aSizes[0].first, rcPage.width(), 0.5);
    EXPECT_NEAR(aSizes[0].second, rcPage.height(), 0.5);

    const std::string strText = Output({"pdftotext", "-layout", pdf.string(), "-"});
    for (const std::string& strExpected :
         {std::string("TRANSMISSION REPORT"), m_fax.m_strRecipient, m_fax.m_strFaxNumber,
          m_fax.m_strGatewayAddress, m_fax.m_strMessageId, std::string("3, including the cover page"),
          std::string("123 456 bytes"), std::string("250-<b>Ok</b> &amp;\uFFFD[31m"),
          std::string("250 queued\uFFFD as 7F3A"), std::string("Accepted by the mail server"),
          std::string("\u2026]"), std::string("2027-01-15")})
        EXPECT_NE(strText.find(strExpected), std::string::npos) << strExpected << "\n" << strText;
    EXPECT_EQ(strText.find("line 39"), std::string::npos) << "the reply is cut";
    // The reduced first page is in it.
    EXPECT_NE(Output({"pdfimages", "-list", pdf.string()}).find("image"), std::string::npos);
}

// The gateway's word, when a notice gave it, takes the status line with the notice's date.
TEST_F(ReportDocuments, ReportSaysTheNoticesWord)
{
    m_fax.m_eStatus = ESentStatus::Failed;
    m_fax.m_strStatusReason = "no answer";
    m_fax.m_nNoticeAt = m_fax.m_nSentAt + 86400;
    CTransmissionReport report;
    std::string strError;
    ASSERT_TRUE(report.Load(m_fax, m_aPages[0], strError)) << strError;
    ASSERT_TRUE(report.WritePdf(m_dir / "report.pdf", strError)) << strError;
    const std::string strText = Output({"pdftotext", (m_dir / "report.pdf").string(), "-"});
    EXPECT_NE(strText.find("Failed (no answer), notice of 2027-01-16"), std::string::npos) << strText;
}

// A page that is missing or not a fax page is named with its fax, and the PDF that was there
// stays as it was, with nothing left beside it.
TEST_F(ReportDocuments, UnusablePageIsNamedAndLeavesTheFileThere)
{
    // clang-format off
    const struct { bool bReport; const char* pszPage; const char* pszProblem; } aCases[] = {
        {false, "gone/quill2.tif", "page 2 of the fax to Борис_Acme (4930111222) sent 2027-01-15"},
        {true,  "quill1.tif",      "page 1 of the fax to Борис_Acme (4930111222) sent 2027-01-15"},
    };
    // clang-format on
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill1.tif", "not a fax page"));
    const fs::path target = m_dir / "out/kept.pdf";
    fs::create_directories(target.parent_path());
    ASSERT_TRUE(platform::WriteWholeFile(target, "%PDF-1.4 a good old file"));
    for (const auto& test : aCases)
    {
        std::vector<fs::path> aPages = m_aPages;
        aPages[test.bReport ? 0 : 1] = m_dir / test.pszPage;
        std::string strError;
        CTransmissionReport report;
        EXPECT_FALSE(test.bReport
                         ? report.Load(m_fax, aPages[0], strError) && report.WritePdf(target, strError)
                         : WriteFaxPdf(m_fax, aPages, target, strError));
        EXPECT_NE(strError.find(test.pszProblem), std::string::npos) << strError;
        EXPECT_NE(strError.find(test.bReport ? "quill1.tif is not a TIFF" : "quill2.tif is missing"),
                  std::string::npos)
            << strError;
        EXPECT_EQ(strError.find(m_dir.string()), std::string::npos) << strError;
        EXPECT_EQ(platform::ReadWholeFile(target, 1 << 16), "%PDF-1.4 a good old file");
        EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()), 1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The painter's fonts need an application of Qt Gui; the offscreen platform needs no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
