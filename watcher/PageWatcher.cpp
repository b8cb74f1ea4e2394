#include "watcher/PageWatcher.h"

#include "platform/Descriptor.h"
#include "platform/PageFiles.h"
#include "platform/PageJob.h"
#include "platform/Process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace watcher
{

namespace
{

// Enough for many events at once; names in the drive root are short.
constexpr std::size_t EVENT_BUFFER_BYTES = 16 * 1024;

// The page-count file arrives by rename (the printer) or by a plain write (anything else
// that makes one); both mean "a job is ready".
constexpr std::uint32_t ARRIVAL_EVENTS = IN_MOVED_TO | IN_CLOSE_WRITE;
// The folder itself went away: the watch must be set up again once it is back.
constexpr std::uint32_t LOST_EVENTS = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF;

using platform::CDescriptor;

} // namespace

CPageWatcher::CPageWatcher(SWatchSettings settings) : m_settings(std::move(settings)) {}

namespace
{

// Whether a Sendwell that this watcher did not start is open on the drive root.
bool SendwellHoldsOpen(const std::filesystem::path& driveRoot)
{
    const int fd =
        ::open((driveRoot / platform::SENDWELL_OPEN_FILE_NAME).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool bHeld = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return bHeld;
}

} // namespace

EWatchEnd CPageWatcher::Run()
{
    CDescriptor notify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (notify.Get() < 0)
    {
        std::cerr << "Pagewatch: cannot watch for print jobs: " << std::strerror(errno) << std::endl;
        return EWatchEnd::Failed;
    }
    CDescriptor lock;
    bool bLocked = false;
    int nWatch = -1;
    bool bPending = false;
    // Only the first look, when the watcher starts: a watcher that takes the lock over later
    // finds the jobs the one before it already opened.
    bool bFirstLook = true;
    platform::CProcess sendwell;
    platform::CProcess noticeCheck;
    using Clock = std::chrono::steady_clock;
    auto nextNoticeCheck = Clock::now() + m_settings.m_durNoticeCheck;
    Clock::time_point noticeCheckStarted;
    const auto& driveRoot = m_settings.m_driveRoot;
    // The job Sendwell was last opened for, or found open with: never a second Sendwell for it.
    std::optional<platform::SPageJob> lastJob;

    auto launch = [&]
    {
        platform::SSpawnOptions options;
        options.m_eInput = platform::EChildStream::Null;
        if (!sendwell.Start({m_settings.m_sendwell.string()}, options))
            std::cerr << "Pagewatch: cannot start Sendwell: " << sendwell.Error() << std::endl;
    };
    // Starts the notice check when it is due and none runs; reaps one that ended, and ends one
    // that outran its limit. Never waits for it.
    auto tendNoticeCheck = [&]
    {
        if (m_settings.m_durNoticeCheck.count() <= 0)
            return;
        const auto now = Clock::now();
        if (noticeCheck.IsRunning() && !noticeCheck.Poll())
        {
            if (now - noticeCheckStarted < m_settings.m_durNoticeCheckLimit)
                return;
            std::cerr << "Pagewatch: the check for status notices took too long and was ended" << std::endl;
            noticeCheck.Kill();
        }
        if (now < nextNoticeCheck)
            return;
        nextNoticeCheck = now + m_settings.m_durNoticeCheck;
        noticeCheckStarted = now;
        platform::SSpawnOptions options;
        options.m_eInput = platform::EChildStream::Null;
        options.m_eOutput = platform::EChildStream::Null;
        if (!noticeCheck.Start({m_settings.m_sendwell.string(), CHECK_NOTICES_OPTION}, options))
            std::cerr << "Pagewatch: cannot start the check for status notices: " << noticeCheck.Error()
                      << std::endl;
    };
    auto isOpen = [&] { return (sendwell.IsRunning() && !sendwell.Poll()) || SendwellHoldsOpen(driveRoot); };
    // Opens Sendwell for the job waiting now if it is a print job that Sendwell has not been
    // opened for; true when it must wait for the Sendwell that is open to close.
    auto openForWaitingJob = [&]
    {
        const auto job = platform::WaitingPageJob(driveRoot);
        if (!job || job == lastJob || platform::IsSendwellsOwnJob(driveRoot, *job))
            return false;
        if (isOpen())
            return true;
        lastJob = job;
        launch();
        return false;
    };

    for (;;)
    {
        if (m_settings.m_pStop != nullptr && *m_settings.m_pStop != 0)
            break;
        if (!m_settings.m_sessionFile.empty() && !std::filesystem::exists(m_settings.m_sessionFile))
        {
            sendwell.Detach();
            return EWatchEnd::SessionEnded;
        }

        // The watch comes first, so that whoever sees the lock taken knows the watch is set.
        if (nWatch < 0)
        {
            // The drive root is the user's and private; the printer creates it the same way.
            ::mkdir(driveRoot.c_str(), 0700);
            nWatch = ::inotify_add_watch(notify.Get(), driveRoot.c_str(),
                                         ARRIVAL_EVENTS | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        }
        if (!bLocked && nWatch >= 0)
        {
            if (lock.Get() < 0)
                lock.Reset(::open((driveRoot / LOCK_FILE_NAME).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            bLocked = lock.Get() >= 0 && ::flock(lock.Get(), LOCK_EX | LOCK_NB) == 0;
            if (bLocked)
            {
                // Who holds the lock, for the Installer (which stops the watcher on uninstalling).
                const std::string strPid = std::to_string(::getpid()) + "\n";
                if (::ftruncate(lock.Get(), 0) != 0 || ::pwrite(lock.Get(), strPid.data(), strPid.size(),
                                                                0) != static_cast<ssize_t>(strPid.size()))
                    std::cerr << "Pagewatch: cannot note its process id in the lock file" << std::endl;
            }
        }
        if (bFirstLook && nWatch >= 0)
        {
            bFirstLook = false;
            // A Sendwell already open (started by the watcher before this one, say) has the
            // waiting pages: they are its, not a job for a second Sendwell.
            if (bLocked && isOpen())
                lastJob = platform::WaitingPageJob(driveRoot);
            else if (bLocked)
                (void)openForWaitingJob();
        }

        pollfd pfd{notify.Get(), POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, static_cast<int>(m_settings.m_durTick.count()));
        bool bArrived = false;
        if (nReady > 0)
        {
            alignas(inotify_event) char buffer[EVENT_BUFFER_BYTES];
            for (;;)
            {
                const ssize_t n = ::read(notify.Get(), buffer, sizeof buffer);
                if (n <= 0)
                    break;
                for (ssize_t nOffset = 0; nOffset < n;)
                {
                    const auto* pEvent = reinterpret_cast<const inotify_event*>(buffer + nOffset);
                    nOffset += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
                    if ((pEvent->mask & LOST_EVENTS) != 0 && pEvent->wd == nWatch)
                    {
                        nWatch = -1;
                        // A lock on a file in a folder that is gone protects nothing: take it anew.
                        lock.Reset();
                        bLocked = false;
                    }
                    // Only the watcher holding the lock acts; the others just keep their watch ready.
                    if (bLocked && (pEvent->mask & ARRIVAL_EVENTS) != 0 && pEvent->len > 0 &&
                        std::strcmp(pEvent->name, platform::PAGE_COUNT_FILE_NAME) == 0)
                        bArrived = true;
                }
            }
        }

        // A job that waits for Sendwell to close is looked at anew each time: it may have been
        // sent or replaced meanwhile.
        if (bArrived || bPending)
            bPending = openForWaitingJob();
        // Only the watcher that holds the lock checks: one check per drive root.
        if (bLocked)
            tendNoticeCheck();
    }
    sendwell.Detach();
    return EWatchEnd::Stopped;
}

std::optional<pid_t> CPageWatcher::LockHolder(const std::filesystem::path& driveRoot)
{
    CDescriptor lock(
        ::open((driveRoot / LOCK_FILE_NAME).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (lock.Get() < 0)
        return std::nullopt;
    if (::flock(lock.Get(), LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return std::nullopt; // nobody holds it (and our shared lock goes with the descriptor)
    char text[32] = {};
    const ssize_t n = ::pread(lock.Get(), text, sizeof text - 1, 0);
    const long nPid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    if (nPid <= 0)
        return std::nullopt;
    return static_cast<pid_t>(nPid);
}

} // namespace watcher
