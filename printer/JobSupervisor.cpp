#include "printer/JobSupervisor.h"

#include "pages/FaxPrinter.h"
#include "platform/Deadline.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace driver
{

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string PRINTER(PRINTER_NAME);
constexpr std::size_t FEED_CHUNK = 64 * 1024;
// The longest the supervisor waits before it looks at its limits again.
constexpr milliseconds POLL_SLICE{500};
// How often an ending child is looked at once it has closed its error stream.
constexpr milliseconds EXIT_SLICE{10};
// The most a limit may be set to: a week.
constexpr long MAX_LIMIT_SECONDS = 7L * 24 * 3600;
// The lines the spooler takes from a backend as they are; anything else the child writes is
// passed on as DEBUG, so that the work as the user cannot set the printer's attributes.
constexpr std::string_view PASSED_LEVELS[] = {"DEBUG:", "INFO:", "WARNING:", "ERROR:"};

milliseconds SecondsFromEnvironment(const char* pszName, milliseconds durDefault)
{
    const char* pszValue = std::getenv(pszName);
    if (pszValue == nullptr || *pszValue == '\0')
        return durDefault;
    char* pszEnd = nullptr;
    errno = 0;
    const long nSeconds = std::strtol(pszValue, &pszEnd, 10);
    if (errno != 0 || *pszEnd != '\0' || nSeconds <= 0 || nSeconds > MAX_LIMIT_SECONDS)
        return durDefault;
    return std::chrono::seconds(nSeconds);
}

std::string InSeconds(milliseconds dur)
{
    const long long nSeconds = (dur.count() + 999) / 1000;
    return std::to_string(nSeconds) + (nSeconds == 1 ? " second" : " seconds");
}

int MillisecondsUntil(Clock::time_point deadline)
{
    return std::clamp(platform::PollTimeoutUntil(deadline), 1, static_cast<int>(POLL_SLICE.count()));
}

// Writes strLine and its end to the log in one write: the log is the job's status pipe, which
// the spooler's filters write to as well, and a line written in pieces could be split by one
// of theirs.
void WriteLine(std::ostream& log, std::string strLine)
{
    strLine += '\n';
    log.write(strLine.data(), static_cast<std::streamsize>(strLine.size())).flush();
}

} // namespace

SJobLimits SJobLimits::FromEnvironment()
{
    SJobLimits limits;
    limits.m_durInputStall = SecondsFromEnvironment("VELLUMFAX_INPUT_STALL", limits.m_durInputStall);
    limits.m_durWorkStall = SecondsFromEnvironment("VELLUMFAX_WORK_STALL", limits.m_durWorkStall);
    limits.m_durJob = SecondsFromEnvironment("VELLUMFAX_JOB_LIMIT", limits.m_durJob);
    return limits;
}

CJobSupervisor::CJobSupervisor(SJobLimits limits, std::ostream& log, const volatile std::sig_atomic_t* pStop)
    : m_limits(limits), m_log(log), m_pStop(pStop)
{
}

EJobEnd CJobSupervisor::End(EJobEnd eEnd, std::string strReason)
{
    m_strReason = std::move(strReason);
    return eEnd;
}

void CJobSupervisor::KillChild()
{
    if (m_pid <= 0)
        return;
    // The whole group: the child and the renderers it started.
    ::kill(-m_pid, SIGKILL);
    ::kill(m_pid, SIGKILL);
    int nStatus = 0;
    while (::waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR)
    {
    }
    m_pid = -1;
}

void CJobSupervisor::PassOn(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty())
        return;
    const std::string strLine = platform::PrintableUtf8(line.substr(0, MAX_LINE_BYTES));
    const bool bPassed = std::any_of(std::begin(PASSED_LEVELS), std::end(PASSED_LEVELS),
                                     [&](std::string_view level) { return strLine.starts_with(level); });
    WriteLine(m_log, (bPassed ? "" : "DEBUG: ") + strLine);
}

EJobEnd CJobSupervisor::Run(int nInputFd, const std::function<int()>& fnWork)
{
    m_nExitCode = -1;
    m_bInputEnded = false;
    m_strReason.clear();
    const auto start = Clock::now();
    int aInput[2] = {-1, -1};
    int aStatus[2] = {-1, -1};
    if (::pipe2(aInput, O_CLOEXEC) != 0 || ::pipe2(aStatus, O_CLOEXEC) != 0)
    {
        const std::string strError = platform::ErrnoText(PRINTER + " cannot start the job's work");
        for (int fd : {aInput[0], aInput[1], aStatus[0], aStatus[1]})
            if (fd >= 0)
                ::close(fd);
        return End(EJobEnd::NotStarted, strError);
    }
    m_log.flush();
    std::cout.flush();
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        // The child: standard streams only, in a process group that the supervisor ends as one.
        ::setpgid(0, 0);
        const int nNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (nNull < 0 || ::dup2(aInput[0], STDIN_FILENO) < 0 || ::dup2(nNull, STDOUT_FILENO) < 0 ||
            ::dup2(aStatus[1], STDERR_FILENO) < 0)
            ::_exit(127);
        ::close_range(STDERR_FILENO + 1, ~0U, 0);
        int nCode = 1;
        try
        {
            nCode = fnWork();
        }
        catch (...)
        {
            nCode = 1;
        }
        std::cout.flush();
        std::cerr.flush();
        ::_exit(nCode);
    }
    ::close(aInput[0]);
    ::close(aStatus[1]);
    if (pid < 0)
    {
        const std::string strError = platform::ErrnoText(PRINTER + " cannot start the job's work");
        ::close(aInput[1]);
        ::close(aStatus[0]);
        return End(EJobEnd::NotStarted, strError);
    }
    m_pid = pid;
    ::setpgid(pid, pid); // whichever of the two comes first
    WriteLine(m_log, "DEBUG: the job's work runs in process " + std::to_string(pid));

    int nFeedFd = aInput[1];
    int nStatusFd = aStatus[0];
    ::fcntl(nFeedFd, F_SETFL, ::fcntl(nFeedFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(nStatusFd, F_SETFL, ::fcntl(nStatusFd, F_GETFL) | O_NONBLOCK);
    auto closeFeed = [&]
    {
        if (nFeedFd >= 0)
            ::close(nFeedFd);
        nFeedFd = -1;
    };
    std::vector<char> buffer(FEED_CHUNK);
    std::size_t nBuffered = 0;
    std::size_t nFed = 0;
    bool bInputEnd = false;
    std::string strLines;
    auto passOnLines = [&](bool bAll)
    {
        std::size_t nStart = 0;
        for (std::size_t nEnd; (nEnd = strLines.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
            PassOn(std::string_view(strLines).substr(nStart, nEnd - nStart));
        strLines.erase(0, nStart);
        if (bAll || strLines.size() > MAX_LINE_BYTES)
        {
            PassOn(strLines);
            strLines.clear();
        }
    };
    // Reads what the child wrote, adding how much to nRead; false at the end of its error stream.
    auto readStatus = [&](std::size_t& nRead)
    {
        char chunk[4096];
        for (;;)
        {
            const ssize_t n = ::read(nStatusFd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0)
            {
                nRead += static_cast<std::size_t>(n);
                strLines.append(chunk, static_cast<std::size_t>(n));
                passOnLines(false);
                continue;
            }
            return n < 0 && errno == EAGAIN;
        }
    };

    auto lastProgress = start;
    const auto jobDeadline = start + m_limits.m_durJob;
    int nWaitStatus = 0;
    bool bReaped = false;
    EJobEnd eEnd = EJobEnd::Finished;
    std::string strReason;
    for (;;)
    {
        if (!bReaped && ::waitpid(pid, &nWaitStatus, WNOHANG) == pid)
        {
            bReaped = true;
            m_pid = -1;
        }
        if (bReaped)
        {
            std::size_t nRead = 0;
            if (nStatusFd >= 0)
                (void)readStatus(nRead);
            break;
        }
        if (m_pStop != nullptr && *m_pStop != 0)
        {
            eEnd = EJobEnd::Stopped;
            strReason = "The job was stopped.";
            break;
        }
        const auto now = Clock::now();
        if (now >= jobDeadline)
        {
            eEnd = EJobEnd::TooLong;
            strReason =
                PRINTER + " gave the job up: it took longer than " + InSeconds(m_limits.m_durJob) + ".";
            break;
        }
        // While the child waits for input, a stall is the input's; otherwise the child's own.
        const bool bAwaitingInput = nFeedFd >= 0 && !bInputEnd && nFed == nBuffered;
        const auto durStall = bAwaitingInput ? m_limits.m_durInputStall : m_limits.m_durWorkStall;
        if (now - lastProgress >= durStall)
        {
            eEnd = bAwaitingInput ? EJobEnd::InputStalled : EJobEnd::WorkStalled;
            strReason = PRINTER + " gave the job up: " +
                        (bAwaitingInput ? "no more of its document came for " : "it made no progress for ") +
                        InSeconds(durStall) + ".";
            break;
        }

        pollfd aPolled[3];
        nfds_t nPolled = 0;
        const int nInputAt = bAwaitingInput ? static_cast<int>(nPolled++) : -1;
        if (nInputAt >= 0)
            aPolled[nInputAt] = {nInputFd, POLLIN, 0};
        const int nFeedAt = nFeedFd >= 0 && nFed < nBuffered ? static_cast<int>(nPolled++) : -1;
        if (nFeedAt >= 0)
            aPolled[nFeedAt] = {nFeedFd, POLLOUT, 0};
        const int nStatusAt = nStatusFd >= 0 ? static_cast<int>(nPolled++) : -1;
        if (nStatusAt >= 0)
            aPolled[nStatusAt] = {nStatusFd, POLLIN, 0};
        const int nTimeout = nStatusFd < 0 ? static_cast<int>(EXIT_SLICE.count())
                                           : std::min(MillisecondsUntil(jobDeadline),
                                                      MillisecondsUntil(lastProgress + durStall));
        const int nReady = ::poll(aPolled, nPolled, nTimeout);
        if (nReady < 0 && errno != EINTR)
        {
            eEnd = EJobEnd::InputFailed;
            strReason = platform::ErrnoText(PRINTER + " cannot watch the job's work");
            break;
        }
        if (nReady <= 0)
            continue;

        if (nInputAt >= 0 && aPolled[nInputAt].revents != 0)
        {
            const ssize_t n = ::read(nInputFd, buffer.data(), buffer.size());
            if (n < 0 && errno != EINTR && errno != EAGAIN)
            {
                eEnd = EJobEnd::InputFailed;
                strReason = platform::ErrnoText(PRINTER + " cannot read the job");
                break;
            }
            if (n >= 0)
            {
                bInputEnd = n == 0;
                m_bInputEnded = bInputEnd;
                nBuffered = static_cast<std::size_t>(n);
                nFed = 0;
                lastProgress = Clock::now();
            }
        }
        if (nFeedAt >= 0 && aPolled[nFeedAt].revents != 0)
        {
            const ssize_t n = ::write(nFeedFd, buffer.data() + nFed, nBuffered - nFed);
            if (n > 0)
            {
                nFed += static_cast<std::size_t>(n);
                lastProgress = Clock::now();
            }
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
            {
                // The child wants no more input (it refused the job before reading it all).
                bInputEnd = true;
                nFed = nBuffered;
            }
        }
        if (bInputEnd && nFed == nBuffered)
            closeFeed();
        if (nStatusAt >= 0 && aPolled[nStatusAt].revents != 0)
        {
            std::size_t nRead = 0;
            const bool bOpen = readStatus(nRead);
            if (nRead > 0)
                lastProgress = Clock::now();
            if (!bOpen)
            {
                passOnLines(true);
                ::close(nStatusFd);
                nStatusFd = -1;
            }
        }
    }
    passOnLines(true);
    closeFeed();
    if (nStatusFd >= 0)
        ::close(nStatusFd);

    if (eEnd != EJobEnd::Finished)
    {
        WriteLine(m_log, "DEBUG: ending the job's work (process group " + std::to_string(pid) + ")");
        KillChild();
        return End(eEnd, strReason);
    }
    if (WIFSIGNALED(nWaitStatus))
        return End(EJobEnd::Killed, PRINTER + " gave the job up: its work was ended by signal " +
                                        std::to_string(WTERMSIG(nWaitStatus)) + ".");
    m_nExitCode = WEXITSTATUS(nWaitStatus);
    return EJobEnd::Finished;
}

} // namespace driver
