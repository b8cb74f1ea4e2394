#include "pages/PageFileStage.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using driver::CPageFileStage;
using platform::RASTER_BYTES;

class PageFileStageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string strTemplate = (fs::temp_directory_path() / "pagestage.XXXXXX").string();
        ASSERT_NE(::mkdtemp(strTemplate.data()), nullptr);
        m_base = strTemplate;
        m_drive = m_base / "root" / "c";
    }
    void TearDown() override
    {
        (void)::umount2(m_drive.c_str(), MNT_DETACH); // a small file system of a test, if any
        fs::remove_all(m_base);
    }

    static std::vector<std::uint8_t> Raster(std::uint8_t fill)
    {
        std::vector<std::uint8_t> raster(platform::RASTER_BYTES, 0);
        raster[0] = fill;
        raster[platform::RASTER_BYTES - 1] = fill;
        return raster;
    }

    std::string Read(const std::string& strName) const
    {
        return platform::ReadWholeFile(m_drive / strName, 4 * platform::RASTER_BYTES).value_or("<missing>");
    }

    // What the folder holds besides the page files: nothing, once a job is done or given up.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_drive))
        {
            const std::string strName = entry.path().filename().string();
            if (strName != "Page.tmp" && strName.rfind("quill.", 0) != 0)
                names.push_back(strName);
        }
        return names;
    }

    // The page files of an earlier job, which a failed job must leave alone.
    void WriteEarlierJob()
    {
        fs::create_directories(m_drive);
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "Page.tmp", std::string(1, '\x02')));
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "quill.1", "earlier page"));
    }

    fs::path m_base;
    fs::path m_drive;
};

TEST_F(PageFileStageTest, CommitsRastersAndThePageCount)
{
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin()) << stage.Error();
    EXPECT_TRUE(fs::is_directory(m_drive)) << "the drive root is made when missing";
    ASSERT_TRUE(stage.AddPage(Raster(1)));
    ASSERT_TRUE(stage.AddPage(Raster(7)));
    ASSERT_TRUE(stage.AddPage(Raster(255)));
    EXPECT_FALSE(fs::exists(m_drive / "quill.1")) << "nothing is visible before the commit";
    EXPECT_FALSE(fs::exists(m_drive / "Page.tmp"));
    ASSERT_TRUE(stage.Commit()) << stage.Error();

    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x04'));
    const auto page2 = Read("quill.2");
    ASSERT_EQ(page2.size(), platform::RASTER_BYTES);
    EXPECT_EQ(static_cast<std::uint8_t>(page2.front()), 7);
    EXPECT_EQ(static_cast<std::uint8_t>(Read("quill.3").back()), 255);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PageFileStageTest, ReplacesAnEarlierJob)
{
    WriteEarlierJob();
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin());
    ASSERT_TRUE(stage.AddPage(Raster(1)));
    ASSERT_TRUE(stage.Commit()) << stage.Error();
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x02'));
    EXPECT_EQ(Read("quill.1").size(), platform::RASTER_BYTES);
}

TEST_F(PageFileStageTest, AShorterJobRemovesTheRastersOfTheLongerOneBeforeIt)
{
    fs::create_directories(m_drive);
    for (int nPage : {1, 2, 3, 4, 254})
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / platform::RasterFileName(nPage), "older page"));
    ASSERT_TRUE(platform::WriteWholeFile(m_drive / "quill4.tif", "an older fax page"));
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin());
    for (int nPage = 1; nPage <= 3; ++nPage)
        ASSERT_TRUE(stage.AddPage(Raster(1)));
    ASSERT_TRUE(stage.Commit()) << stage.Error();
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x04'));
    EXPECT_EQ(Read("quill.3").size(), platform::RASTER_BYTES);
    EXPECT_FALSE(fs::exists(m_drive / "quill.4"));
    EXPECT_FALSE(fs::exists(m_drive / "quill.254"));
    // Fax pages are Pagemill's and Sendwell's business, not the printer's.
    EXPECT_EQ(Read("quill4.tif"), "an older fax page");
}

TEST_F(PageFileStageTest, RefusesAPagePastTheLimitAndLeavesTheEarlierJob)
{
    // The real limit (254) is tried with whole jobs in FaxBackendTest; three pages show the rule.
    constexpr int LIMIT = 3;
    WriteEarlierJob();
    {
        CPageFileStage stage(m_drive, LIMIT);
        ASSERT_TRUE(stage.Begin());
        const auto raster = Raster(1);
        for (int nPage = 1; nPage <= LIMIT; ++nPage)
            ASSERT_TRUE(stage.AddPage(raster)) << "page " << nPage << ": " << stage.Error();
        EXPECT_FALSE(stage.AddPage(raster));
        EXPECT_TRUE(stage.TooManyPages());
        EXPECT_NE(stage.Error().find("at most 3"), std::string::npos) << stage.Error();
        EXPECT_TRUE(fs::is_empty(stage.StagingDirectory())) << "the staged pages go at once";
        // The caller gives the job up: the stage goes with it.
    }
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x02'));
    EXPECT_EQ(Read("quill.1"), "earlier page");
    EXPECT_FALSE(fs::exists(m_drive / "quill.2"));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PageFileStageTest, RefusesAJobWithoutPagesOrWithABadRaster)
{
    WriteEarlierJob();
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin());
    EXPECT_FALSE(stage.AddPage(std::vector<std::uint8_t>(platform::RASTER_BYTES - 1)));
    EXPECT_FALSE(stage.Commit());
    EXPECT_FALSE(stage.Error().empty());
    stage.Discard();
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x02'));
    EXPECT_EQ(Read("quill.1"), "earlier page");
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PageFileStageTest, StagesPagesInAnyOrderButCommitsNoJobWithAPageMissing)
{
    // Several renderers deliver their pages as they come.
    WriteEarlierJob();
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin());
    ASSERT_TRUE(stage.AddPage(3, Raster(3)));
    ASSERT_TRUE(stage.AddPage(1, Raster(1)));
    EXPECT_FALSE(stage.Commit()) << "page 2 is not there";
    EXPECT_NE(stage.Error().find("page 2 of 3 is missing"), std::string::npos) << stage.Error();
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x02')) << "the earlier job stays whole";
    EXPECT_EQ(Read("quill.1"), "earlier page");

    // Cleared, the job is staged afresh; the pages of the first try are gone with it.
    stage.ClearPages();
    EXPECT_EQ(stage.Pages(), 0);
    ASSERT_TRUE(stage.AddPage(2, Raster(2)));
    ASSERT_TRUE(stage.AddPage(1, Raster(1)));
    ASSERT_TRUE(stage.AddPage(2, Raster(7))) << "a page staged again replaces the first";
    EXPECT_EQ(stage.Pages(), 2);
    ASSERT_TRUE(stage.Commit()) << stage.Error();
    EXPECT_EQ(Read("Page.tmp"), std::string(1, '\x03'));
    EXPECT_EQ(static_cast<std::uint8_t>(Read("quill.1").front()), 1);
    EXPECT_EQ(static_cast<std::uint8_t>(Read("quill.2").front()), 7);
    EXPECT_FALSE(fs::exists(m_drive / "quill.3"));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PageFileStageTest, NeverLeavesAPageCountBesideRastersOfAnotherJob)
{
    // Page 2 cannot be moved into place (a folder has its name). The commit fails; the old
    // count must not survive to describe a mix of old and new rasters.
    WriteEarlierJob();
    fs::create_directories(m_drive / "quill.2" / "occupied");
    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin());
    ASSERT_TRUE(stage.AddPage(Raster(1)));
    ASSERT_TRUE(stage.AddPage(Raster(1)));
    EXPECT_FALSE(stage.Commit());
    EXPECT_NE(stage.Error().find("page 2"), std::string::npos) << stage.Error();
    EXPECT_FALSE(fs::exists(m_drive / "Page.tmp"));
}

TEST_F(PageFileStageTest, ReportsADriveRootItCannotWrite)
{
    fs::create_directories(m_base / "root");
    ASSERT_TRUE(platform::WriteWholeFile(m_drive, "a file where the folder should be"));
    CPageFileStage stage(m_drive);
    EXPECT_FALSE(stage.Begin());
    EXPECT_NE(stage.Error().find(m_drive.string()), std::string::npos) << stage.Error();
}

TEST_F(PageFileStageTest, WritesIntoTheDriveRootItOpenedThoughItsNameIsSwappedForALink)
{
    const auto elsewhere = m_base / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(m_drive.parent_path());
    fs::create_directory_symlink(elsewhere, m_drive);
    CPageFileStage linked(m_drive);
    EXPECT_FALSE(linked.Begin()) << "a drive root that is a link is not followed";
    EXPECT_NE(linked.Error().find("symbolic link"), std::string::npos) << linked.Error();
    fs::remove(m_drive);

    CPageFileStage stage(m_drive);
    ASSERT_TRUE(stage.Begin()) << stage.Error();
    ASSERT_TRUE(stage.AddPage(Raster(1)));
    // The folder is moved away during the job and a link to another folder takes its name.
    const auto moved = m_base / "moved";
    fs::rename(m_drive, moved);
    fs::create_directory_symlink(elsewhere, m_drive);
    ASSERT_TRUE(stage.AddPage(Raster(2)));
    ASSERT_TRUE(stage.Commit()) << stage.Error();
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing went where the link leads";
    std::vector<std::string> aNames;
    for (const auto& entry : fs::directory_iterator(moved))
        aNames.push_back(entry.path().filename().string());
    std::sort(aNames.begin(), aNames.end());
    EXPECT_EQ(aNames, (std::vector<std::string>{"Page.tmp", "quill.1", "quill.2"}));
}

TEST_F(PageFileStageTest, CountsPagesPastAFullDiskSoThatTooManyAreStillRefusedAsSuch)
{
    // A disk with room for two pages: a file system of the test's own (needs root).
    fs::create_directories(m_drive);
    if (::mount("tmpfs", m_drive.c_str(), "tmpfs", 0, "size=8m,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    struct SCase
    {
        int nPages;
        bool bTooMany;
        const char* pszSays;
    };
    const SCase aCases[] = {{4, true, "more than 3 pages"}, {3, false, "not enough room for the pages"}};
    for (const auto& test : aCases)
    {
        SCOPED_TRACE(test.nPages);
        CPageFileStage stage(m_drive, 3);
        ASSERT_TRUE(stage.Begin()) << stage.Error();
        bool bAccepted = true;
        for (int nPage = 1; nPage <= test.nPages && bAccepted; ++nPage)
            bAccepted = stage.AddPage(Raster(1));
        EXPECT_EQ(stage.TooManyPages(), test.bTooMany);
        EXPECT_TRUE(fs::is_empty(stage.StagingDirectory())) << "the disk has its room back at once";
        EXPECT_FALSE(bAccepted && stage.Commit());
        EXPECT_NE(stage.Error().find(test.pszSays), std::string::npos) << stage.Error();
    }
    EXPECT_TRUE(fs::is_empty(m_drive));
}

} // namespace
