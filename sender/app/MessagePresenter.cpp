#include "sender/app/MessagePresenter.h"

#include "platform/Message.h"
#include "platform/qt/MessageIcon.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

namespace
{

void ShowBox(const std::string& strCaption, const std::string& strText, platform::EMessageIcon eIcon)
{
    QMessageBox box(platform::ToQtMessageIcon(eIcon), QString::fromStdString(strCaption),
                    QString::fromStdString(strText), QMessageBox::Ok);
    box.exec();
}

} // namespace

void InstallQtMessagePresenter()
{
    platform::SetMessagePresenter(
        [](const std::string& strCaption, const std::string& strText, platform::EMessageIcon eIcon)
        {
            QCoreApplication* pApp = QCoreApplication::instance();
            if (pApp == nullptr)
            {
                std::fprintf(stderr, "%s: %s\n", strCaption.c_str(), strText.c_str());
                return;
            }
            if (QThread::currentThread() == pApp->thread())
            {
                ShowBox(strCaption, strText, eIcon);
                return;
            }
            QMetaObject::invokeMethod(
                pApp, [&] { ShowBox(strCaption, strText, eIcon); }, Qt::BlockingQueuedConnection);
        });
}
