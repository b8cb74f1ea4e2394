#include "sender/app/CommandLine.h"
#include "sender/app/CommandSend.h"
#include "sender/app/NoticeCommand.h"
#include "sender/app/SendwellApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <ctime>

int main(int argc, char** argv)
{
    // The poll that Pagewatch starts needs no display, and must work where none is.
    if (IsCheckNoticesLaunch(argc, argv))
    {
        QCoreApplication app(argc, argv);
        return CheckNoticesCommand({}, std::time(nullptr));
    }
    // A send from the command line opens no window, and so needs no display.
    if (IsCommandLineSend(argc, argv))
        return RunCommandLineSendApp(argc, argv);
    QApplication app(argc, argv);
    CSendwellApp theApp;
    return theApp.InitInstance();
}
