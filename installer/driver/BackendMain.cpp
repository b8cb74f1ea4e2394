// vellumfax: the spooler backend of the fax printer Vellum Zeru 3.0.
//
// The spooler runs it as "vellumfax job user title copies options [file]" with the queue's
// device URI in DEVICE_URI (see DeviceUri.h); the document arrives as PDF on standard input
// or in the named file. The queue is shared by everyone on the computer: the pages go to
// the job's user, into the root that user registered when they ran the Installer (see
// UserRegistration.h). Installed without permissions for group and others, the backend is
// started as root; it becomes the job's user before it touches anything of theirs, so the
// page files are that user's and nothing is written with more rights than theirs. A job of
// root, of a name the computer does not know, or of a user who has not set the printer up is
// refused, and nothing is written anywhere.

#include "installer/driver/DeviceUri.h"
#include "installer/driver/FaxBackend.h"
#include "installer/driver/FaxPrinter.h"
#include "installer/driver/UserAccount.h"
#include "installer/driver/UserRegistration.h"
#include "platform/Text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

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

// One line for the spooler: the job's state message and the error log. Names and reasons may
// hold anything a client sent, so only printable text goes out.
void Report(const char* pszLevel, const std::string& strText)
{
    std::cerr << pszLevel << ": " << platform::PrintableUtf8(strText) << std::endl;
}

int Refuse(const std::string& strReason)
{
    Report("ERROR", strReason + " Nothing was written.");
    return BACKEND_FAILED;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1)
    {
        // Asked to list the devices it can find: this backend finds none; the Installer sets its queue up.
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

    const std::string strPrinter = driver::PRINTER_NAME;
    const char* pszUri = std::getenv("DEVICE_URI");
    std::string strError;
    const auto uri = driver::SDeviceUri::Parse(pszUri != nullptr ? pszUri : argv[0], strError);
    if (!uri)
    {
        Report("ERROR", "The fax printer is not set up right: " + strError + ". Run the Installer of " +
                            strPrinter + " again as administrator.");
        return BACKEND_STOP;
    }

    // The job's user as the spooler names them: the pages are theirs, and go nowhere else.
    const std::string strUser = argv[2];
    const auto account = driver::SUserAccount::ByName(strUser);
    if (!account)
        return Refuse("The job's user \"" + strUser + "\" has no account on this computer, so " + strPrinter +
                      " has nowhere to put the pages.");
    if (account->m_nUid == 0)
        return Refuse(strPrinter + " takes no jobs from root: print as the user who sends the fax.");
    if (!uri->IsShared() && *uri->m_nUid != account->m_nUid)
        return Refuse("This queue of " + strPrinter +
                      " was set up for another user only. Run the Installer of " + strPrinter +
                      " again as administrator to share it.");

    // The document is opened while the spooler's rights still apply: its spool file is not the user's.
    int nInputFd = STDIN_FILENO;
    if (argc == 7)
    {
        nInputFd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (nInputFd < 0)
        {
            Report("ERROR", platform::ErrnoText("Cannot open the job's document"));
            return BACKEND_FAILED;
        }
    }

    // Nothing in the user's home is looked at before the backend is the user: their own
    // rights decide what it may read and write there, whatever links they put in its way.
    if (!account->Become(strError))
        return Refuse(strPrinter + " cannot act as " + strUser + ": " + strError + ".");
    ::umask(077);

    const driver::CUserRegistration registration(*account);
    driver::SBackendSettings settings;
    switch (registration.PrepareDriveRoot(settings.driveRoot, strError))
    {
    case driver::ELookup::Found:
        break;
    case driver::ELookup::NotSetUp:
        return Refuse(strUser + " has not set up the fax printer " + strPrinter + ": run its Installer as " +
                      strUser + " first.");
    case driver::ELookup::Refused:
        return Refuse(strPrinter + " does not put " + strUser + "'s pages there: " + strError + ".");
    }
    Report("DEBUG", "the pages of " + strUser + " go to " + settings.driveRoot.string());

    settings.pStop = &g_stop;
    driver::CFaxBackend backend(settings, std::cerr);
    const auto eResult = backend.Run(nInputFd);
    return eResult == driver::EJobResult::Done ? BACKEND_OK : BACKEND_FAILED;
}
