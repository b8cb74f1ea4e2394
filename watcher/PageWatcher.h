#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/types.h>

// Opens Sendwell when the fax printer has left a new job: it watches the drive root for a
// page-count file moved or written into place (the printer writes it last, once every page
// raster is there) and starts Sendwell from the system directory.
//
// It runs in the user's desktop session, started with it through an autostart entry, so
// Sendwell appears on that desktop. One watcher per drive root does the work (a lock file
// decides which); another waits until the first one ends. While a Sendwell is open, a new
// job waits for it to close, and Sendwell opens again if the job's pages are still there.
// Sendwell opens once for each print job: never for pages Sendwell wrote itself (a document
// file, a fax sent again; platform/PageJob.h tells them apart), nor again for a job it was
// opened for and closed without sending. A watcher that finds a job waiting when it starts
// (printed while no watcher ran: before the first login after installing, say) opens
// Sendwell for it at once, unless a Sendwell is open already.
//
// Every few minutes it also starts "Sendwell --check-notices", which looks in the user's mailbox
// for the gateway's status notices (and does nothing unless the user asked for that and a fax
// awaits word). One check at a time; the watcher never waits for it, and ends one that runs
// far too long.
namespace watcher
{

enum class EWatchEnd
{
    Stopped,      // asked to stop
    SessionEnded, // the desktop session it belongs to has ended
    Failed,       // the drive root cannot be watched
};

struct SWatchSettings
{
    std::filesystem::path m_driveRoot;
    std::filesystem::path m_sendwell;
    // A file that exists while the desktop session lives (logind's session file); empty: not checked.
    std::filesystem::path m_sessionFile;
    // How often the session, the lock and Sendwell are looked at when nothing happens.
    std::chrono::milliseconds m_durTick = std::chrono::seconds(2);
    // How often Sendwell --check-notices is started, the first time one interval after the
    // start; 0: never.
    std::chrono::milliseconds m_durNoticeCheck = std::chrono::minutes(5);
    // A check still running after this long is ended: its own waits are bounded far below it.
    std::chrono::milliseconds m_durNoticeCheckLimit = std::chrono::minutes(10);
    // Set (by a signal handler or a test) to end Run().
    const volatile std::sig_atomic_t* m_pStop = nullptr;
};

class CPageWatcher
{
public:
    explicit CPageWatcher(SWatchSettings settings);

    [[nodiscard]] EWatchEnd Run();

    static constexpr const char* LOCK_FILE_NAME = ".pagewatch.lock";
    static constexpr const char* CHECK_NOTICES_OPTION = "--check-notices";

    // The process id of the watcher that holds the drive root's lock (it writes its id into
    // the lock file), or none when no watcher works on that root.
    static std::optional<pid_t> LockHolder(const std::filesystem::path& driveRoot);

private:
    SWatchSettings m_settings;
};

} // namespace watcher
