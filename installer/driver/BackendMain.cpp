// vellumfax: the spooler backend of the fax printer Vellum Zeru 3.0.
//
// The spooler runs it as "vellumfax job user title copies options [file]" with the queue's
// device URI in DEVICE_URI (see DeviceUri.h); the document arrives as PDF on standard input
// or in the named file. Installed without permissions for group and others, the backend
// is started as root; it then becomes the user the URI names before it touches anything,
// so the page files are that user's and nothing is written with more rights than theirs.

#include "installer/driver/DeviceUri.h"
#include "installer/driver/FaxBackend.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

// The exit codes a backend reports to the spooler (cups/backend.h).
constexpr int BACKEND_OK = 0;
constexpr int BACKEND_FAILED = 1; // the queue's error policy decides; the Installer sets abort-job
constexpr int BACKEND_STOP = 4;   // the queue is misconfigured: every job would fail the same way

volatile std::sig_atomic_t g_stop = 0;

void OnTerminate(int)
{
    g_stop = 1;
}

bool BecomeUser(uid_t uid, std::string& strError)
{
    if (::geteuid() != 0)
    {
        // A scheduler run by an ordinary user runs its backends as that user: nothing to change.
        return true;
    }
    if (uid == 0)
        return true;
    std::vector<char> buffer(16384);
    passwd entry = {};
    passwd* pEntry = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &pEntry) != 0 || pEntry == nullptr)
    {
        strError = "there is no user with id " + std::to_string(uid);
        return false;
    }
    if (::initgroups(pEntry->pw_name, pEntry->pw_gid) != 0 || ::setgid(pEntry->pw_gid) != 0 ||
        ::setuid(uid) != 0)
    {
        strError = platform::ErrnoText(std::string("cannot become user ") + pEntry->pw_name);
        return false;
    }
    // The change must be for good: a process that can get root back has not given it up.
    if (::getuid() != uid || ::geteuid() != uid || ::setuid(0) == 0)
    {
        strError = std::string("cannot give up root for user ") + pEntry->pw_name;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1)
    {
        // Asked to list the devices it can find: this backend finds none; queues name their folder.
        return BACKEND_OK;
    }
    if (argc < 6 || argc > 7)
    {
        std::cerr << "Usage: " << argv[0] << " job-id user title copies options [file]" << std::endl;
        return BACKEND_FAILED;
    }

    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr); // no SA_RESTART: a blocked read ends with EINTR
    std::signal(SIGPIPE, SIG_IGN);

    const char* pszUri = std::getenv("DEVICE_URI");
    std::string strError;
    const auto uri = driver::SDeviceUri::Parse(pszUri != nullptr ? pszUri : argv[0], strError);
    if (!uri)
    {
        std::cerr << "ERROR: The fax printer is not set up right: " << strError
                  << ". Run the Installer of Vellum Zeru 3.0 again." << std::endl;
        return BACKEND_STOP;
    }

    // The document is opened while the spooler's rights still apply: its spool file is not the user's.
    int nInputFd = STDIN_FILENO;
    if (argc == 7)
    {
        nInputFd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (nInputFd < 0)
        {
            std::cerr << "ERROR: Cannot open the job's document: " << std::strerror(errno) << std::endl;
            return BACKEND_FAILED;
        }
    }

    if (!BecomeUser(uri->m_nUid, strError))
    {
        std::cerr << "ERROR: The fax printer is not set up right: " << strError << "." << std::endl;
        return BACKEND_STOP;
    }
    ::umask(077);
    // The page files' folder is worked out as every program of the system works it out.
    ::setenv("VELLUM_ROOT", uri->m_root.c_str(), 1);

    driver::SBackendSettings settings;
    settings.driveRoot = platform::DriveRoot();
    settings.pStop = &g_stop;
    driver::CFaxBackend backend(settings, std::cerr);
    const auto eResult = backend.Run(nInputFd);
    return eResult == driver::EJobResult::Done ? BACKEND_OK : BACKEND_FAILED;
}
