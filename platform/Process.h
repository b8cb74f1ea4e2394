#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// Starting other programs. A program is always started from an argument vector with
// posix_spawn, never through a shell, so no argument is ever interpreted. A name without
// a slash is looked up on this process's PATH. The child holds its three standard streams
// and no other descriptor of this process.
namespace platform
{

// Where one of the child's standard streams goes.
enum class EChildStream
{
    Inherit,    // the same stream as this process
    Null,       // /dev/null
    Pipe,       // a pipe this process reads (standard output and error only)
    Descriptor, // a descriptor this process has open (see SSpawnOptions)
};

struct SSpawnOptions
{
    // The child's whole environment as NAME=value entries; none: this process's environment.
    std::optional<std::vector<std::string>> m_aEnvironment;
    // The child's current directory; empty: this process's.
    std::string m_strWorkingDirectory;
    EChildStream m_eInput = EChildStream::Inherit;
    EChildStream m_eOutput = EChildStream::Inherit;
    EChildStream m_eErrors = EChildStream::Inherit; // Pipe: the same pipe as the output
    int m_nInputFd = -1;                            // for EChildStream::Descriptor
    int m_nOutputFd = -1;
    int m_nErrorsFd = -1;
    // The child leads a process group of its own, and Signal and Kill reach the whole group:
    // for a program that starts helpers of its own (a filter chain) which must end with it.
    bool m_bOwnProcessGroup = false;
    // Resource limits the child and every process it starts run under; 0: no limit. A child
    // with limits is started with fork and exec, since posix_spawn cannot set them.
    std::uint64_t m_nMaxAddressSpaceBytes = 0; // RLIMIT_AS: allocations beyond it fail
    std::uint64_t m_nMaxFileBytes = 0;         // RLIMIT_FSIZE: a write beyond it ends the writer
    std::uint64_t m_nMaxCpuSeconds = 0;        // RLIMIT_CPU: the processor time of each process
};

enum class EWaitResult
{
    Ended,
    TimedOut,
};

// One child process. A child that is still running when the object goes away is killed
// and reaped, so that no child outlives its owner by accident.
class CProcess
{
public:
    CProcess() = default;
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;
    ~CProcess();

    // args[0] is the program. False, with Error() set, when it cannot be started.
    [[nodiscard]] bool Start(const std::vector<std::string>& args, const SSpawnOptions& options = {});
    bool IsRunning() const { return m_pid > 0 && !m_bEnded; }
    pid_t Pid() const { return m_pid; }

    // Read end of the output pipe (EChildStream::Pipe), or -1.
    int OutputFd() const { return m_nOutputFd; }
    void CloseOutput();
    // The next line of the output pipe, without its newline, read while the child runs. False
    // at the end of the output, when no whole line came within durTimeout (negative: no limit),
    // or when a line grows past MAX_OUTPUT_LINE_BYTES; what was read stays for the next call.
    [[nodiscard]] bool ReadOutputLine(std::string& strLine, std::chrono::milliseconds durTimeout);
    // Reads the output pipe until the child closes it (Ended) or durTimeout has passed (TimedOut;
    // negative: no limit), after what ReadOutputLine left. At most nMaxBytes are appended to
    // strOutput; the rest is read and dropped, so that the child is never blocked on a full pipe.
    EWaitResult ReadOutput(std::string& strOutput, std::chrono::milliseconds durTimeout,
                           std::size_t nMaxBytes);

    // Waits at most nTimeout for the child to end; a negative timeout waits without limit.
    [[nodiscard]] EWaitResult Wait(std::chrono::milliseconds nTimeout);
    // True once the child has ended, without blocking.
    bool Poll();
    void Signal(int nSignal);
    // Kills the child (SIGKILL) and reaps it.
    void Kill();
    // Lets the child run on by itself: this object forgets it and will not kill it. Meant for
    // a parent about to end; until then the ended child stays a zombie.
    void Detach();

    // After the child ended: its exit code, or -1 if a signal ended it.
    int ExitCode() const { return m_nExitCode; }
    // After the child ended: the signal that ended it, or 0.
    int TermSignal() const { return m_nSignal; }
    bool Succeeded() const { return m_bEnded && m_nExitCode == 0; }
    // After the child ended: the processor time and the most memory that it, or one of the
    // processes it waited for, used.
    std::chrono::milliseconds CpuTime() const { return m_durCpu; }
    std::uint64_t PeakMemoryBytes() const { return m_nPeakMemoryBytes; }
    // Why Start failed, or how the child ended ("exit code 2", "killed by signal 9").
    std::string Describe() const;
    const std::string& Error() const { return m_strError; }
    // The error number of a failed start (ENOENT, EACCES, ...), or 0.
    int StartErrno() const { return m_nStartError; }

    static constexpr std::size_t MAX_OUTPUT_LINE_BYTES = 64 * 1024;

private:
    void Reaped(int nStatus, const rusage& usage);
    bool StartWithLimits(const std::vector<std::string>& args, const SSpawnOptions& options,
                         int nPipeWriteFd);
    // Reads the next piece of the output pipe into m_strOutputBuffer: its size, 0 at the end of
    // the output, -1 when nothing came before the deadline.
    long ReadMoreOutput(std::chrono::steady_clock::time_point deadline, bool bLimited);

    pid_t m_pid = -1;
    bool m_bEnded = false;
    bool m_bGroup = false; // the child leads its own process group
    int m_nExitCode = -1;
    int m_nSignal = 0;
    int m_nOutputFd = -1;
    int m_nStartError = 0;
    std::chrono::milliseconds m_durCpu{0};
    std::uint64_t m_nPeakMemoryBytes = 0;
    std::string m_strError;
    std::string m_strOutputBuffer; // read from the pipe, not yet handed out
};

enum class EOutcome
{
    NotStarted,
    Exited,
    Signalled,
    TimedOut,
};

struct SRunResult
{
    EOutcome m_eOutcome = EOutcome::NotStarted;
    int m_nExitCode = -1;
    int m_nSignal = 0;
    // Standard output and error together, at most SRunOptions::m_nMaxOutputBytes of it.
    std::string m_strOutput;
    // Why the program could not be started.
    std::string m_strError;

    bool Succeeded() const { return m_eOutcome == EOutcome::Exited && m_nExitCode == 0; }
    // A short account for messages: "exit code 1", "did not end within 60 s", ...
    std::string Describe() const;
};

struct SRunOptions
{
    std::optional<std::vector<std::string>> m_aEnvironment;
    std::string m_strWorkingDirectory;
    // Killed after this long; negative: no limit.
    std::chrono::milliseconds m_durTimeout{-1};
    enum class EOutput
    {
        Inherit,
        Capture,
        Discard,
    } m_eOutput = EOutput::Inherit;
    std::size_t m_nMaxOutputBytes = 64 * 1024;
};

// Runs a program to its end (or its timeout) and reports how it ended.
[[nodiscard]] SRunResult RunProgram(const std::vector<std::string>& args, const SRunOptions& options = {});

// The full path of a program name as posix_spawnp would find it on PATH; empty if none.
std::string FindProgramOnPath(const std::string& strName);

// The folders of the administrator's programs, which an ordinary user's PATH often lacks
// (Debian gives it no /usr/sbin) although those programs serve them too (lpadmin, say).
inline constexpr const char* SYSTEM_PROGRAM_FOLDERS[] = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};

// The full path of a program found on PATH or, failing that, in SYSTEM_PROGRAM_FOLDERS; the
// name itself when it is nowhere, so that a start still fails with its name.
std::string FindSystemProgram(const std::string& strName);

} // namespace platform
