// The cover page put in as page 1 of the waiting fax: the printed rasters moved up, the limit,
// an insertion cut short, a bad template, and a retried send through Pagemill to aiosmtpd.

#include "sender/send/CoverInsertion.h"

#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/faxpage/FaxPageReader.h"
#include "sender/send/SendOperation.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnusedPort.h"

#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace
{

namespace fs = std::filesystem;

class CoverInsertionTest : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        ::setenv("VELLUM_ROOT", m_dir.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VELLUM_ROOT");
        CTempFolderTest::TearDown();
    }

    fs::path Drive(const std::string& strName) const { return m_dir / "c" / strName; }
    std::string Read(const std::string& strName) const
    {
        return platform::ReadWholeFile(Drive(strName), platform::RASTER_BYTES).value_or("(none)");
    }
    void Write(const std::string& strName, const std::string& strData) const
    {
        ASSERT_TRUE(platform::WriteWholeFile(Drive(strName), strData, platform::EWriteMode::AtomicNoSync));
    }
    // A fresh print job of nPages whose rasters say which page they are, or are real rasters.
    void Print(int nPages, bool bReal = false) const
    {
        fs::remove_all(m_dir / "c");
        fs::create_directories(m_dir / "c");
        for (int nPage = 1; nPage <= nPages; ++nPage)
            Write(platform::RasterFileName(nPage),
                  bReal ? std::string(platform::RASTER_BYTES, '\1') : "page " + std::to_string(nPage));
        Write(platform::PAGE_COUNT_FILE_NAME, std::string(1, char(platform::PageCountByte(nPages))));
    }
    std::map<std::string, std::string> Files() const
    {
        std::map<std::string, std::string> aFiles;
        for (const auto& entry : fs::directory_iterator(m_dir / "c"))
            aFiles[entry.path().filename().string()] = Read(entry.path().filename().string());
        return aFiles;
    }
    static SCoverRequest Request(const fs::path& templatePath = DEFAULT_TEMPLATE)
    {
        SCoverRequest request;
        request.m_fields.m_strRecipient = "Bob Smith";
        request.m_fields.m_strRecipientFax = "4930123";
        request.m_template = templatePath;
        return request;
    }
    static SSendJob Job(int nPort, std::function<SConverterRun()> fnConverter)
    {
        SSendJob job;
        job.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
        job.m_strFrom = "ann@example.org";
        job.m_strRecipientAddress = GatewayAddress("Bob", "4930123");
        job.m_fnRunConverter = std::move(fnConverter);
        job.m_cover = Request();
        return job;
    }
};

// The printed pages move up one number and keep what they hold; the cover is page 1 and counted.
// 254 printed pages leave no room for it: nothing moves.
TEST_F(CoverInsertionTest, TheCoverBecomesPageOneAndThePrintedPagesMoveUp)
{
    for (const int nPrinted : {1, 3, 253, 254})
    {
        Print(nPrinted);
        const auto aBefore = Files();
        const SCoverInsertion insertion = InsertCoverPage(Request());
        if (nPrinted == platform::MAX_PAGES)
        {
            EXPECT_EQ(insertion.m_eResult, ECoverInsertion::TooManyPages);
            EXPECT_EQ(Files(), aBefore);
            continue;
        }
        ASSERT_EQ(insertion.m_eResult, ECoverInsertion::Inserted) << insertion.m_strError;
        for (int nPage = 1; nPage <= nPrinted; ++nPage)
            ASSERT_EQ(Read(platform::RasterFileName(nPage + 1)), "page " + std::to_string(nPage)) << nPrinted;
        EXPECT_EQ(Read("quill.1").size(), platform::RASTER_BYTES);
        EXPECT_EQ(Read("Page.tmp"), std::string(1, char(platform::PageCountByte(nPrinted + 1))));
        EXPECT_TRUE(WaitingFaxHasCover());
    }
}

// A crash may stop an insertion after any move (replayed here by hand from the note on: the
// rasters from the last down, then the cover); the next send finishes it and no page is lost.
// A new print job in the meantime makes the note stale: nothing moves.
TEST_F(CoverInsertionTest, AnInsertionCutShortIsFinishedWithoutLosingAPage)
{
    for (int nMovesDone = 0; nMovesDone <= 4; ++nMovesDone)
    {
        Print(3);
        Write("quill.4", "an older job's page");
        Write(COVER_STAGING_FILE_NAME, "cover");
        struct stat info = {};
        ASSERT_EQ(::stat(Drive("Page.tmp").c_str(), &info), 0);
        Write(COVER_MARK_FILE_NAME,
              "3 " + std::to_string(info.st_ino) + " " +
                  std::to_string(info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec) + " 0 0\n");
        for (int nMove = 0; nMove < nMovesDone; ++nMove)
            fs::rename(Drive(nMove < 3 ? platform::RasterFileName(3 - nMove) : COVER_STAGING_FILE_NAME),
                       Drive(platform::RasterFileName(nMove < 3 ? 4 - nMove : 1)));
        std::string strError;
        ASSERT_TRUE(FinishCoverInsertion(strError)) << strError;
        EXPECT_EQ(Files(),
                  (std::map<std::string, std::string>{{"quill.1", "cover"},
                                                      {"quill.2", "page 1"},
                                                      {"quill.3", "page 2"},
                                                      {"quill.4", "page 3"},
                                                      {"Page.tmp", "\x05"},
                                                      {".Page.sendwell", Read(".Page.sendwell")},
                                                      {COVER_MARK_FILE_NAME, Read(COVER_MARK_FILE_NAME)}}))
            << nMovesDone;
        EXPECT_TRUE(WaitingFaxHasCover());
    }
    Write("Page.tmp", "\x03");
    std::string strError;
    EXPECT_TRUE(FinishCoverInsertion(strError));
    EXPECT_FALSE(WaitingFaxHasCover());
    EXPECT_EQ(Read("quill.1"), "cover");
    EXPECT_FALSE(fs::exists(Drive(COVER_MARK_FILE_NAME)));
}

// A template that cannot be drawn refuses the send, names the template, runs no converter and
// leaves every page file as it was.
TEST_F(CoverInsertionTest, ABadTemplateSendsNothingAndLeavesEveryFileAsItWas)
{
    Print(3);
    const auto aBefore = Files();
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "notes.svg", "Dear Bob, this is no picture"));
    SSendJob job = Job(UnusedPort(), [] { return SConverterRun{false, "the converter ran"}; });
    job.m_cover = Request(m_dir / "notes.svg");
    const SSendResult result = RunSendJob(job);
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::CoverFailed);
    const std::string strText = SendOutcomeText(result);
    EXPECT_TRUE(strText.starts_with("Sorry, the cover page cannot be drawn, so nothing was sent: "))
        << strText;
    EXPECT_NE(strText.find("notes.svg"), std::string::npos) << strText;
    EXPECT_EQ(Files(), aBefore);
}

// The whole road: a printed page and a cover through the real Pagemill. The first send (from a
// worker thread, as the dialog sends) finds no server; the second sends the pages the first made,
// one cover among them, to aiosmtpd, and the first attachment decodes to the cover's raster.
TEST_F(CoverInsertionTest, ARetriedSendDeliversOneCoverAsTheFirstAttachment)
{
    Print(1, true);
    std::string strCover;
    int nConversions = 0;
    const auto pagemill = [this, &strCover, &nConversions]
    {
        ++nConversions;
        strCover = Read("quill.1");
        platform::SRunOptions options;
        options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + m_dir.string()});
        const auto run = platform::RunProgram({PAGEMILL_PROGRAM}, options);
        return SConverterRun{run.Succeeded(), run.Describe()};
    };
    auto failed = std::async(std::launch::async, [&] { return RunSendJob(Job(UnusedPort(), pagemill)); });
    ASSERT_EQ(failed.get().m_eOutcome, ESendOutcome::ConnectFailed);

    CSmtpPeer peer;
    const int nPort = peer.Start({"--from", "ann@example.org", "--to", GatewayAddress("Bob", "4930123"),
                                  Drive("quill1.tif").string(), Drive("quill2.tif").string()});
    const SSendResult sent = RunSendJob(Job(nPort, pagemill));
    ASSERT_EQ(sent.m_eOutcome, ESendOutcome::Sent) << sent.m_strDetail;
    std::string strReport;
    EXPECT_TRUE(peer.Finish(strReport)) << strReport;
    EXPECT_TRUE(sent.m_bCoverSent);
    EXPECT_EQ(nConversions, 1); // the fax pages were made: no second conversion, no second cover

    std::string strError;
    const auto page = ReadFaxPage(Drive("quill1.tif"), strError);
    ASSERT_TRUE(page) << strError;
    ASSERT_EQ(strCover.size(), platform::RASTER_BYTES);
    int nDifferent = 0;
    for (std::size_t y = 0; y < platform::RASTER_ROWS; ++y)
        for (std::size_t x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            nDifferent += ((page->m_aBits[y * FAX_PAGE_ROW_BYTES + x / 8] >> (7 - x % 8)) & 1) !=
                          platform::IsBlackPixel(std::uint8_t(strCover[y * platform::RASTER_ROW_BYTES + x]));
    EXPECT_EQ(nDifferent, 0);
}

} // namespace
