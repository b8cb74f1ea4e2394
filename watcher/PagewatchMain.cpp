// Pagewatch: started with the desktop session (see the Installer's autostart entry); opens
// Sendwell whenever the fax printer has left a new job.

#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "watcher/PageWatcher.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{

constexpr const char* SENDWELL_FILE = "Sendwell";
// logind keeps one file per live session here.
constexpr const char* SESSION_FOLDER = "/run/systemd/sessions";

volatile std::sig_atomic_t g_stop = 0;

void OnTerminate(int)
{
    g_stop = 1;
}

} // namespace

int main()
{
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);

    watcher::SWatchSettings settings;
    settings.m_driveRoot = platform::DriveRoot();
    // The Sendwell beside this watcher: the packaged one for the packaged watcher.
    settings.m_sendwell = platform::InstalledFile(SENDWELL_FILE);
    settings.m_pStop = &g_stop;
    // A watcher outliving its session (when logind keeps user processes) must not open
    // Sendwell on a desktop that is gone, nor keep the next session's watcher waiting.
    const char* pszSession = std::getenv("XDG_SESSION_ID");
    if (pszSession != nullptr && *pszSession != '\0' && std::filesystem::is_directory(SESSION_FOLDER))
        settings.m_sessionFile = std::filesystem::path(SESSION_FOLDER) / pszSession;

    watcher::CPageWatcher pageWatcher(settings);
    return pageWatcher.Run() == watcher::EWatchEnd::Failed ? 1 : 0;
}
