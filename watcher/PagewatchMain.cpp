// Pagewatch: started with the desktop session (see the Installer's autostart entry); opens
// Sendwell whenever the fax printer has left a new job.

#include "pages/UserRoot.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "watcher/PageWatcher.h"

#include <csignal>
#include <cstdio>
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

    // The packaged watcher, started by the session's autostart entry before the user has opened
    // anything, sets the user up for the fax printer; it watches all the same when that fails.
    std::string strError;
    if (driver::SetUpOnFirstStart(strError) == driver::ESetUp::Failed)
        std::fprintf(stderr, "Pagewatch could not set up the fax printer for you: %s\n",
                     platform::PrintableUtf8(strError).c_str());

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
