#include "pages/DocumentFile.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "tests/pages/TestDocuments.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

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
        // The converter's private folders go here, where the test sees whether they are left over.
        const char* pszTemp = std::getenv("TMPDIR");
        m_strOldTemp = pszTemp != nullptr ? pszTemp : "";
        m_temp = m_base / "tmp";
        fs::create_directories(m_temp);
        ::setenv("TMPDIR", m_temp.c_str(), 1);
        m_settings.m_ppd = VELLUM_PPD_FILE;
        m_drive = m_base / "root" / "c";
        fs::create_directories(m_drive);
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "Page.tmp", std::string(1, '\x02')));
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "quill.1", "earlier page"));
    }
    void TearDown() override
    {
        if (m_strOldTemp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", m_strOldTemp.c_str(), 1);
        fs::remove_all(m_base);
    }

    void ExpectEarlierJobUntouched()
    {
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "Page.tmp", 16).value_or(""), std::string(1, '\x02'));
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "quill.1", 64).value_or(""), "earlier page");
        EXPECT_EQ(std::distance(fs::directory_iterator(m_drive), fs::directory_iterator()), 2);
        ExpectNoFolderLeft();
    }

    void ExpectNoFolderLeft()
    {
        EXPECT_TRUE(fs::is_empty(m_temp)) << "the converter's private folder was left behind";
    }

    fs::path Write(const std::string& strName, const std::string& strContent)
    {
        const fs::path path = m_base / strName;
        EXPECT_TRUE(platform::WriteWholeFile(path, strContent));
        return path;
    }

    fs::path m_base;
    fs::path m_drive;
    fs::path m_temp;
    std::string m_strOldTemp;
    driver::SDocumentSettings m_settings;
};

TEST_F(DocumentFileTest, PdfAndPostScriptGiveThePrintersPages)
{
    const fs::path pdf = m_base / "two.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), "");
    const fs::path ps = m_base / "two.ps";
    ASSERT_TRUE(platform::WriteWholeFile(ps, testdocs::TwoPagePostScript()));
    // A letter PDF passes the queue's pdftopdf unchanged. PostScript becomes PDF first (gstopdf),
    // which draws a few glyph and stroke edges apart from Ghostscript on the PostScript itself;
    // InstallerCupsTest holds both to the queue's own pages byte for byte.
    struct SCase
    {
        fs::path m_document;
        std::size_t m_nMostDiffering;
    };
    for (const SCase& test : {SCase{pdf, 0}, SCase{ps, platform::RASTER_BYTES / 1000}})
    {
        const auto result = driver::RenderDocumentFile(test.m_document, m_drive, m_settings);
        ASSERT_EQ(result.m_eResult, EJobResult::Done) << result.m_strReason;
        EXPECT_EQ(result.m_nPages, 2);
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "Page.tmp", 16).value_or(""), std::string(1, '\x03'));
        std::string strError;
        const auto reference = testdocs::RenderReference(test.m_document, strError);
        ASSERT_EQ(reference.size(), 2u) << strError;
        for (int nPage = 1; nPage <= 2; ++nPage)
        {
            const auto raster = testdocs::ReadRasterFile(m_drive / platform::RasterFileName(nPage));
            ASSERT_EQ(raster.size(), platform::RASTER_BYTES);
            std::size_t nDiffering = 0;
            for (std::size_t i = 0; i < raster.size(); ++i)
                nDiffering += raster[i] != reference[nPage - 1][i];
            EXPECT_LE(nDiffering, test.m_nMostDiffering) << test.m_document << " page " << nPage;
        }
        ExpectNoFolderLeft();
    }
}

TEST_F(DocumentFileTest, RefusalsLeaveTheEarlierPagesAsTheyWere)
{
    const fs::path damaged = m_base / "damaged.pdf";
    ASSERT_TRUE(
        platform::WriteWholeFile(damaged, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >>\ngarbage"));
    const fs::path longPdf = m_base / "long.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(255), longPdf), "");
    const fs::path brokenPicture = Write("picture.png", "\x89PNG\r\n\x1a\n\x1b[31m no image");
    std::string strLong;
    for (int nPage = 1; nPage < 255; ++nPage)
        strLong += "page\f";
    const fs::path longText = Write("long.txt", strLong + "last page\n");
    // A FIFO would block a reader that waits for a writer: it is no document.
    const fs::path pipe = m_base / "pipe.pdf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string strKinds = "it takes PDF, PostScript, PNG, JPEG or TIFF images, and plain text";
    struct SCase
    {
        fs::path m_document;
        const char* m_pszSays;
    };
    for (const SCase& test :
         {SCase{damaged, "damaged.pdf cannot be converted for the fax printer"}, SCase{longPdf, "255 pages"},
          SCase{m_base / "missing.pdf", "cannot be opened"}, SCase{m_base, "not a document file"},
          SCase{pipe, "not a document file"}, SCase{Write("empty.txt", ""), "is empty"},
          SCase{brokenPicture, "cannot be converted for the fax printer (cupsfilter: exit code 1"},
          SCase{longText, "The job has 255 pages"},
          SCase{Write("binary.dat", std::string("\x7f"
                                                "ELF\x02\x01\x00\x00",
                                                8)),
                strKinds.c_str()},
          SCase{Write("latin1.txt", "caf\xe9 au lait\n"), "latin1.txt is text, but not in UTF-8"},
          SCase{Write("cut.txt", "a cut character \xe2\x82"), "cut.txt is text, but not in UTF-8"}})
    {
        const auto result = driver::RenderDocumentFile(test.m_document, m_drive, m_settings);
        EXPECT_NE(result.m_eResult, EJobResult::Done) << test.m_document;
        EXPECT_FALSE(result.m_strReason.empty()) << test.m_document;
        EXPECT_NE(result.m_strReason.find(test.m_pszSays), std::string::npos) << result.m_strReason;
        EXPECT_EQ(result.m_strReason.find('\x1b'), std::string::npos) << "a control byte reached the message";
        EXPECT_EQ(result.m_strReason.find("vellum-document-"), std::string::npos) << result.m_strReason;
        ExpectEarlierJobUntouched();
    }
}

// Every bound stops the file with a message that names it, and changes nothing.
TEST_F(DocumentFileTest, DocumentsBeyondTheBoundsAreRefusedBeforeTheyTakeTheComputer)
{
    // Image headers of 60000 x 60000 pixels, the pixels themselves never read.
    const std::string strPng =
        std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xea\x60\0\0\xea\x60\x08\0\0\0\0", 29);
    const std::string strJpeg =
        std::string("\xff\xd8\xff\xe0\0\x04..\xff\xc0\0\x0b\x08\xea\x60\xea\x60\x01\x01\x11\0", 21);
    const std::string strTiff = std::string(
        "MM\0*\0\0\0\x08\0\x02\x01\x00\0\x04\0\0\0\x01\0\0\xea\x60\x01\x01\0\x03\0\0\0\x01\xea\x60\0\0", 34);
    const fs::path picture = m_base / "page.png";
    ASSERT_EQ(testdocs::MakeImage(testdocs::TwoPagePostScript(), "pnggray", picture), "");
    struct SCase
    {
        fs::path m_document;
        std::uint64_t m_nMaxMemoryBytes;
        std::uint64_t m_nMaxDiskBytes;
        const char* m_pszSays;
    };
    const auto nMemory = driver::MAX_RENDER_MEMORY_BYTES;
    const auto nDisk = driver::MAX_RENDER_DISK_BYTES;
    for (const SCase& test :
         {SCase{Write("huge.png", strPng), nMemory, nDisk, "is an image of 60000 x 60000 pixels"},
          SCase{Write("huge.jpg", strJpeg), nMemory, nDisk, "is an image of 60000 x 60000 pixels"},
          SCase{Write("huge.tif", strTiff), nMemory, nDisk, "is an image of 60000 x 60000 pixels"},
          // The picture's PDF is some 230 KB.
          SCase{picture, nMemory, 64 * 1024, "needs more than 64 KB of disk"},
          SCase{Write("greedy.ps",
                      "%!PS\n/a 100000 array def 0 1 99999 { a exch 100000 string put } for showpage\n"),
                256 * 1024 * 1024, nDisk, "needs more than 256 MB of memory"},
          SCase{Write("long.txt", std::string(30000, '\n')), nMemory, nDisk,
                "long.txt has 30000 lines of text"},
          SCase{Write("reaching.ps", "%!PS\n/f (/etc/passwd) (r) file def showpage\n"), nMemory, nDisk,
                "reaching.ps could not be rendered for the fax printer"}})
    {
        auto settings = m_settings;
        settings.m_nMaxMemoryBytes = test.m_nMaxMemoryBytes;
        settings.m_nMaxDiskBytes = test.m_nMaxDiskBytes;
        const auto result = driver::RenderDocumentFile(test.m_document, m_drive, settings);
        EXPECT_EQ(result.m_eResult, EJobResult::Refused) << test.m_document;
        EXPECT_NE(result.m_strReason.find(test.m_pszSays), std::string::npos) << result.m_strReason;
        ExpectEarlierJobUntouched();
    }
}

// A converter that never ends (PostScript that loops) is stopped by the cancel signal, long
// before its time limit, and the earlier pages stay.
TEST_F(DocumentFileTest, CancellingStopsTheConverterAndChangesNothing)
{
    const fs::path looping = Write("looping.ps", "%!PS\n{ } loop\n");
    platform::CCancelSignal cancel;
    auto settings = m_settings;
    settings.m_pCancel = &cancel;
    std::thread canceller(
        [&]
        {
            // Once the converter writes its PDF it runs.
            for (int i = 0; i < 2000 && !cancel.IsRaised(); ++i)
            {
                std::error_code error;
                for (fs::directory_iterator it(m_temp, error), end; !error && it != end; it.increment(error))
                    if (fs::exists(it->path() / "document.pdf", error))
                        cancel.Raise();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            cancel.Raise();
        });
    const auto result = driver::RenderDocumentFile(looping, m_drive, settings);
    canceller.join();
    EXPECT_EQ(result.m_eResult, EJobResult::Stopped) << result.m_strReason;
    ExpectEarlierJobUntouched();
}

TEST_F(DocumentFileTest, ImagesAndTextAreConvertedLikeTheQueueDoesAndRendered)
{
    struct SCase
    {
        fs::path m_document;
        int m_nPages;
    };
    std::vector<SCase> aCases;
    for (const char* pszDevice : {"pnggray", "jpeggray", "tiffgray"})
    {
        const fs::path image = m_base / (std::string("page.") + pszDevice);
        ASSERT_EQ(testdocs::MakeImage(testdocs::TwoPagePostScript(), pszDevice, image), "");
        aCases.push_back({image, 1});
    }
    aCases.push_back(
        {Write("letter.txt", "Dear Ada,\n\tthe pages follow.\fSecond page: \xE2\x82\xAC 12\n"), 2});
    for (const SCase& test : aCases)
    {
        const auto result = driver::RenderDocumentFile(test.m_document, m_drive, m_settings);
        ASSERT_EQ(result.m_eResult, EJobResult::Done) << test.m_document << ": " << result.m_strReason;
        EXPECT_EQ(result.m_nPages, test.m_nPages) << test.m_document;
        EXPECT_EQ(platform::ReadWholeFile(m_drive / "Page.tmp", 16).value_or(""),
                  std::string(1, static_cast<char>(test.m_nPages + 1)));
        const auto raster = testdocs::ReadRasterFile(m_drive / platform::RasterFileName(1));
        ASSERT_EQ(raster.size(), platform::RASTER_BYTES) << test.m_document;
        ExpectNoFolderLeft();
        if (test.m_nPages != 1)
        {
            EXPECT_NE(std::count(raster.begin(), raster.end(), 1), 0) << "the text's first page is blank";
            continue;
        }
        // The image fills the letter page upright at its own size, as the page it was made
        // from: the black box at 100..300 x 100..400 points is black, the corner white.
        EXPECT_EQ(raster[1500 * platform::RASTER_ROW_BYTES + 555], 1) << test.m_document;
        EXPECT_EQ(raster[100 * platform::RASTER_ROW_BYTES + 1600], 0) << test.m_document;
    }
}

TEST_F(DocumentFileTest, ConverterTroubleIsReportedAndChangesNothing)
{
    const fs::path picture = m_base / "page.png";
    ASSERT_EQ(testdocs::MakeImage(testdocs::TwoPagePostScript(), "pnggray", picture), "");
    auto render = [&](const driver::SDocumentSettings& settings, const char* pszSays)
    {
        const auto result = driver::RenderDocumentFile(picture, m_drive, settings);
        EXPECT_NE(result.m_eResult, EJobResult::Done);
        EXPECT_NE(result.m_strReason.find(pszSays), std::string::npos) << result.m_strReason;
        ExpectEarlierJobUntouched();
    };
    auto settings = m_settings;
    settings.m_ppd = m_base / "nowhere.ppd";
    render(settings, "is missing, so documents cannot be converted for it; run the Installer again");
    settings = m_settings;
    settings.m_strCupsfilter = (m_base / "no-cupsfilter").string();
    render(settings, "cupsfilter cannot be started");
    // A converter that hangs is stopped at the time limit.
    settings.m_strCupsfilter = Write("hanging-converter", "#!/bin/sh\nexec sleep 60\n").string();
    ::chmod(settings.m_strCupsfilter.c_str(), 0700);
    settings.m_durConvertTimeout = std::chrono::seconds(1);
    render(settings, "was not converted for the fax printer within 1 s");

    // The converter works in a folder and on a file that are the user's alone.
    const fs::path modes = m_base / "modes";
    settings = m_settings;
    settings.m_strCupsfilter =
        Write("watched-converter", "#!/bin/sh\nfor a; do last=$a; done\n"
                                   "modes=$(stat -L -c %a \"${last%/*}\" /proc/$$/fd/1)\n"
                                   "echo \"$modes\" > '" +
                                       modes.string() + "'\nexec '" +
                                       platform::FindSystemProgram("cupsfilter") + "' \"$@\"\n")
            .string();
    ::chmod(settings.m_strCupsfilter.c_str(), 0700);
    const auto result = driver::RenderDocumentFile(picture, m_drive, settings);
    EXPECT_EQ(result.m_eResult, EJobResult::Done) << result.m_strReason;
    EXPECT_EQ(platform::ReadWholeFile(modes, 64).value_or(""), "700\n600\n");
    ExpectNoFolderLeft();
}

} // namespace
