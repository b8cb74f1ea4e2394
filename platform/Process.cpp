#include "platform/Process.h"

#include "platform/Deadline.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform
{

namespace
{

using Clock = std::chrono::steady_clock;

// Without a pidfd, a wait for a child with a deadline looks at it this often.
constexpr std::chrono::milliseconds WAIT_SLICE{5};

// The argument and environment vectors that exec takes, pointing into the caller's strings, which
// must outlive them.
struct SExecVectors
{
    std::vector<char*> m_aArgv;
    std::vector<char*> m_aEnvp;
    char** m_ppEnvironment = environ;

    SExecVectors(const std::vector<std::string>& args, const SSpawnOptions& options)
    {
        for (const auto& strArg : args)
            m_aArgv.push_back(const_cast<char*>(strArg.c_str()));
        m_aArgv.push_back(nullptr);
        if (options.m_aEnvironment)
        {
            for (const auto& strEntry : *options.m_aEnvironment)
                m_aEnvp.push_back(const_cast<char*>(strEntry.c_str()));
            m_aEnvp.push_back(nullptr);
            m_ppEnvironment = m_aEnvp.data();
        }
    }
};

// A descriptor that becomes readable when the child ends (Linux 5.3 and later); -1 if the
// kernel or a sandbox refuses, in which case waits fall back to looking every few ms.
int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0)
    {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

class CSpawnSetup
{
public:
    CSpawnSetup()
    {
        ::posix_spawn_file_actions_init(&m_actions);
        ::posix_spawnattr_init(&m_attr);
    }
    ~CSpawnSetup()
    {
        ::posix_spawn_file_actions_destroy(&m_actions);
        ::posix_spawnattr_destroy(&m_attr);
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attr;
};

bool AddStream(posix_spawn_file_actions_t& actions, EChildStream eKind, int nTargetFd, int nGivenFd,
               int nPipeWriteFd, std::string& strError)
{
    switch (eKind)
    {
    case EChildStream::Inherit:
        return true;
    case EChildStream::Null:
        return ::posix_spawn_file_actions_addopen(&actions, nTargetFd, "/dev/null",
                                                  nTargetFd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0) == 0;
    case EChildStream::Pipe:
        if (nPipeWriteFd < 0)
        {
            strError = "a pipe is only offered for the output streams";
            return false;
        }
        return ::posix_spawn_file_actions_adddup2(&actions, nPipeWriteFd, nTargetFd) == 0;
    case EChildStream::Descriptor:
        if (nGivenFd < 0)
        {
            strError = "no descriptor given for a redirected stream";
            return false;
        }
        return ::posix_spawn_file_actions_adddup2(&actions, nGivenFd, nTargetFd) == 0;
    }
    return false;
}

bool HasLimits(const SSpawnOptions& options)
{
    return options.m_nMaxAddressSpaceBytes != 0 || options.m_nMaxFileBytes != 0 ||
           options.m_nMaxCpuSeconds != 0;
}

// The grace between the processor time limit's SIGXCPU and its SIGKILL.
constexpr rlim_t CPU_KILL_GRACE_SECONDS = 5;

} // namespace

CProcess::~CProcess()
{
    if (IsRunning())
        Kill();
    CloseOutput();
}

bool CProcess::Start(const std::vector<std::string>& args, const SSpawnOptions& options)
{
    if (IsRunning())
        Kill();
    CloseOutput();
    m_pid = -1;
    m_bEnded = false;
    m_nExitCode = -1;
    m_nSignal = 0;
    m_nStartError = 0;
    m_durCpu = std::chrono::milliseconds(0);
    m_nPeakMemoryBytes = 0;
    m_strError.clear();
    m_strOutputBuffer.clear();
    if (args.empty() || args[0].empty())
    {
        m_strError = "no program given";
        return false;
    }

    int pipeFds[2] = {-1, -1};
    const bool bPipe = options.m_eOutput == EChildStream::Pipe || options.m_eErrors == EChildStream::Pipe;
    if (bPipe && ::pipe2(pipeFds, O_CLOEXEC) != 0)
    {
        m_strError = ErrnoText("pipe", errno);
        return false;
    }

    if (HasLimits(options))
    {
        const bool bStarted = StartWithLimits(args, options, pipeFds[1]);
        if (pipeFds[1] >= 0)
            ::close(pipeFds[1]);
        if (bStarted && bPipe)
            m_nOutputFd = pipeFds[0];
        else if (pipeFds[0] >= 0)
            ::close(pipeFds[0]);
        return bStarted;
    }

    CSpawnSetup setup;
    bool bOk =
        AddStream(setup.m_actions, options.m_eInput, STDIN_FILENO, options.m_nInputFd, -1, m_strError) &&
        AddStream(setup.m_actions, options.m_eOutput, STDOUT_FILENO, options.m_nOutputFd, pipeFds[1],
                  m_strError) &&
        AddStream(setup.m_actions, options.m_eErrors, STDERR_FILENO, options.m_nErrorsFd, pipeFds[1],
                  m_strError);
    // The child gets its three standard streams and nothing else this process holds open: a
    // descriptor that is not close-on-exec (one inherited from our own parent, a spooler's
    // back channel) must not reach a program that may run with other rights.
    if (bOk && ::posix_spawn_file_actions_addclosefrom_np(&setup.m_actions, STDERR_FILENO + 1) != 0)
    {
        m_strError = "cannot close the descriptors a child must not inherit";
        bOk = false;
    }
    if (bOk && !options.m_strWorkingDirectory.empty() &&
        ::posix_spawn_file_actions_addchdir_np(&setup.m_actions, options.m_strWorkingDirectory.c_str()) != 0)
    {
        m_strError = "cannot change to the folder " + options.m_strWorkingDirectory;
        bOk = false;
    }
    // The child starts with default signal handling and nothing blocked, whatever this process set up.
    sigset_t allSignals;
    sigset_t noSignals;
    sigfillset(&allSignals);
    sigemptyset(&noSignals);
    ::posix_spawnattr_setsigdefault(&setup.m_attr, &allSignals);
    ::posix_spawnattr_setsigmask(&setup.m_attr, &noSignals);
    short nFlags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.m_bOwnProcessGroup)
    {
        ::posix_spawnattr_setpgroup(&setup.m_attr, 0);
        nFlags |= POSIX_SPAWN_SETPGROUP;
    }
    ::posix_spawnattr_setflags(&setup.m_attr, nFlags);

    SExecVectors exec(args, options);

    if (bOk)
    {
        pid_t pid = -1;
        const int nError = ::posix_spawnp(&pid, exec.m_aArgv[0], &setup.m_actions, &setup.m_attr,
                                          exec.m_aArgv.data(), exec.m_ppEnvironment);
        if (nError == 0)
        {
            m_pid = pid;
            m_bGroup = options.m_bOwnProcessGroup;
        }
        else
        {
            m_nStartError = nError;
            m_strError = ErrnoText(args[0].c_str(), nError);
            bOk = false;
        }
    }
    else if (m_strError.empty())
        m_strError = "cannot set up the streams of " + args[0];

    if (pipeFds[1] >= 0)
        ::close(pipeFds[1]);
    if (bOk && bPipe)
        m_nOutputFd = pipeFds[0];
    else if (pipeFds[0] >= 0)
        ::close(pipeFds[0]);
    return bOk;
}

bool CProcess::StartWithLimits(const std::vector<std::string>& args, const SSpawnOptions& options,
                               int nPipeWriteFd)
{
    // Everything the child needs is made before the fork: between fork and exec the child of a
    // process with threads may only call async-signal-safe functions.
    const std::string strProgram = FindProgramOnPath(args[0]);
    if (strProgram.empty())
    {
        m_nStartError = ENOENT;
        m_strError = ErrnoText(args[0].c_str(), ENOENT);
        return false;
    }
    SExecVectors exec(args, options);

    struct SStream
    {
        EChildStream m_eKind;
        int m_nTarget;
        int m_nSource;
    };
    SStream aStreams[] = {{options.m_eInput, STDIN_FILENO, options.m_nInputFd},
                          {options.m_eOutput, STDOUT_FILENO, options.m_nOutputFd},
                          {options.m_eErrors, STDERR_FILENO, options.m_nErrorsFd}};
    int nNullFd = -1;
    for (SStream& stream : aStreams)
    {
        if (stream.m_eKind == EChildStream::Pipe)
        {
            if (stream.m_nTarget == STDIN_FILENO)
            {
                m_strError = "a pipe is only offered for the output streams";
                return false;
            }
            stream.m_nSource = nPipeWriteFd;
        }
        else if (stream.m_eKind == EChildStream::Null)
        {
            if (nNullFd < 0)
                nNullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (nNullFd < 0)
            {
                m_strError = ErrnoText("/dev/null", errno);
                return false;
            }
            stream.m_nSource = nNullFd;
        }
        else if (stream.m_eKind == EChildStream::Descriptor && stream.m_nSource < 0)
        {
            m_strError = "no descriptor given for a redirected stream";
            if (nNullFd >= 0)
                ::close(nNullFd);
            return false;
        }
    }
    struct SLimit
    {
        __rlimit_resource_t m_nResource;
        rlimit m_limit;
    };
    std::vector<SLimit> aLimits = {{RLIMIT_CORE, {0, 0}}};
    if (options.m_nMaxAddressSpaceBytes != 0)
        aLimits.push_back({RLIMIT_AS, {options.m_nMaxAddressSpaceBytes, options.m_nMaxAddressSpaceBytes}});
    if (options.m_nMaxFileBytes != 0)
        aLimits.push_back({RLIMIT_FSIZE, {options.m_nMaxFileBytes, options.m_nMaxFileBytes}});
    if (options.m_nMaxCpuSeconds != 0)
        aLimits.push_back(
            {RLIMIT_CPU, {options.m_nMaxCpuSeconds, options.m_nMaxCpuSeconds + CPU_KILL_GRACE_SECONDS}});
    // The child tells why its exec failed through this pipe; a successful exec closes it.
    int statusFds[2] = {-1, -1};
    if (::pipe2(statusFds, O_CLOEXEC) != 0)
    {
        m_strError = ErrnoText("pipe", errno);
        if (nNullFd >= 0)
            ::close(nNullFd);
        return false;
    }

    // No handler of this process may run in the child before the defaults are back.
    sigset_t allSignals;
    sigset_t oldSignals;
    sigfillset(&allSignals);
    ::pthread_sigmask(SIG_SETMASK, &allSignals, &oldSignals);
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        auto fail = [&](int nError)
        {
            (void)!::write(statusFds[1], &nError, sizeof nError);
            ::_exit(127);
        };
        for (const SStream& stream : aStreams)
        {
            if (stream.m_eKind == EChildStream::Inherit)
                continue;
            if (stream.m_nSource == stream.m_nTarget ? ::fcntl(stream.m_nTarget, F_SETFD, 0) != 0
                                                     : ::dup2(stream.m_nSource, stream.m_nTarget) < 0)
                fail(errno);
        }
        // Only the standard streams reach the program; the status pipe stays open until exec.
        if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
            fail(errno);
        if (!options.m_strWorkingDirectory.empty() && ::chdir(options.m_strWorkingDirectory.c_str()) != 0)
            fail(errno);
        if (options.m_bOwnProcessGroup)
            ::setpgid(0, 0);
        struct sigaction byDefault = {};
        byDefault.sa_handler = SIG_DFL;
        for (int nSignal = 1; nSignal < NSIG; ++nSignal)
            ::sigaction(nSignal, &byDefault, nullptr);
        for (const SLimit& limit : aLimits)
            if (::setrlimit(limit.m_nResource, &limit.m_limit) != 0)
                fail(errno);
        sigset_t noSignals;
        sigemptyset(&noSignals);
        ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
        ::execve(strProgram.c_str(), exec.m_aArgv.data(), exec.m_ppEnvironment);
        fail(errno);
    }
    const int nForkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &oldSignals, nullptr);
    ::close(statusFds[1]);
    if (nNullFd >= 0)
        ::close(nNullFd);
    if (pid < 0)
    {
        ::close(statusFds[0]);
        m_nStartError = nForkError;
        m_strError = ErrnoText(args[0].c_str(), nForkError);
        return false;
    }
    // Either the child's leader is set here or in the child: a signal to the group finds it at once.
    if (options.m_bOwnProcessGroup)
        ::setpgid(pid, pid);
    int nExecError = 0;
    ssize_t nRead;
    do
        nRead = ::read(statusFds[0], &nExecError, sizeof nExecError);
    while (nRead < 0 && errno == EINTR);
    ::close(statusFds[0]);
    if (nRead == static_cast<ssize_t>(sizeof nExecError))
    {
        int nStatus = 0;
        while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR)
        {
        }
        m_nStartError = nExecError;
        m_strError = ErrnoText(args[0].c_str(), nExecError);
        return false;
    }
    m_pid = pid;
    m_bGroup = options.m_bOwnProcessGroup;
    return true;
}

void CProcess::CloseOutput()
{
    if (m_nOutputFd >= 0)
        ::close(m_nOutputFd);
    m_nOutputFd = -1;
}

long CProcess::ReadMoreOutput(Clock::time_point deadline, bool bLimited)
{
    if (m_nOutputFd < 0)
        return 0;
    for (;;)
    {
        pollfd pfd{m_nOutputFd, POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, bLimited ? PollTimeoutUntil(deadline) : -1);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady == 0)
        {
            if (Clock::now() >= deadline)
                return -1;
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(m_nOutputFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        m_strOutputBuffer.append(chunk, static_cast<std::size_t>(n));
        return n;
    }
}

bool CProcess::ReadOutputLine(std::string& strLine, std::chrono::milliseconds durTimeout)
{
    const bool bLimited = durTimeout.count() >= 0;
    const auto deadline = Clock::now() + std::max(durTimeout, std::chrono::milliseconds(0));
    for (;;)
    {
        const auto nNewline = m_strOutputBuffer.find('\n');
        if (nNewline != std::string::npos)
        {
            strLine.assign(m_strOutputBuffer, 0, nNewline);
            m_strOutputBuffer.erase(0, nNewline + 1);
            return true;
        }
        if (m_strOutputBuffer.size() > MAX_OUTPUT_LINE_BYTES || ReadMoreOutput(deadline, bLimited) <= 0)
            return false;
    }
}

EWaitResult CProcess::ReadOutput(std::string& strOutput, std::chrono::milliseconds durTimeout,
                                 std::size_t nMaxBytes)
{
    const bool bLimited = durTimeout.count() >= 0;
    const auto deadline = Clock::now() + std::max(durTimeout, std::chrono::milliseconds(0));
    for (;;)
    {
        const std::size_t nRoom = nMaxBytes - std::min(nMaxBytes, strOutput.size());
        strOutput.append(m_strOutputBuffer, 0, std::min(nRoom, m_strOutputBuffer.size()));
        m_strOutputBuffer.clear();
        const long n = ReadMoreOutput(deadline, bLimited);
        if (n == 0)
            return EWaitResult::Ended;
        if (n < 0)
            return EWaitResult::TimedOut;
    }
}

void CProcess::Reaped(int nStatus, const rusage& usage)
{
    m_bEnded = true;
    const auto durUser =
        std::chrono::seconds(usage.ru_utime.tv_sec) + std::chrono::microseconds(usage.ru_utime.tv_usec);
    const auto durSystem =
        std::chrono::seconds(usage.ru_stime.tv_sec) + std::chrono::microseconds(usage.ru_stime.tv_usec);
    m_durCpu = std::chrono::duration_cast<std::chrono::milliseconds>(durUser + durSystem);
    m_nPeakMemoryBytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024; // kilobytes on Linux
    if (WIFEXITED(nStatus))
        m_nExitCode = WEXITSTATUS(nStatus);
    else if (WIFSIGNALED(nStatus))
        m_nSignal = WTERMSIG(nStatus);
}

bool CProcess::Poll()
{
    if (m_pid <= 0 || m_bEnded)
        return m_bEnded;
    int nStatus = 0;
    struct rusage usage = {};
    pid_t r;
    do
        r = ::wait4(m_pid, &nStatus, WNOHANG, &usage);
    while (r < 0 && errno == EINTR);
    if (r == m_pid)
        Reaped(nStatus, usage);
    else if (r < 0)
    {
        // Someone else reaped it (for example a SIGCHLD handler set to SIG_IGN); it has ended.
        m_bEnded = true;
    }
    return m_bEnded;
}

EWaitResult CProcess::Wait(std::chrono::milliseconds nTimeout)
{
    if (m_pid <= 0 || Poll())
        return EWaitResult::Ended;
    if (nTimeout.count() < 0)
    {
        int nStatus = 0;
        struct rusage usage = {};
        pid_t r;
        do
            r = ::wait4(m_pid, &nStatus, 0, &usage);
        while (r < 0 && errno == EINTR);
        if (r == m_pid)
            Reaped(nStatus, usage);
        else
            m_bEnded = true;
        return EWaitResult::Ended;
    }

    const auto deadline = Clock::now() + nTimeout;
    const int nPidFd = OpenPidFd(m_pid);
    while (!Poll())
    {
        const int nLeft = PollTimeoutUntil(deadline);
        if (nLeft == 0 && Clock::now() >= deadline)
            break;
        if (nPidFd >= 0)
        {
            pollfd pfd{nPidFd, POLLIN, 0};
            ::poll(&pfd, 1, nLeft);
        }
        else
            std::this_thread::sleep_for(
                std::min<std::chrono::milliseconds>(WAIT_SLICE, std::chrono::milliseconds(nLeft)));
    }
    if (nPidFd >= 0)
        ::close(nPidFd);
    return m_bEnded ? EWaitResult::Ended : EWaitResult::TimedOut;
}

void CProcess::Signal(int nSignal)
{
    if (IsRunning())
        ::kill(m_bGroup ? -m_pid : m_pid, nSignal);
}

void CProcess::Kill()
{
    if (!IsRunning())
        return;
    ::kill(m_bGroup ? -m_pid : m_pid, SIGKILL);
    (void)Wait(std::chrono::milliseconds(-1));
}

void CProcess::Detach()
{
    CloseOutput();
    m_pid = -1;
    m_bEnded = false;
}

std::string CProcess::Describe() const
{
    if (m_pid <= 0)
        return m_strError.empty() ? std::string("not started") : m_strError;
    if (!m_bEnded)
        return "still running";
    if (m_nSignal != 0)
        return "killed by signal " + std::to_string(m_nSignal);
    return "exit code " + std::to_string(m_nExitCode);
}

std::string SRunResult::Describe() const
{
    switch (m_eOutcome)
    {
    case EOutcome::NotStarted:
        return m_strError.empty() ? std::string("could not be started") : m_strError;
    case EOutcome::Exited:
        return "exit code " + std::to_string(m_nExitCode);
    case EOutcome::Signalled:
        return "killed by signal " + std::to_string(m_nSignal);
    case EOutcome::TimedOut:
        return "did not end in time and was stopped";
    }
    return {};
}

SRunResult RunProgram(const std::vector<std::string>& args, const SRunOptions& options)
{
    SRunResult result;
    SSpawnOptions spawn;
    spawn.m_aEnvironment = options.m_aEnvironment;
    spawn.m_strWorkingDirectory = options.m_strWorkingDirectory;
    // A program whose output is taken away has no one to answer it either.
    switch (options.m_eOutput)
    {
    case SRunOptions::EOutput::Inherit:
        break;
    case SRunOptions::EOutput::Capture:
        spawn.m_eInput = EChildStream::Null;
        spawn.m_eOutput = spawn.m_eErrors = EChildStream::Pipe;
        break;
    case SRunOptions::EOutput::Discard:
        spawn.m_eInput = EChildStream::Null;
        spawn.m_eOutput = spawn.m_eErrors = EChildStream::Null;
        break;
    }

    CProcess process;
    if (!process.Start(args, spawn))
    {
        result.m_strError = process.Error();
        return result;
    }

    const bool bLimited = options.m_durTimeout.count() >= 0;
    const auto deadline = Clock::now() + (bLimited ? options.m_durTimeout : std::chrono::milliseconds(0));
    bool bTimedOut = false;
    if (process.OutputFd() >= 0)
    {
        // Read until the child closes its end; bounded by the deadline, whatever the child does.
        bTimedOut = process.ReadOutput(result.m_strOutput, options.m_durTimeout, options.m_nMaxOutputBytes) ==
                    EWaitResult::TimedOut;
        process.CloseOutput();
    }
    if (!bTimedOut)
    {
        const auto nLeft =
            bLimited ? RoundUpToMilliseconds(deadline - Clock::now()) : std::chrono::milliseconds(-1);
        bTimedOut = process.Wait(nLeft) == EWaitResult::TimedOut;
    }
    if (bTimedOut)
    {
        process.Kill();
        result.m_eOutcome = EOutcome::TimedOut;
        return result;
    }
    result.m_nExitCode = process.ExitCode();
    result.m_nSignal = process.TermSignal();
    result.m_eOutcome = result.m_nSignal != 0 ? EOutcome::Signalled : EOutcome::Exited;
    return result;
}

std::string FindProgramOnPath(const std::string& strName)
{
    auto isProgram = [](const std::string& strPath)
    {
        struct stat st = {};
        return ::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               ::access(strPath.c_str(), X_OK) == 0;
    };
    if (strName.empty())
        return {};
    if (strName.find('/') != std::string::npos)
        return isProgram(strName) ? strName : std::string();
    const char* pszPath = std::getenv("PATH");
    const std::string strPath = pszPath != nullptr ? pszPath : "/usr/local/bin:/usr/bin:/bin";
    std::size_t nStart = 0;
    for (;;)
    {
        const std::size_t nEnd = strPath.find(':', nStart);
        std::string strDir =
            strPath.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (strDir.empty())
            strDir = ".";
        const std::string strCandidate = strDir + "/" + strName;
        if (isProgram(strCandidate))
            return strCandidate;
        if (nEnd == std::string::npos)
            return {};
        nStart = nEnd + 1;
    }
}

std::string FindSystemProgram(const std::string& strName)
{
    if (std::string strFound = FindProgramOnPath(strName); !strFound.empty())
        return strFound;
    if (strName.empty() || strName.find('/') != std::string::npos)
        return strName;
    for (const char* pszFolder : SYSTEM_PROGRAM_FOLDERS)
    {
        const std::string strCandidate = std::string(pszFolder) + "/" + strName;
        if (::access(strCandidate.c_str(), X_OK) == 0)
            return strCandidate;
    }
    return strName;
}

} // namespace platform
