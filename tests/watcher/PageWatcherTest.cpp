#include "watcher/PageWatcher.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "tests/pages/TestDocuments.h"

#include <cerrno>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using watcher::CPageWatcher;
using watcher::EWatchEnd;
using watcher::SWatchSettings;

constexpr auto DEADLINE = std::chrono::seconds(10);

// Watchers run on threads of the test; each has a stand-in Sendwell, a script that notes in
// a log when it starts and ends, and stays open until a "release" file exists.
class PageWatcherTest : public ::testing::Test
{
protected:
    struct SRunning
    {
        volatile std::sig_atomic_t m_nStop = 0;
        std::future<EWatchEnd> m_end;
    };

    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("pagewatch");
        ASSERT_FALSE(m_base.empty());
        m_drive = m_base / "root" / "c";
        fs::create_directories(m_drive);
    }

    void TearDown() override
    {
        for (auto& running : m_running)
        {
            running->m_nStop = 1;
            if (running->m_end.valid())
                running->m_end.wait();
        }
        // Let stand-ins still waiting for their release end. One may still be writing its last
        // log line while the folder goes, so the removal is tried again for a short while.
        (void)platform::WriteWholeFile(m_base / "release", "");
        std::error_code error;
        for (int nTry = 0; nTry < 100; ++nTry, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (fs::remove_all(m_base, error), !error)
                break;
        EXPECT_FALSE(error) << m_base << ": " << error.message();
    }

    fs::path FakeSendwell(const std::string& strName)
    {
        const auto path = m_base / strName;
        const std::string strLog = (m_base / "sendwell.log").string();
        const std::string strRelease = (m_base / "release").string();
        // The notice check stays until "release-check" exists.
        const std::string strCheck = "if [ \"$1\" = --check-notices ]; then echo check >> '" + strLog +
                                     "'; while [ ! -e '" + strRelease +
                                     "-check' ]; do sleep 0.02; done; exit 0; fi\n";
        const std::string strScript =
            "#!/bin/sh\n" + strCheck + "echo 'start " + strName + "' >> '" + strLog + "'\nwhile [ ! -e '" +
            strRelease + "' ]; do sleep 0.02; done\necho 'end " + strName + "' >> '" + strLog + "'\n";
        EXPECT_TRUE(platform::WriteWholeFile(path, strScript));
        ::chmod(path.c_str(), 0755);
        return path;
    }

    SRunning& Start(const std::string& strSendwell, const fs::path& sessionFile = {},
                    std::chrono::milliseconds durNoticeCheck = std::chrono::minutes(5))
    {
        auto running = std::make_unique<SRunning>();
        SWatchSettings settings;
        settings.m_driveRoot = m_drive;
        settings.m_sendwell = FakeSendwell(strSendwell);
        settings.m_sessionFile = sessionFile;
        settings.m_durTick = std::chrono::milliseconds(20);
        settings.m_durNoticeCheck = durNoticeCheck;
        settings.m_pStop = &running->m_nStop;
        running->m_end = std::async(std::launch::async, [settings] { return CPageWatcher(settings).Run(); });
        m_running.push_back(std::move(running));
        return *m_running.back();
    }

    // As the printer does it: the page count is written beside and renamed into place.
    void PrintJob()
    {
        ASSERT_TRUE(platform::WriteWholeFile(m_drive / "Page.tmp", std::string(1, '\x02'),
                                             platform::EWriteMode::Atomic));
    }

    std::string Log() const { return platform::ReadWholeFile(m_base / "sendwell.log", 1 << 16).value_or(""); }

    // How often the log has strLine as a whole line, and a wait until it has it nCount times or more.
    int CountLines(const std::string& strLine) const
    {
        std::istringstream log(Log());
        int nCount = 0;
        for (std::string strRead; std::getline(log, strRead);)
            nCount += strRead == strLine ? 1 : 0;
        return nCount;
    }
    bool WaitForLines(const std::string& strLine, int nCount) const
    {
        const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
        while (std::chrono::steady_clock::now() < deadline && CountLines(strLine) < nCount)
            std::this_thread::yield();
        return CountLines(strLine) >= nCount;
    }

    bool WaitForLog(const std::string& strExpected) const
    {
        const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
        while (std::chrono::steady_clock::now() < deadline)
        {
            if (Log() == strExpected)
                return true;
            std::this_thread::yield();
        }
        return false;
    }

    // A watcher that holds the root's lock has its watch set up.
    bool WaitForLockHolder() const
    {
        const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
        while (std::chrono::steady_clock::now() < deadline)
        {
            const int fd = ::open((m_drive / CPageWatcher::LOCK_FILE_NAME).c_str(), O_RDWR | O_CLOEXEC);
            const bool bHeld = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            if (fd >= 0)
                ::close(fd);
            if (bHeld)
                return true;
            std::this_thread::yield();
        }
        return false;
    }

    // Waits until the watcher works and shows it with a first job; tests start from there.
    void WaitUntilWatching(const std::string& strName)
    {
        ASSERT_TRUE(WaitForLockHolder());
        PrintJob();
        ASSERT_TRUE(WaitForLog("start " + strName + "\n")) << Log();
        Release();
        ASSERT_TRUE(WaitForLog("start " + strName + "\nend " + strName + "\n")) << Log();
        fs::remove(m_base / "release");
        fs::remove(m_base / "sendwell.log");
    }

    void Release() { ASSERT_TRUE(platform::WriteWholeFile(m_base / "release", "")); }

    // The mark of a Sendwell that the watcher did not start; it goes with the descriptor.
    int HoldOpenMark() const
    {
        const int fd =
            ::open((m_drive / platform::SENDWELL_OPEN_FILE_NAME).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_SH), 0);
        return fd;
    }

    // The log does not change while the watcher looks 25 times (every 20 ms).
    bool LogStays(const std::string& strExpected) const
    {
        for (int i = 0; i < 25; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (Log() != strExpected)
                return false;
        return Log() == strExpected;
    }

    fs::path m_base;
    fs::path m_drive;
    std::vector<std::unique_ptr<SRunning>> m_running;
};

TEST_F(PageWatcherTest, OpensSendwellForEachNewJobAndNothingElse)
{
    Start("A");
    WaitUntilWatching("A");
    Release();
    // Rasters and the printer's temporary files are not jobs; only the page count is.
    ASSERT_TRUE(platform::WriteWholeFile(m_drive / "quill.1", "raster"));
    ASSERT_TRUE(platform::WriteWholeFile(m_drive / ".Page.tmp.abc123", "temporary"));
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\n")) << Log();
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\nstart A\nend A\n")) << Log();
}

// The notice check runs one at a time, beside the page watching, and again once it has ended.
TEST_F(PageWatcherTest, StartsOneNoticeCheckAtATimeWithoutHoldingUpTheJobs)
{
    Start("A", {}, std::chrono::milliseconds(40));
    ASSERT_TRUE(WaitForLines("check", 1)) << Log();
    // A job printed while the check hangs still opens Sendwell, and no second check starts while
    // the watcher looks for the job (every 20 ms, with a check due every 40 ms).
    PrintJob();
    ASSERT_TRUE(WaitForLines("start A", 1)) << Log();
    EXPECT_EQ(CountLines("check"), 1) << Log();
    ASSERT_TRUE(platform::WriteWholeFile(m_base / "release-check", ""));
    EXPECT_TRUE(WaitForLines("check", 2)) << Log();
    Release();
    EXPECT_TRUE(WaitForLines("end A", 1)) << Log();
}

TEST_F(PageWatcherTest, AJobPrintedWhileSendwellIsOpenWaitsForItToClose)
{
    Start("A");
    WaitUntilWatching("A");
    PrintJob();
    ASSERT_TRUE(WaitForLog("start A\n")) << Log();
    PrintJob(); // Sendwell is still open with the first job
    Release();
    // Only after the first Sendwell has ended does the second open.
    EXPECT_TRUE(WaitForLog("start A\nend A\nstart A\nend A\n")) << Log();
}

TEST_F(PageWatcherTest, AJobSentMeanwhileDoesNotReopenSendwell)
{
    Start("A");
    WaitUntilWatching("A");
    PrintJob();
    ASSERT_TRUE(WaitForLog("start A\n")) << Log();
    PrintJob();
    fs::remove(m_drive / "Page.tmp"); // Sendwell sent the job and deleted the page count
    Release();
    ASSERT_TRUE(WaitForLog("start A\nend A\n")) << Log();
    // The next job shows the waiting one was dropped: one more Sendwell, not two.
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\nstart A\nend A\n")) << Log();
}

TEST_F(PageWatcherTest, AJobPrintedWhileASendwellItDidNotStartIsOpenWaitsForItToClose)
{
    Start("A");
    WaitUntilWatching("A");
    const int fd = HoldOpenMark(); // a Sendwell the user opened
    PrintJob();
    EXPECT_TRUE(LogStays("")) << "a second Sendwell was opened";
    // Closed without sending: the job still waits, and Sendwell opens for it.
    ::close(fd);
    Release();
    EXPECT_TRUE(WaitForLog("start A\nend A\n")) << Log();
}

// The Sendwell that an earlier watcher opened is still open when the next one starts: it has
// the waiting pages, and they open no second Sendwell, neither now nor once it has closed.
TEST_F(PageWatcherTest, AWatcherStartedBesideAnOpenSendwellOpensNoSecondOneForItsPages)
{
    const int fd = HoldOpenMark();
    PrintJob();
    Start("A");
    ASSERT_TRUE(WaitForLockHolder());
    EXPECT_TRUE(LogStays("")) << "a second Sendwell was opened for the same pages";
    ::close(fd);
    EXPECT_TRUE(LogStays("")) << "Sendwell opened again for the pages it had";
    Release();
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\n")) << Log();
}

TEST_F(PageWatcherTest, OpensSendwellAtOnceForAJobPrintedBeforeItStarted)
{
    EXPECT_FALSE(CPageWatcher::LockHolder(m_drive)) << "no watcher runs yet";
    PrintJob();
    Start("A");
    EXPECT_TRUE(WaitForLog("start A\n")) << Log();
    // The watcher that works on the root names itself in the lock file.
    ASSERT_TRUE(WaitForLockHolder());
    const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
    while (!CPageWatcher::LockHolder(m_drive) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(CPageWatcher::LockHolder(m_drive), std::optional<pid_t>(::getpid()));
    Release();
    ASSERT_TRUE(WaitForLog("start A\nend A\n")) << Log();
    // The job is still there (not sent), but it was opened once: no second Sendwell by itself.
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\nstart A\nend A\n")) << Log();
}

TEST_F(PageWatcherTest, OnlyOneWatcherPerRootOpensSendwell)
{
    auto& first = Start("A");
    WaitUntilWatching("A");
    Start("B"); // waits for the lock
    Release();
    PrintJob();
    ASSERT_TRUE(WaitForLog("start A\nend A\n")) << Log();
    first.m_nStop = 1;
    ASSERT_EQ(first.m_end.wait_for(DEADLINE), std::future_status::ready);
    // The second watcher takes over; had it acted all along, it would have opened B before.
    ASSERT_TRUE(WaitForLockHolder());
    PrintJob();
    EXPECT_TRUE(WaitForLog("start A\nend A\nstart B\nend B\n")) << Log();
}

TEST_F(PageWatcherTest, EndsWithItsDesktopSession)
{
    const auto session = m_base / "session";
    ASSERT_TRUE(platform::WriteWholeFile(session, ""));
    auto& running = Start("A", session);
    WaitUntilWatching("A");
    fs::remove(session);
    ASSERT_EQ(running.m_end.wait_for(DEADLINE), std::future_status::ready);
    EXPECT_EQ(running.m_end.get(), EWatchEnd::SessionEnded);
}

} // namespace
