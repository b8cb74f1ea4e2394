#include "sender/app/CommandLine.h"
#include "sender/app/CommandSend.h"
#include "sender/app/NoticeCommand.h"
#include "sender/app/SendwellApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{

// Whether the command line asks for the help text: it needs no display either.
bool AsksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (AsksForHelp(argc, argv))
    {
        std::fputs(CommandLineHelp().c_str(), stdout);
        return 0;
    }
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
