#include "sender/app/SendwellApp.h"

#include "resources/ProgramIcon.h"
#include "sender/app/MessagePresenter.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SentFaxWindow.h"

#include <QApplication>
#include <QTimer>

int CSendwellApp::InitInstance()
{
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
