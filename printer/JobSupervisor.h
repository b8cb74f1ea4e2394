#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>

// The part of the fax printer's backend that keeps the spooler's rights (root) while the work
// on the job's user's files runs in a child that has become that user. The user may stop or
// kill their own child, never the supervisor: it feeds the child the job's input, bounds how
// long the input may stall, how long the child may go without progress (a stopped child makes
// none) and how long the whole job may take, ends the child's whole process group when a
// limit is passed, and says why, so that the shared queue goes on with the next job.
namespace driver
{

struct SJobLimits
{
    // The spooler's filters hand on nothing more for this long (a PostScript loop in them).
    std::chrono::milliseconds m_durInputStall = std::chrono::minutes(5);
    // The child takes no input and reports nothing (no page rendered) for this long.
    std::chrono::milliseconds m_durWorkStall = std::chrono::minutes(2);
    // The whole job, from the backend's start: a 254-page document stays well inside it.
    std::chrono::milliseconds m_durJob = std::chrono::minutes(30);

    // The limits as the spooler's configuration sets them for its backends (SetEnv in
    // cups-files.conf, which only the administrator writes; a job's user cannot reach the
    // backend's environment): whole seconds in VELLUMFAX_INPUT_STALL, VELLUMFAX_WORK_STALL and
    // VELLUMFAX_JOB_LIMIT. A missing or malformed value keeps the default.
    static SJobLimits FromEnvironment();
};

enum class EJobEnd
{
    Finished,     // the child ended by itself; ChildExitCode() says how
    InputStalled, // no input came for m_durInputStall
    InputFailed,  // the input could not be read
    WorkStalled,  // the child made no progress for m_durWorkStall
    TooLong,      // the job took longer than m_durJob
    Killed,       // a signal not sent here ended the child
    Stopped,      // the spooler asked the backend to stop
    NotStarted,   // the child could not be made
};

class CJobSupervisor
{
public:
    CJobSupervisor(SJobLimits limits, std::ostream& log, const volatile std::sig_atomic_t* pStop = nullptr);

    // Runs fnWork in a child that leads a process group of its own; fnWork's result is the
    // child's exit code. The child's standard input is a pipe that this process feeds from
    // nInputFd, its standard error a pipe whose lines this process passes on to the log
    // (printable, each in one write; only DEBUG, INFO, WARNING and ERROR lines as such, anything
    // else as DEBUG), its standard output /dev/null; it holds no other descriptor. Its reading
    // and its lines are its progress. When a limit is passed, the child's process group is killed.
    [[nodiscard]] EJobEnd Run(int nInputFd, const std::function<int()>& fnWork);

    // After Finished: the child's exit code.
    int ChildExitCode() const { return m_nExitCode; }
    // One sentence that every user may read, for any end but Finished.
    const std::string& Reason() const { return m_strReason; }
    // True once the job's input was read to its end.
    bool InputEnded() const { return m_bInputEnded; }
    // The child while it runs, else -1.
    pid_t ChildPid() const { return m_pid; }

    static constexpr std::size_t MAX_LINE_BYTES = 4096;

private:
    EJobEnd End(EJobEnd eEnd, std::string strReason);
    void KillChild();
    void PassOn(std::string_view line);

    SJobLimits m_limits;
    std::ostream& m_log;
    const volatile std::sig_atomic_t* m_pStop;
    pid_t m_pid = -1;
    int m_nExitCode = -1;
    bool m_bInputEnded = false;
    std::string m_strReason;
};

} // namespace driver
