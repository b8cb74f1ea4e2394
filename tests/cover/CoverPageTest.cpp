#include "sender/cover/CoverPage.h"

#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "tests/support/TestFiles.h"

#include <QRect>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <tiffio.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{

using ARaster = std::vector<std::uint8_t>;

// The note box at 100..600 x 100..400, the recipient's name below it, a hairline rule lower still.
constexpr const char* NOTE_TEMPLATE =
    R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 1700 2200"><rect id="note" x="100" y="100")"
    R"( width="500" height="300" fill="none"/><text x="100" y="500" font-size="60">{{recipient}})"
    R"(</text><text x="100" y="700">{{recipient_fax}}</text><line x1="100" y1="900" x2="1600" y2="900")"
    R"( stroke="black" stroke-width="0.2"/></svg>)";

class CoverPageTest : public CTempFolderTest
{
protected:
    ARaster DrawNoteTemplate(const SCoverFields& fields)
    {
        std::ofstream(m_dir / "note.svg") << NOTE_TEMPLATE;
        CCoverTemplate coverTemplate;
        std::string strError;
        ARaster aRaster(platform::RASTER_BYTES);
        EXPECT_TRUE(coverTemplate.Load(m_dir / "note.svg", strError)) << strError;
        EXPECT_TRUE(DrawCoverPage(coverTemplate, fields, aRaster, strError)) << strError;
        return aRaster;
    }
    static int BlackIn(const ARaster& aRaster, QRect rc)
    {
        int nBlack = 0;
        for (int y = rc.top(); y <= rc.bottom(); ++y)
            for (int x = rc.left(); x <= rc.right(); ++x)
                nBlack += platform::IsBlackPixel(aRaster[std::size_t(y) * platform::RASTER_ROW_BYTES + x]);
        return nBlack;
    }
    static SCoverFields Fields()
    {
        SCoverFields fields;
        fields.m_strRecipient = "Margaret Holloway";
        fields.m_strRecipientFax = "4930123456789";
        fields.m_strSenderName = "Peter Lindqvist";
        fields.m_nPages = 3;
        return fields;
    }
};

// Tesseract reads what matters on a cover drawn from the default template, and the fax page that
// Pagemill makes of it decodes with libtiff to the same pixels.
TEST_F(CoverPageTest, DefaultCoverReadsBackThroughOcrAndLibtiff)
{
    SCoverFields fields = Fields();
    fields.m_strNote = "Please call me back.";
    fs::create_directory(m_dir / "c");
    std::string strError;
    ASSERT_TRUE(WriteCoverPage(fields, DEFAULT_TEMPLATE, m_dir / "c/quill.1", strError)) << strError;
    std::ifstream file(m_dir / "c/quill.1", std::ios::binary);
    const ARaster aRaster((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(aRaster.size(), platform::RASTER_BYTES);
    EXPECT_EQ(std::count(aRaster.begin(), aRaster.end(), platform::RASTER_WHITE) +
                  std::count(aRaster.begin(), aRaster.end(), platform::RASTER_BLACK),
              std::ptrdiff_t(platform::RASTER_BYTES));

    std::ofstream pgm(m_dir / "cover.pgm", std::ios::binary);
    pgm << "P5\n" << platform::RASTER_ROW_BYTES << ' ' << platform::RASTER_ROWS << "\n255\n";
    for (const std::uint8_t nPixel : aRaster)
        pgm.put(platform::IsBlackPixel(nPixel) ? '\0' : '\xff');
    pgm.close();
    platform::SRunOptions options;
    options.m_durTimeout = 120s;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    const auto ocr = platform::RunProgram(
        {"tesseract", (m_dir / "cover.pgm").string(), "stdout", "--dpi", "200"}, options);
    ASSERT_TRUE(ocr.Succeeded()) << ocr.Describe() << ocr.m_strOutput;
    const std::string strText = std::regex_replace(ocr.m_strOutput, std::regex("\\s+"), " ");
    for (const char* pszWant :
         {"Margaret Holloway", "4930123456789", "Peter Lindqvist", "3 pages, including this one"})
        EXPECT_NE(strText.find(pszWant), std::string::npos) << pszWant << " not in: " << strText;

    std::ofstream(m_dir / "c/Page.tmp", std::ios::binary) << char(platform::PageCountByte(1));
    options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + m_dir.string()});
    const auto converted = platform::RunProgram({PAGEMILL_PROGRAM}, options);
    ASSERT_TRUE(converted.Succeeded()) << converted.Describe() << converted.m_strOutput;
    const std::unique_ptr<TIFF, void (*)(TIFF*)> pTiff(TIFFOpen((m_dir / "c/quill1.tif").c_str(), "r"),
                                                       TIFFClose);
    ASSERT_TRUE(pTiff);
    std::vector<std::uint8_t> aRow(TIFFScanlineSize(pTiff.get()));
    int nDiffering = 0;
    for (int y = 0; y < platform::RASTER_ROWS; ++y)
    {
        ASSERT_EQ(TIFFReadScanline(pTiff.get(), aRow.data(), y, 0), 1) << "row " << y;
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x) // min-is-white: a set bit is black
            nDiffering += ((aRow[x / 8] >> (7 - x % 8)) & 1) != aRaster[y * platform::RASTER_ROW_BYTES + x];
    }
    EXPECT_EQ(nDiffering, 0);
}

TEST_F(CoverPageTest, LongNoteIsCutWithTheMarkInsideItsBox)
{
    SCoverFields fields = Fields();
    const ARaster aWithout = DrawNoteTemplate(fields);
    for (int n = 0; n < 60; ++n)
        fields.m_strNote += "Line " + std::to_string(n) + " of a note far longer than its box\n";
    const ARaster aWith = DrawNoteTemplate(fields);
    EXPECT_GT(BlackIn(aWith, QRect(100, 100, 500, 300)), 1000);
    // Below the box the page is what it is without a note, and the hairline survives.
    const auto nBelowBox = std::ptrdiff_t(401) * platform::RASTER_ROW_BYTES;
    EXPECT_TRUE(std::equal(aWith.begin() + nBelowBox, aWith.end(), aWithout.begin() + nBelowBox));
    EXPECT_GT(BlackIn(aWith, QRect(100, 899, 1500, 3)), 1400);

    const QStringList aLines =
        CoverNoteLines(QString::fromStdString(fields.m_strNote), CoverNoteFont(), 468, 268);
    ASSERT_FALSE(aLines.isEmpty());
    EXPECT_LT(aLines.size(), 60);
    EXPECT_TRUE(aLines.back().endsWith(QString::fromUtf16(COVER_NOTE_MARK))) << aLines.back().toStdString();
    EXPECT_EQ(CoverNoteLines("Short\nnote", CoverNoteFont(), 468, 268), QStringList({"Short", "note"}));
}

TEST_F(CoverPageTest, NamesInEveryScriptDrawTheirOwnGlyphs)
{
    // A glyph the fonts lack would be drawn as the same box in both names.
    const std::pair<const char*, const char*> aNames[] = {
        {"Żółćą", "Ėęśńň"}, {"Иван", "Жора"}, {"山田太郎", "李小龍明"}};
    for (const auto& [pszOne, pszOther] : aNames)
    {
        SCoverFields fields = Fields();
        fields.m_strRecipient = pszOne;
        const ARaster aOne = DrawNoteTemplate(fields);
        fields.m_strRecipient = pszOther;
        EXPECT_GT(BlackIn(aOne, QRect(100, 430, 800, 100)), 300) << pszOne;
        EXPECT_NE(aOne, DrawNoteTemplate(fields)) << pszOne << " / " << pszOther;
    }
}

TEST_F(CoverPageTest, FailureLeavesTheOldPageWhole)
{
    std::ofstream(m_dir / "quill.1") << "old";
    std::ofstream(m_dir / "nobox.svg") << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 9 9">)"
                                          "<text>{{recipient}}{{recipient_fax}}</text></svg>";
    SCoverFields fields = Fields();
    std::string strError;
    EXPECT_FALSE(WriteCoverPage(fields, DEFAULT_TEMPLATE, m_dir / "none/quill.1", strError));
    EXPECT_NE(strError.find("Cannot write the cover page " + (m_dir / "none/quill.1").string()),
              std::string::npos);
    fields.m_strNote = "A note";
    EXPECT_FALSE(WriteCoverPage(fields, m_dir / "nobox.svg", m_dir / "quill.1", strError));
    EXPECT_NE(strError.find("has no box for the note"), std::string::npos) << strError;
    EXPECT_EQ(fs::file_size(m_dir / "quill.1"), 3u);
}

} // namespace
