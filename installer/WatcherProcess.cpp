#include "installer/WatcherProcess.h"

#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "watcher/PageWatcher.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace installer
{

namespace
{

// How often the watcher's lock is looked at while waiting for it to be taken or let go.
constexpr std::chrono::milliseconds LOCK_POLL_INTERVAL{20};

} // namespace

SStepResult StartWatcher(const SInstallSettings& settings)
{
    const std::string strStep = "starting Pagewatch, which opens Sendwell after printing";
    if (watcher::CPageWatcher::LockHolder(settings.m_driveRoot))
    {
        // A watcher of an earlier installation works already; it starts the new Sendwell.
        return {strStep, true, {}};
    }
    // In a session of its own, so that it outlives the terminal the Installer ran in.
    platform::SSpawnOptions options;
    options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + settings.m_vellumRoot.string()});
    options.m_eInput = options.m_eOutput = options.m_eErrors = platform::EChildStream::Null;
    platform::CProcess pagewatch;
    if (!pagewatch.Start({settings.m_strSetsid, (settings.m_systemDirectory / WATCHER_FILE).string()},
                         options))
        return {strStep, false, pagewatch.Error()};
    const auto deadline = std::chrono::steady_clock::now() + settings.m_durWatcherTimeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (watcher::CPageWatcher::LockHolder(settings.m_driveRoot))
        {
            pagewatch.Detach();
            return {strStep, true, {}};
        }
        if (pagewatch.Poll())
            break;
        std::this_thread::sleep_for(LOCK_POLL_INTERVAL);
    }
    if (pagewatch.IsRunning())
    {
        pagewatch.Detach();
        return {strStep, false, "it did not begin to watch " + settings.m_driveRoot.string()};
    }
    return {strStep, false, "it ended at once (" + pagewatch.Describe() + ")"};
}

std::optional<SStepResult> StopWatcher(const SInstallSettings& settings)
{
    const auto pid = watcher::CPageWatcher::LockHolder(settings.m_driveRoot);
    if (!pid)
        return std::nullopt;
    const std::string strStep = "stopping Pagewatch (process " + std::to_string(*pid) + ")";
    if (::kill(*pid, SIGTERM) != 0)
        return SStepResult{strStep, false, platform::ErrnoText("kill")};
    const auto deadline = std::chrono::steady_clock::now() + settings.m_durWatcherTimeout;
    while (watcher::CPageWatcher::LockHolder(settings.m_driveRoot) == pid)
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return SStepResult{strStep, false, "it is still running"};
        std::this_thread::sleep_for(LOCK_POLL_INTERVAL);
    }
    return SStepResult{strStep, true, {}};
}

std::string WatcherCommand(const SInstallSettings& settings)
{
    return "setsid -f env " + ShellQuote("VELLUM_ROOT=" + settings.m_vellumRoot.string()) + " " +
           ShellQuote((settings.m_systemDirectory / WATCHER_FILE).string());
}

} // namespace installer
