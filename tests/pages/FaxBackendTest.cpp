#include "pages/FaxBackend.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"
#include "tests/pages/TestDocuments.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using driver::CFaxBackend;
using driver::EJobResult;
using driver::SBackendSettings;

// The backend at work on real documents with the real Ghostscript, without a spooler.
class FaxBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("faxbackend");
        ASSERT_FALSE(m_base.empty());
        m_settings.m_driveRoot = m_base / "root" / "c";
    }
    void TearDown() override { fs::remove_all(m_base); }

    EJobResult Print(const fs::path& document)
    {
        const int fd = ::open(document.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0) << document;
        CFaxBackend backend(m_settings, m_log);
        const EJobResult eResult = backend.Run(fd);
        ::close(fd);
        m_strReason = backend.Reason();
        m_nPages = backend.Pages();
        return eResult;
    }

    fs::path Document(const std::string& strName, const std::string& strContent)
    {
        const auto path = m_base / strName;
        EXPECT_TRUE(platform::WriteWholeFile(path, strContent));
        return path;
    }

    fs::path Pdf(const std::string& strName, const std::string& strPostScript)
    {
        const auto path = m_base / strName;
        EXPECT_EQ(testdocs::MakePdf(strPostScript, path), "");
        return path;
    }

    void WriteEarlierJob()
    {
        fs::create_directories(m_settings.m_driveRoot);
        ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_driveRoot / "Page.tmp", std::string(1, '\x02')));
        ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_driveRoot / "quill.1", "earlier page"));
    }

    // The earlier job is as it was, and the refused job left nothing behind.
    void ExpectEarlierJobUntouched()
    {
        const auto drive = m_settings.m_driveRoot;
        EXPECT_EQ(platform::ReadWholeFile(drive / "Page.tmp", 16).value_or(""), std::string(1, '\x02'));
        EXPECT_EQ(platform::ReadWholeFile(drive / "quill.1", 64).value_or(""), "earlier page");
        std::vector<std::string> others;
        for (const auto& entry : fs::directory_iterator(drive))
        {
            const auto strName = entry.path().filename().string();
            if (strName != "Page.tmp" && strName != "quill.1")
                others.push_back(strName);
        }
        EXPECT_TRUE(others.empty()) << others.front();
    }

    std::string Log() const { return m_log.str(); }

    fs::path m_base;
    SBackendSettings m_settings;
    std::ostringstream m_log;
    std::string m_strReason;
    int m_nPages = 0;
};

TEST_F(FaxBackendTest, RendersATwoPageDocumentIntoPageFiles)
{
    WriteEarlierJob();
    const auto pdf = Pdf("two.pdf", testdocs::TwoPagePostScript());
    ASSERT_EQ(Print(pdf), EJobResult::Done) << m_strReason << "\n" << Log();
    EXPECT_EQ(m_nPages, 2);
    const auto drive = m_settings.m_driveRoot;
    EXPECT_EQ(platform::ReadWholeFile(drive / "Page.tmp", 16).value_or(""), std::string(1, '\x03'));

    std::string strError;
    const auto reference = testdocs::RenderReference(pdf, strError);
    ASSERT_EQ(reference.size(), 2u) << strError;
    for (int nPage = 1; nPage <= 2; ++nPage)
    {
        const auto raster = testdocs::ReadRasterFile(drive / platform::RasterFileName(nPage));
        ASSERT_EQ(raster.size(), platform::RASTER_BYTES) << "page " << nPage;
        EXPECT_TRUE(raster == reference[nPage - 1])
            << "page " << nPage << " differs from Ghostscript's rendering";
        // Not a blank page either: the shapes are there.
        EXPECT_GT(std::count(raster.begin(), raster.end(), 1), 10000) << "page " << nPage;
    }
    // The rectangle 100,100 200x300 pt of page 1: 200 dpi, origin at the bottom left.
    const auto page1 = testdocs::ReadRasterFile(drive / "quill.1");
    auto pixel = [&](double xPt, double yPt)
    {
        const auto x = static_cast<std::size_t>(xPt * 200 / 72);
        const auto y = platform::RASTER_ROWS - 1 - static_cast<std::size_t>(yPt * 200 / 72);
        return page1[y * platform::RASTER_ROW_BYTES + x];
    };
    EXPECT_EQ(pixel(200, 250), 1);
    EXPECT_EQ(pixel(50, 50), 0);
    EXPECT_EQ(pixel(550, 750), 0);
}

// The shared-mime-info manual that Debian ships: 17 pages of text, rules and tables.
fs::path RealDocument()
{
    for (const auto& entry : fs::directory_iterator("/usr/share/doc/shared-mime-info"))
        if (entry.path().extension() == ".pdf")
            return entry.path();
    return {};
}

TEST_F(FaxBackendTest, RendersARealDocumentByteForByteAsOneGhostscriptProcessDoes)
{
    // However many processes share the pages, each raster is the very bytes that one process
    // rendering the whole document gives.
    const fs::path manual = RealDocument();
    ASSERT_FALSE(manual.empty()) << "the shared-mime-info manual is missing";
    std::string strError;
    const auto reference = testdocs::RenderReference(manual, strError);
    ASSERT_EQ(reference.size(), 17u) << strError;
    for (const int nRenderers : {1, 2, 3})
    {
        SCOPED_TRACE(std::to_string(nRenderers) + " renderers");
        m_settings.m_nRenderers = nRenderers;
        CFaxBackend backend(m_settings, m_log);
        ASSERT_EQ(backend.RenderDocument(manual), EJobResult::Done) << backend.Reason() << "\n" << Log();
        EXPECT_EQ(backend.Pages(), 17);
        const auto drive = m_settings.m_driveRoot;
        EXPECT_EQ(platform::ReadWholeFile(drive / "Page.tmp", 16).value_or(""), std::string(1, '\x12'));
        for (int nPage = 1; nPage <= 17; ++nPage)
        {
            const auto raster =
                platform::ReadWholeFile(drive / platform::RasterFileName(nPage), 2 * platform::RASTER_BYTES);
            ASSERT_TRUE(raster.has_value()) << "page " << nPage;
            EXPECT_TRUE(std::equal(raster->begin(), raster->end(), reference[nPage - 1].begin(),
                                   reference[nPage - 1].end(),
                                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
                << "page " << nPage << " differs from Ghostscript's rendering";
        }
        EXPECT_EQ(Log().find("again in one process"), std::string::npos) << Log();
    }
}

TEST_F(FaxBackendTest, RendersInOneProcessWhenTheSharedPagesDoNotAddUp)
{
    // The page tree counts five pages, but the third is an object that does not exist, and
    // Ghostscript renders no page from there on: the shares cannot tell which page is which.
    std::string strPdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const std::string strPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>";
    const std::string strContent = "100 100 200 300 re f";
    for (const std::string& strObject :
         {std::string("<< /Type /Catalog /Pages 2 0 R >>"),
          std::string("<< /Type /Pages /Kids [3 0 R 3 0 R 20 0 R 3 0 R 3 0 R] /Count 5 >>"), strPage,
          "<< /Length " + std::to_string(strContent.size()) + " >>\nstream\n" + strContent + "\nendstream"})
    {
        offsets.push_back(strPdf.size());
        strPdf += std::to_string(offsets.size()) + " 0 obj\n" + strObject + "\nendobj\n";
    }
    const std::size_t nXref = strPdf.size();
    strPdf += "xref\n0 5\n0000000000 65535 f \n";
    for (const std::size_t nOffset : offsets)
    {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", nOffset);
        strPdf += entry;
    }
    strPdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(nXref) + "\n%%EOF\n";
    const auto pdf = Document("broken-tree.pdf", strPdf);

    std::string strError;
    const auto reference = testdocs::RenderReference(pdf, strError);
    ASSERT_FALSE(reference.empty()) << strError;
    m_settings.m_nRenderers = 2;
    ASSERT_EQ(Print(pdf), EJobResult::Done) << m_strReason << "\n" << Log();
    EXPECT_NE(Log().find("rendering it again in one process"), std::string::npos) << Log();
    ASSERT_EQ(m_nPages, static_cast<int>(reference.size()));
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
        EXPECT_TRUE(testdocs::ReadRasterFile(m_settings.m_driveRoot / platform::RasterFileName(nPage)) ==
                    reference[nPage - 1])
            << "page " << nPage;
}

TEST_F(FaxBackendTest, RefusesA255PageDocumentBeforeRenderingIt)
{
    WriteEarlierJob();
    const auto pdf = Pdf("long.pdf", testdocs::NumberedPagesPostScript(255));
    EXPECT_EQ(Print(pdf), EJobResult::Refused);
    EXPECT_NE(m_strReason.find("255 pages"), std::string::npos) << m_strReason;
    EXPECT_NE(m_strReason.find("at most 254"), std::string::npos) << m_strReason;
    EXPECT_NE(Log().find("ERROR: " + m_strReason), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Rendered page"), std::string::npos) << "refused only after rendering";
    ExpectEarlierJobUntouched();
}

TEST_F(FaxBackendTest, CountsPagesWhileRenderingWhenTheDocumentDoesNotSay)
{
    // PostScript gives no page count ahead; the limit holds as the pages come.
    WriteEarlierJob();
    m_settings.m_nMaxPages = 3;
    const auto ps = Document("four.ps", testdocs::NumberedPagesPostScript(4));
    EXPECT_EQ(Print(ps), EJobResult::Refused);
    EXPECT_NE(Log().find("Rendered page 3"), std::string::npos) << Log();
    EXPECT_NE(m_strReason.find("more than 3 pages"), std::string::npos) << m_strReason;
    ExpectEarlierJobUntouched();

    // And a PDF of the same length is refused from its own count.
    const auto pdf = Pdf("four.pdf", testdocs::NumberedPagesPostScript(4));
    EXPECT_EQ(Print(pdf), EJobResult::Refused);
    EXPECT_NE(m_strReason.find("4 pages"), std::string::npos) << m_strReason;
    ExpectEarlierJobUntouched();

    // Three pages are fine.
    const auto three = Document("three.ps", testdocs::NumberedPagesPostScript(3));
    EXPECT_EQ(Print(three), EJobResult::Done) << m_strReason;
    EXPECT_EQ(platform::ReadWholeFile(m_settings.m_driveRoot / "Page.tmp", 16).value_or(""),
              std::string(1, '\x04'));
}

TEST_F(FaxBackendTest, RefusesDocumentsItCannotRender)
{
    WriteEarlierJob();
    static constexpr char GARBAGE[] = "\x01\x02garbage that is no document\xff";
    EXPECT_EQ(Print(Document("garbage.bin", std::string(GARBAGE, sizeof GARBAGE - 1))), EJobResult::Refused);
    EXPECT_NE(m_strReason.find("Ghostscript cannot render it"), std::string::npos) << m_strReason;
    ExpectEarlierJobUntouched();

    EXPECT_EQ(Print(Document("broken.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n")),
              EJobResult::Refused)
        << Log();
    ExpectEarlierJobUntouched();

    // What the spooler's filters could not convert reaches the backend empty.
    EXPECT_EQ(Print(Document("empty.ps", "")), EJobResult::Refused);
    EXPECT_NE(m_strReason.find("could not convert the document"), std::string::npos) << m_strReason;
    ExpectEarlierJobUntouched();
}

TEST_F(FaxBackendTest, QuotesTheRenderersComplaintInPrintableTextOnly)
{
    // Ghostscript quotes the token it choked on, control bytes and all.
    static constexpr char DOCUMENT[] = "hello\x1b\x07world [31m \xfe\xff";
    EXPECT_EQ(Print(Document("control.ps", std::string(DOCUMENT, sizeof DOCUMENT - 1))), EJobResult::Refused);
    EXPECT_NE(m_strReason.find("hello\xEF\xBF\xBD"), std::string::npos) << m_strReason;
    // The shared printer's state message, which every user reads, quotes nothing; the DEBUG
    // line for the administrator does.
    EXPECT_NE(Log().find("\nERROR: Vellum Zeru 3.0 cannot render this document. Nothing was written.\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(Log().find("ERROR: " + m_strReason), std::string::npos) << Log();
    EXPECT_NE(Log().find("DEBUG: " + m_strReason), std::string::npos) << Log();
    std::istringstream log(Log());
    int nLines = 0;
    for (std::string strLine; std::getline(log, strLine); ++nLines)
        EXPECT_EQ(platform::PrintableUtf8(strLine), strLine) << "line " << nLines << " is not printable";
    EXPECT_GT(nLines, 0);
}

TEST_F(FaxBackendTest, SaysWhenTheRendererIsMissing)
{
    WriteEarlierJob();
    m_settings.m_strGhostscript = (m_base / "no-such-gs").string();
    EXPECT_EQ(Print(Document("some.ps", testdocs::NumberedPagesPostScript(1))), EJobResult::Failed);
    EXPECT_NE(m_strReason.find("ghostscript package"), std::string::npos) << m_strReason;
    ExpectEarlierJobUntouched();
}

TEST_F(FaxBackendTest, StopsWhenTheSpoolerAsks)
{
    WriteEarlierJob();
    volatile std::sig_atomic_t stop = 1;
    m_settings.m_pStop = &stop;
    EXPECT_EQ(Print(Document("some.ps", testdocs::NumberedPagesPostScript(1))), EJobResult::Stopped);
    ExpectEarlierJobUntouched();
}

// Another thread's cancel signal stops a renderer that would not end by itself at once, long
// before the renderer is taken to hang.
TEST_F(FaxBackendTest, StopsARendererThatLoopsWhenCancelled)
{
    WriteEarlierJob();
    platform::CCancelSignal cancel;
    m_settings.m_pCancel = &cancel;
    std::thread canceller(
        [&]
        {
            // Once the renderer's log is there, it runs.
            for (int i = 0; i < 2000 && !cancel.IsRaised(); ++i)
            {
                std::error_code error;
                for (fs::recursive_directory_iterator it(m_settings.m_driveRoot, error), end;
                     !error && it != end; it.increment(error))
                    if (it->path().filename() == "render-0.log")
                        cancel.Raise();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            cancel.Raise();
        });
    EXPECT_EQ(Print(Document("looping.ps", "%!PS\n{ } loop\n")), EJobResult::Stopped) << m_strReason;
    canceller.join();
    ExpectEarlierJobUntouched();
}

} // namespace
