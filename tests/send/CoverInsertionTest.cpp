// The cover page put in as page 1 of the waiting fax: the printed rasters moved up, the limit,
// an insertion cut short and finished, a bad template, and a retried send through Pagemill to a
// real SMTP server, whose first attachment libtiff decodes to the cover.

#include "sender/send/CoverInsertion.h"

#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/common/Branding.h"
#include "sender/faxpage/FaxPageReader.h"
#include "sender/send/SendOperation.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnusedPort.h"

#include <algorithm>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class CoverInsertionTest : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        fs::create_directories(m_dir / "c");
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
    // A print job of nPages: each raster says which page it is, or is a real page raster.
    void Print(int nPages, bool bRealRasters = false) const
    {
        for (int nPage = 1; nPage <= nPages; ++nPage)
            Write(platform::RasterFileName(nPage),
                  bRealRasters ? Raster(nPage) : "page " + std::to_string(nPage));
        Write(platform::PAGE_COUNT_FILE_NAME,
              std::string(1, static_cast<char>(platform::PageCountByte(nPages))));
    }
    static std::string Raster(int nSeed)
    {
        std::string strRaster(platform::RASTER_BYTES, '\0');
        for (std::size_t i = 0; i < platform::RASTER_BYTES; i += 89 + static_cast<std::size_t>(nSeed))
            strRaster[i] = 1;
        return strRaster;
    }
    // Every file of the drive root with what it holds.
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
        request.m_fields.m_strSenderName = "Ann";
        request.m_template = templatePath;
        return request;
    }
    SSendJob Job(int nPort, std::function<SConverterRun()> fnConverter) const
    {
        SSendJob job;
        job.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
        job.m_strFrom = "ann@example.org";
        job.m_strRecipientAddress = GatewayAddress("Bob", "4930123");
        job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
        job.m_fnRunConverter = std::move(fnConverter);
        job.m_timeouts.m_durConnect = job.m_timeouts.m_durGreeting = job.m_timeouts.m_durCommand = 5s;
        job.m_timeouts.m_durDataStart = job.m_timeouts.m_durSend = job.m_timeouts.m_durDataEnd = 5s;
        job.m_cover = Request();
        return job;
    }
};

// The printed pages move up one number and keep what they hold; the cover is page 1 and counted.
// A second insertion for the same fax adds nothing. 254 pages leave no room: nothing moves.
TEST_F(CoverInsertionTest, TheCoverBecomesPageOneAndThePrintedPagesMoveUp)
{
    for (const int nPrinted : {1, 3, 253, 254})
    {
        fs::remove_all(m_dir / "c");
        fs::create_directories(m_dir / "c");
        Print(nPrinted);
        const auto aBefore = Files();
        const SCoverInsertion insertion = InsertCoverPage(Request());
        if (nPrinted == platform::MAX_PAGES)
        {
            EXPECT_EQ(insertion.m_eResult, ECoverInsertion::TooManyPages);
            EXPECT_EQ(
                CoverInsertionText(insertion),
                "Sorry, a fax may have at most 254 pages, the cover page included, and this one has 254 "
                "without it, so nothing was sent; please send it without a cover page");
            EXPECT_EQ(Files(), aBefore);
            continue;
        }
        ASSERT_EQ(insertion.m_eResult, ECoverInsertion::Inserted) << insertion.m_strError;
        for (int nPage = 1; nPage <= nPrinted; ++nPage)
            ASSERT_EQ(Read(platform::RasterFileName(nPage + 1)), "page " + std::to_string(nPage)) << nPrinted;
        const std::string strCover = Read(platform::RasterFileName(1));
        ASSERT_EQ(strCover.size(), platform::RASTER_BYTES);
        EXPECT_TRUE(std::any_of(strCover.begin(), strCover.end(), [](char ch) { return ch != 0; }));
        EXPECT_EQ(Read(platform::PAGE_COUNT_FILE_NAME),
                  std::string(1, static_cast<char>(platform::PageCountByte(nPrinted + 1))));
        EXPECT_TRUE(WaitingFaxHasCover());

        const auto aCovered = Files();
        EXPECT_EQ(InsertCoverPage(Request()).m_eResult, ECoverInsertion::AlreadyIn);
        EXPECT_EQ(Files(), aCovered);
    }
}

// A crash may stop an insertion after any step; the next send finishes it and no page is lost.
// The steps are replayed by hand from the note on: moves of the rasters from the last down, then
// the cover taking page 1.
TEST_F(CoverInsertionTest, AnInsertionCutShortIsFinishedWithoutLosingAPage)
{
    for (int nStepsDone = 0; nStepsDone <= 4; ++nStepsDone)
    {
        fs::remove_all(m_dir / "c");
        fs::create_directories(m_dir / "c");
        Print(3);
        Write("quill.4", "an older job's page"); // above this job: the first move replaces it
        Write(COVER_STAGING_FILE_NAME, "cover");
        struct stat info = {};
        ASSERT_EQ(::stat(Drive(platform::PAGE_COUNT_FILE_NAME).c_str(), &info), 0);
        const std::int64_t nModified =
            std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
        Write(COVER_MARK_FILE_NAME,
              "3 " + std::to_string(info.st_ino) + " " + std::to_string(nModified) + " 0 0\n");
        for (int nStep = 0; nStep < nStepsDone; ++nStep)
            fs::rename(Drive(nStep < 3 ? platform::RasterFileName(3 - nStep) : COVER_STAGING_FILE_NAME),
                       Drive(platform::RasterFileName(nStep < 3 ? 4 - nStep : 1)));
        EXPECT_FALSE(WaitingFaxHasCover());

        std::string strError;
        ASSERT_TRUE(FinishCoverInsertion(strError)) << strError;
        EXPECT_EQ(Read("quill.1"), "cover") << nStepsDone;
        for (int nPage = 1; nPage <= 3; ++nPage)
            EXPECT_EQ(Read(platform::RasterFileName(nPage + 1)), "page " + std::to_string(nPage))
                << nStepsDone;
        EXPECT_EQ(Read(platform::PAGE_COUNT_FILE_NAME), "\x05");
        EXPECT_TRUE(WaitingFaxHasCover());
        EXPECT_FALSE(fs::exists(Drive(COVER_STAGING_FILE_NAME)));
    }

    // A new print job in place of the covered one: the note is stale and goes, nothing moves.
    Print(2);
    const auto aPrinted = Files();
    std::string strError;
    EXPECT_TRUE(FinishCoverInsertion(strError));
    EXPECT_FALSE(WaitingFaxHasCover());
    auto aExpected = aPrinted;
    aExpected.erase(COVER_MARK_FILE_NAME);
    EXPECT_EQ(Files(), aExpected);
}

// A template that cannot be read or drawn refuses the send, names the template, runs no
// converter and leaves every page file as it was.
TEST_F(CoverInsertionTest, ABadTemplateSendsNothingAndLeavesEveryFileAsItWas)
{
    struct SCase
    {
        const char* pszName;
        const char* pszContent; // null: no file
    };
    const SCase aCases[] = {
        {"missing.svg", nullptr},
        {"notes.svg", "Dear Bob, this is no picture"},
        {"nofields.svg",
         "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><text>Hi</text></svg>"},
    };
    Print(3);
    const auto aBefore = Files();
    for (const SCase& test : aCases)
    {
        if (test.pszContent != nullptr)
        {
            ASSERT_TRUE(platform::WriteWholeFile(m_dir / test.pszName, test.pszContent));
        }
        int nConversions = 0;
        SSendJob job = Job(UnusedPort(),
                           [&nConversions]
                           {
                               ++nConversions;
                               return SConverterRun{true, ""};
                           });
        job.m_cover = Request(m_dir / test.pszName);
        const SSendResult result = RunSendJob(job);
        EXPECT_EQ(result.m_eOutcome, ESendOutcome::CoverFailed) << test.pszName;
        const std::string strText = SendOutcomeText(result);
        EXPECT_TRUE(strText.starts_with("Sorry, the cover page cannot be drawn, so nothing was sent: "))
            << strText;
        EXPECT_NE(strText.find(test.pszName), std::string::npos) << strText;
        EXPECT_FALSE(PagesAreGone(result));
        EXPECT_EQ(nConversions, 0);
        EXPECT_EQ(Files(), aBefore) << test.pszName;
    }
}

// The whole road: a printed fax and a cover through the real Pagemill; the first send finds no
// server (sent from a worker thread), the second sends the pages the first made, with one cover, to aiosmtpd.
// The first attachment is quill1.tif, which libtiff decodes to the cover's raster.
TEST_F(CoverInsertionTest, ARetriedSendDeliversOneCoverAsTheFirstAttachment)
{
    Print(2, true);
    int nConversions = 0;
    const auto pagemill = [this, &nConversions]
    {
        ++nConversions;
        fs::copy_file(Drive("quill.1"), m_dir / "cover.raster");
        platform::SRunOptions options;
        options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + m_dir.string()});
        options.m_durTimeout = 120s;
        const auto run = platform::RunProgram({PAGEMILL_PROGRAM}, options);
        return SConverterRun{run.Succeeded(), run.Describe()};
    };
    // On a worker thread, as the main dialog runs it: the cover is drawn there.
    const SSendResult failed =
        std::async(std::launch::async, [&] { return RunSendJob(Job(UnusedPort(), pagemill)); }).get();
    ASSERT_EQ(failed.m_eOutcome, ESendOutcome::ConnectFailed);
    EXPECT_EQ(nConversions, 1);

    std::vector<std::string> aArgs = {"--from", "ann@example.org", "--to", GatewayAddress("Bob", "4930123")};
    for (int nPage = 1; nPage <= 3; ++nPage)
        aArgs.push_back(Drive(platform::FaxPageFileName(nPage)).string());
    CSmtpPeer peer;
    const int nPort = peer.Start(aArgs);
    ASSERT_NE(nPort, 0);
    const SSendResult sent = RunSendJob(Job(nPort, pagemill));
    ASSERT_EQ(sent.m_eOutcome, ESendOutcome::Sent) << sent.m_strDetail;
    std::string strReport;
    EXPECT_TRUE(peer.Finish(strReport)) << strReport;
    EXPECT_EQ(nConversions, 1);
    EXPECT_EQ(sent.m_nPages, 3);
    EXPECT_TRUE(sent.m_bCoverSent);
    EXPECT_FALSE(fs::exists(Drive(COVER_MARK_FILE_NAME)));

    // Page 1 is the cover, page 2 the printed page 1.
    const std::pair<fs::path, std::string> aPages[] = {
        {Drive("quill1.tif"),
         platform::ReadWholeFile(m_dir / "cover.raster", platform::RASTER_BYTES).value()},
        {Drive("quill2.tif"), Raster(1)},
    };
    for (const auto& [path, strRaster] : aPages)
    {
        std::string strError;
        const auto page = ReadFaxPage(path, strError);
        ASSERT_TRUE(page) << strError;
        int nDifferent = 0;
        for (int y = 0; y < platform::RASTER_ROWS; ++y)
            for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            {
                const bool bBlack =
                    (page->m_aBits[std::size_t(y) * FAX_PAGE_ROW_BYTES + x / 8] >> (7 - x % 8)) & 1;
                nDifferent += bBlack != platform::IsBlackPixel(static_cast<std::uint8_t>(
                                            strRaster[std::size_t(y) * platform::RASTER_ROW_BYTES + x]));
            }
        EXPECT_EQ(nDifferent, 0) << path.filename();
    }
}

} // namespace
