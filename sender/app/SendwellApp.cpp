#include "sender/app/SendwellApp.h"

#include "pages/FaxPrinter.h"
#include "platform/Descriptor.h"
#include "platform/Message.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "resources/ProgramIcon.h"
#include "sender/app/CommandLine.h"
#include "sender/app/CommandSend.h"
#include "sender/app/MessagePresenter.h"
#include "sender/app/NoticeCommand.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SentFaxWindow.h"
#include "sender/common/Branding.h"

#include <QApplication>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

// The shared lock that tells the watcher that a Sendwell is open (platform/PageFiles.h).
class COpenMark
{
public:
    static constexpr int LOCK_TRIES = 100;
    static constexpr std::chrono::milliseconds LOCK_RETRY_PAUSE{5};

    COpenMark()
    {
        ::mkdir(platform::DriveRoot().c_str(), 0700);
        m_fd.Reset(::open(platform::DrivePath(platform::SENDWELL_OPEN_FILE_NAME).c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        // The watcher looks by taking the lock exclusively for a moment; the shared lock is
        // tried again for a while rather than given up, which would leave Sendwell unmarked.
        for (int nTry = 0; m_fd.Get() >= 0 && nTry < LOCK_TRIES; ++nTry)
        {
            if (::flock(m_fd.Get(), LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK)
                break;
            std::this_thread::sleep_for(LOCK_RETRY_PAUSE);
        }
    }

private:
    platform::CDescriptor m_fd;
};

} // namespace

void RunFirstStart(const std::function<driver::ESetUp(std::string&)>& fnSetUp)
{
    std::string strError;
    if (fnSetUp(strError) != driver::ESetUp::Failed)
        return;
    platform::ShowMessage(PRODUCT_NAME,
                          SET_UP_FAILED_TEXT + platform::PrintableUtf8(strError) +
                              ".\nUntil it is, what you print to " + driver::PRINTER_NAME +
                              " does not reach you; Sendwell tries again when it next starts.",
                          platform::EMessageIcon::Warning);
}

int CSendwellApp::InitInstance()
{
    // A bad command line opens nothing: the plain dialog would hide that the file was not taken.
    const SLaunch launch = ParseCommandLine(QApplication::arguments().mid(1));
    if (launch.m_eLaunch == ELaunch::Help)
    {
        std::fputs(CommandLineHelp().c_str(), stdout);
        return 0;
    }
    if (launch.m_eLaunch == ELaunch::CheckNotices)
        return CheckNoticesCommand({}, std::time(nullptr));
    if (launch.m_eLaunch == ELaunch::Send)
        return RunCommandLineSend(QApplication::arguments().mid(1));
    if (launch.m_eLaunch == ELaunch::Refused)
    {
        std::fprintf(stderr, "Sendwell: %s\nTry Sendwell --help.\n", launch.m_strMessage.c_str());
        return BAD_COMMAND_LINE_EXIT;
    }
    InstallQtMessagePresenter();
    QApplication::setWindowIcon(resources::ProgramIcon());
    // Before the mark, which needs the drive root that a first start makes.
    RunFirstStart(driver::SetUpOnFirstStart);
    const COpenMark openMark;
    if (launch.m_eLaunch == ELaunch::SentFaxes)
    {
        CSentFaxWindow window;
        if (window.exec() != QDialog::Accepted || !window.SendAgainFax())
            return 0;
        CSendDialog dialog;
        dialog.ShowPagesFor(window.SendAgainFax()->m_strRecipient, window.SendAgainFax()->m_strFaxNumber);
        dialog.ChooseCover(window.SendAgainFax()->m_bCoverSent);
        (void)dialog.exec();
        return 0;
    }
    CSendDialog dialog;
    // "Sendwell FILE": the file's pages, rendered once the dialog is up, replace the printed ones.
    if (launch.m_eLaunch == ELaunch::Document)
        QTimer::singleShot(0, &dialog,
                           [&dialog, strFile = launch.m_strFile] { (void)dialog.TakeDocument(strFile); });
    // How the dialog ended does not matter: the program ends with it.
    (void)dialog.exec();
    return 0;
}
