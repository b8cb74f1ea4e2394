#include "sender/app/SendwellApp.h"

#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "resources/ProgramIcon.h"
#include "sender/app/MessagePresenter.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SentFaxWindow.h"

#include <QApplication>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The shared lock that tells the watcher that a Sendwell is open (platform/PageFiles.h).
class COpenMark
{
public:
    COpenMark()
    {
        ::mkdir(platform::DriveRoot().c_str(), 0700);
        m_fd = ::open(platform::DrivePath(platform::SENDWELL_OPEN_FILE_NAME).c_str(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0)
            (void)::flock(m_fd, LOCK_SH | LOCK_NB);
    }
    ~COpenMark()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    COpenMark(const COpenMark&) = delete;
    COpenMark& operator=(const COpenMark&) = delete;

private:
    int m_fd = -1;
};

} // namespace

int CSendwellApp::InitInstance()
{
    const COpenMark openMark;
    InstallQtMessagePresenter();
    QApplication::setWindowIcon(resources::ProgramIcon());
    const QStringList aArgs = QApplication::arguments();
    if (aArgs.size() == 2 && aArgs[1] == QLatin1String(SENT_FAXES_OPTION))
    {
        CSentFaxWindow window;
        if (window.exec() != QDialog::Accepted || !window.SendAgainFax())
            return 0;
        CSendDialog dialog;
        dialog.ShowPagesFor(window.SendAgainFax()->m_strRecipient, window.SendAgainFax()->m_strFaxNumber);
        (void)dialog.exec();
        return 0;
    }
    CSendDialog dialog;
    // "Sendwell FILE": the file's pages, rendered once the dialog is up, replace the printed ones.
    if (aArgs.size() == 2 && !aArgs[1].startsWith(QLatin1String("--")))
        QTimer::singleShot(
            0, &dialog, [&dialog, strFile = aArgs[1].toStdString()] { (void)dialog.TakeDocument(strFile); });
    // How the dialog ended does not matter: the program ends with it.
    (void)dialog.exec();
    return 0;
}
