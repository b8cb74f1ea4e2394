// The message box module: loaded on demand by programs that link no GUI library,
// so that their messages still reach a person at the desktop as a dialog box.

#include "platform/Message.h"
#include "platform/qt/MessageIcon.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

extern "C" __attribute__((visibility("default"))) int VellumShowMessageBox(const char* pszCaption,
                                                                           const char* pszText, int nIcon)
{
    static int s_argc = 1;
    static char s_name[] = "vellum";
    static char* s_argv[] = {s_name, nullptr};
    if (QApplication::instance() == nullptr)
        new QApplication(s_argc, s_argv); // lives until the process ends
    if (qobject_cast<QApplication*>(QApplication::instance()) == nullptr)
        return 0;
    QMessageBox box(platform::ToQtMessageIcon(static_cast<platform::EMessageIcon>(nIcon)),
                    QString::fromUtf8(pszCaption), QString::fromUtf8(pszText), QMessageBox::Ok);
    box.exec();
    return 1;
}
