#include "sender/app/SendwellApp.h"

#include "resources/ProgramIcon.h"
#include "sender/app/MessagePresenter.h"
#include "sender/app/SendDialog.h"

#include <QApplication>

int CSendwellApp::InitInstance()
{
    InstallQtMessagePresenter();
    QApplication::setWindowIcon(resources::ProgramIcon());
    CSendDialog dialog;
    // How the dialog ended does not matter: the program ends with it.
    (void)dialog.exec();
    return 0;
}
