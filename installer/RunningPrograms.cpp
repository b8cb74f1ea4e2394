#include "installer/RunningPrograms.h"

#include "platform/BinaryFile.h"
#include "platform/Deadline.h"
#include "platform/Descriptor.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace installer
{

namespace
{

constexpr std::string_view DELETED_SUFFIX = " (deleted)";
constexpr std::string_view UID_LINE = "\nUid:";
constexpr std::uint64_t MAX_STATUS_BYTES = 16384;

// The program a process runs, as a path; empty when it cannot be read (another user's
// process, a kernel thread, a process that has ended).
std::filesystem::path ProgramOf(pid_t nPid)
{
    std::string strTarget(PATH_MAX, '\0');
    const auto link = "/proc/" + std::to_string(nPid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), strTarget.data(), strTarget.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= strTarget.size())
        return {};
    strTarget.resize(static_cast<std::size_t>(n));
    // A program file replaced or removed while it runs.
    if (strTarget.ends_with(DELETED_SUFFIX))
        strTarget.resize(strTarget.size() - DELETED_SUFFIX.size());
    return strTarget;
}

bool HasRealUser(pid_t nPid, uid_t nUid)
{
    const auto text = platform::ReadWholeFile("/proc/" + std::to_string(nPid) + "/status", MAX_STATUS_BYTES);
    if (!text)
        return false;
    const auto nLine = text->find(UID_LINE);
    if (nLine == std::string::npos)
        return false;
    const auto value = platform::TrimStart(std::string_view(*text).substr(nLine + UID_LINE.size()), " \t");
    unsigned long nFound = 0;
    const auto [pEnd, ec] = std::from_chars(value.data(), value.data() + value.size(), nFound);
    return ec == std::errc() && pEnd != value.data() && nFound == nUid;
}

// Which of aNames the process runs from folder (already resolved); empty for none.
std::string RunsFrom(pid_t nPid, const std::filesystem::path& folder, const std::vector<std::string>& aNames,
                     uid_t nUid)
{
    const auto program = ProgramOf(nPid);
    if (program.empty() || program.parent_path() != folder || !HasRealUser(nPid, nUid))
        return {};
    const std::string strName = program.filename().string();
    return std::find(aNames.begin(), aNames.end(), strName) != aNames.end() ? strName : std::string();
}

std::filesystem::path Resolved(const std::filesystem::path& folder)
{
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(folder, error);
    return error ? folder : resolved;
}

} // namespace

std::vector<SRunningProgram> FindRunningPrograms(const std::filesystem::path& folder,
                                                 const std::vector<std::string>& aNames, uid_t nUid)
{
    std::vector<SRunningProgram> aFound;
    const auto resolved = Resolved(folder);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error))
    {
        const std::string strPid = entry.path().filename().string();
        pid_t nPid = 0;
        const auto [pEnd, ec] = std::from_chars(strPid.data(), strPid.data() + strPid.size(), nPid);
        if (ec != std::errc() || pEnd != strPid.data() + strPid.size() || nPid <= 0 || nPid == ::getpid())
            continue;
        std::string strName = RunsFrom(nPid, resolved, aNames, nUid);
        if (!strName.empty())
            aFound.push_back({nPid, std::move(strName)});
    }
    return aFound;
}

SStepResult EndRunningProgram(const SRunningProgram& program, const std::filesystem::path& folder, uid_t nUid,
                              std::chrono::milliseconds durWait)
{
    const std::string strStep = "ending " + program.m_strName + " (process " +
                                std::to_string(program.m_nPid) + "), which ran from " + folder.string();
    const platform::CDescriptor pidFd(static_cast<int>(::syscall(SYS_pidfd_open, program.m_nPid, 0)));
    const int nPidFd = pidFd.Get();
    if (nPidFd < 0)
    {
        if (errno == ESRCH)
            return {strStep, true, {}}; // it has ended by itself
        return {strStep, false, platform::ErrnoText("cannot reach it") + "; close it"};
    }
    // While the process the descriptor holds lives, its id is nobody else's: a process found
    // again under that id, alive after the check, is the one that was checked.
    const bool bSame =
        RunsFrom(program.m_nPid, Resolved(folder), {program.m_strName}, nUid) == program.m_strName &&
        ::syscall(SYS_pidfd_send_signal, nPidFd, 0, nullptr, 0) == 0;
    if (!bSame)
        return {strStep, true, {}};
    if (::syscall(SYS_pidfd_send_signal, nPidFd, SIGTERM, nullptr, 0) != 0 && errno != ESRCH)
        return {strStep, false, platform::ErrnoText("cannot end it") + "; close it"};
    // The descriptor becomes readable when the process has ended.
    pollfd polled = {nPidFd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + durWait;
    int nReady = 0;
    do
        nReady = ::poll(&polled, 1, platform::PollTimeoutUntil(deadline));
    while (nReady < 0 && errno == EINTR);
    if (nReady <= 0)
        return {strStep, false, "it is still running; close it"};
    return {strStep, true, {}};
}

} // namespace installer
