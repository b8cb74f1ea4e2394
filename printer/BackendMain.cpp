// vellumfax: the spooler backend of the fax printer Vellum Zeru 3.0.
//
// The spooler runs it as "vellumfax job user title copies options [file]" with the queue's
// device URI in DEVICE_URI (see DeviceUri.h); the document arrives as PDF on standard input
// or in the named file. The queue is shared by everyone on the computer: the pages go to
// the job's user, into the root that user registered when they ran the Installer (see
// UserRegistration.h). Installed without permissions for group and others, the backend is
// started as root, and stays root as the job's supervisor (JobSupervisor.h): the work on the
// user's files runs in a child that has become the job's user for good before it touches
// anything of theirs, so the page files are that user's and nothing is written with more
// rights than theirs, while the user, who may stop or kill that child, cannot hold up the
// queue. A job of root, of a name the computer does not know, or of a user who has not set
// the printer up is refused, and nothing is written anywhere.
//
// What the backend writes as INFO and ERROR becomes the printer's state message, which every
// user reads: those lines name no user, no path and quote nothing of a document; the details
// go into DEBUG lines, which only the administrator's log keeps.

#include "pages/FaxBackend.h"
#include "pages/UserRegistration.h"
#include "platform/BinaryFile.h"
#include "platform/Text.h"
#include "printer/BackendJob.h"
#include "printer/JobSupervisor.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

volatile std::sig_atomic_t g_stop = 0;

void OnTerminate(int)
{
    g_stop = 1;
}

// One line for the spooler: the job's state message and the error log. Names and reasons may
// hold anything a client sent, so only printable text goes out. The job's filters write to the
// same status pipe, so the line goes out in one write: in pieces, a filter's line could come
// between its level and its text, and the spooler would read neither as the job's ERROR.
void Report(const char* pszLevel, const std::string& strText)
{
    const std::string strLine = std::string(pszLevel) + ": " + platform::PrintableUtf8(strText) + "\n";
    std::cerr.write(strLine.data(), static_cast<std::streamsize>(strLine.size())).flush();
}

// Ends the other processes the spooler runs for this job: its filters, the children of the
// spooler that write to the job's status pipe (this process's standard error), each leading a
// process group of its own. A filter that never hands its output on (PostScript that loops in
// Ghostscript) would otherwise keep the job, and the queue, busy after the backend has given
// the job up.
void EndJobFilters()
{
    const pid_t spooler = ::getppid();
    std::error_code error;
    const auto statusPipe = std::filesystem::read_symlink("/proc/self/fd/2", error);
    if (error || !statusPipe.string().starts_with("pipe:"))
        return;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error))
    {
        const std::string strPid = entry.path().filename().string();
        if (strPid.empty() || strPid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = std::stoi(strPid);
        // "PID (NAME) STATE PPID ...": the name may hold blanks and parentheses.
        const std::string strStat = platform::ReadWholeFile(entry.path() / "stat", 4096).value_or("");
        const auto nClose = strStat.rfind(')');
        std::error_code linkError;
        if (pid == ::getpid() || nClose == std::string::npos ||
            std::atol(strStat.c_str() + std::min(nClose + 4, strStat.size())) != spooler ||
            std::filesystem::read_symlink(entry.path() / "fd/2", linkError) != statusPipe)
            continue;
        Report("DEBUG", "ending the job's filter process " + strPid);
        ::kill(-pid, SIGTERM);
        ::kill(pid, SIGTERM);
    }
}

// The real steps of a job: the supervisor runs the work as the job's user in its child, which
// renders the document it feeds it into the user's registered root. bInputRead tells whether
// the job's input was read to its end.
driver::SBackendJobSteps RealSteps(int argc, char* argv[], bool& bInputRead)
{
    driver::SBackendJobSteps steps;
    steps.m_fnFindAccount = driver::SUserAccount::ByName;
    steps.m_fnReport = Report;
    const pid_t self = ::getpid();
    steps.m_fnBecome = [self](const driver::SUserAccount& account, std::string& strError)
    {
        if (!account.Become(strError))
            return false;
        ::umask(077);
        // Becoming the user cleared the parent-death signal: a supervisor that is killed takes
        // the work with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != self)
        {
            strError = "the supervisor has ended";
            return false;
        }
        return true;
    };
    steps.m_fnPrepareDriveRoot =
        [](const driver::SUserAccount& account, std::filesystem::path& driveRoot, std::string& strError)
    { return driver::CUserRegistration(account).PrepareDriveRoot(driveRoot, strError); };
    const auto limits = driver::SJobLimits::FromEnvironment();
    steps.m_fnRender = [limits](const std::filesystem::path& driveRoot)
    {
        driver::SBackendSettings settings;
        settings.m_driveRoot = driveRoot;
        settings.m_pStop = &g_stop;
        settings.m_durRenderStall = limits.m_durWorkStall;
        driver::CFaxBackend backend(settings, std::cerr);
        return backend.Run(STDIN_FILENO) == driver::EJobResult::Done;
    };
    steps.m_fnSupervise = [=, &bInputRead](const std::function<int()>& fnWork)
    {
        // The document is opened while the spooler's rights still apply: its spool file is not the user's.
        int nInputFd = STDIN_FILENO;
        if (argc == 7)
        {
            nInputFd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
            if (nInputFd < 0)
            {
                Report("ERROR", platform::ErrnoText("Cannot open the job's document"));
                return driver::BACKEND_FAILED;
            }
        }
        // The supervisor reads the job's input and feeds it on, so the child never holds the
        // spooler's descriptors; whatever the child does, the job ends within the limits and the
        // next one follows.
        driver::CJobSupervisor supervisor(limits, std::cerr, &g_stop);
        const auto eEnd = supervisor.Run(nInputFd, fnWork);
        bInputRead = supervisor.InputEnded() || argc == 7;
        if (eEnd == driver::EJobEnd::Finished)
            return supervisor.ChildExitCode() == driver::BACKEND_OK ? driver::BACKEND_OK
                                                                    : driver::BACKEND_FAILED;
        Report("ERROR", supervisor.Reason());
        return driver::BACKEND_FAILED;
    };
    return steps;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1)
    {
        // Asked to list the devices it can find: this backend finds none; the Installer sets its queue up.
        return driver::BACKEND_OK;
    }
    if (argc < 6 || argc > 7)
    {
        std::cerr << "Usage: " << argv[0] << " job-id user title copies options [file]" << std::endl;
        return driver::BACKEND_FAILED;
    }

    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr); // no SA_RESTART: a blocked read ends with EINTR
    std::signal(SIGPIPE, SIG_IGN);

    bool bInputRead = false;
    const char* pszUri = std::getenv("DEVICE_URI");
    const int nCode = driver::RunBackendJob(pszUri != nullptr ? pszUri : argv[0], argv[2],
                                            RealSteps(argc, argv, bInputRead));
    // Refused or given up before the filters handed everything on: they have nobody to hand it to.
    if (nCode != driver::BACKEND_OK && !bInputRead && g_stop == 0)
        EndJobFilters();
    return nCode;
}
