#include "installer/driver/DocumentFile.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "tests/installer/TestDocuments.h"

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using driver::EJobResult;

// A document file given to Sendwell: the printer's rendering, run on the file in this process.
class DocumentFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("documentfile");
        ASSERT_FALSE(m_base.empty());
        m_drive = m_base / "root" / "c";
        fs::create_directories(m_drive);
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "Page.tmp", std::string(1, '\x02')));
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "quill.1", "earlier page"));
    }
    void TearDown() override { fs::remove_all(m_base); }

    void ExpectEarlierJobUntouched()
    {
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "Page.tmp", 16).value_or(""), std::string(1, '\x02'));
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "quill.1", 64).value_or(""), "earlier page");
        EXPECT_EQ(std::distance(fs::directory_iterator(m_drive), fs::directory_iterator()), 2);
    }

    fs::path m_base;
    fs::path m_drive;
};

TEST_F(DocumentFileTest, PdfAndPostScriptGiveThePrintersPages)
{
    const fs::path pdf = m_base / "two.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), "");
    const fs::path ps = m_base / "two.ps";
    ASSERT_TRUE(platform::WriteWholeFile(ps, testdocs::TwoPagePostScript()));
    for (const fs::path& document : {pdf, ps})
    {
        const auto result = driver::RenderDocumentFile(document, m_drive);
        ASSERT_EQ(result.m_eResult, EJobResult::Done) << result.m_strReason;
        EXPECT_EQ(result.m_nPages, 2);
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "Page.tmp", 16).value_or(""), std::string(1, '\x03'));
        std::string strError;
        const auto reference = testdocs::RenderReference(document, strError);
        ASSERT_EQ(reference.size(), 2u) << strError;
        for (int nPage = 1; nPage <= 2; ++nPage)
            EXPECT_TRUE(testdocs::ReadRasterFile(m_drive / platform::RasterFileName(nPage)) ==
                        reference[nPage - 1])
                << document << " page " << nPage;
    }
}

TEST_F(DocumentFileTest, RefusalsLeaveTheEarlierPagesAsTheyWere)
{
    const fs::path damaged = m_base / "damaged.pdf";
    ASSERT_TRUE(
        platform::WriteWholeFile(damaged, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >>\ngarbage"));
    const fs::path longPdf = m_base / "long.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(255), longPdf), "");
    const fs::path picture = m_base / "picture.png";
    ASSERT_TRUE(platform::WriteWholeFile(picture, "\x89PNG\r\n\x1a\n"));
    struct SCase
    {
        fs::path m_document;
        const char* m_pszSays;
    };
    for (const SCase& test :
         {SCase{damaged, ""}, SCase{longPdf, "255 pages"}, SCase{m_base / "missing.pdf", "cannot be opened"},
          SCase{picture, "neither a PDF nor a PostScript"}, SCase{m_base, "not a document file"}})
    {
        const auto result = driver::RenderDocumentFile(test.m_document, m_drive);
        EXPECT_NE(result.m_eResult, EJobResult::Done) << test.m_document;
        EXPECT_FALSE(result.m_strReason.empty()) << test.m_document;
        EXPECT_NE(result.m_strReason.find(test.m_pszSays), std::string::npos) << result.m_strReason;
        ExpectEarlierJobUntouched();
    }
}

} // namespace
