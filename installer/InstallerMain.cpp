// Installer: run from the folder that holds the distribution's files. With --uninstall it
// removes what it installed (--purge: the settings and the address book too). --add-queue and
// --remove-queue, for the package's maintainer scripts, change the shared queue alone and answer
// on standard output (standard error when they fail), never in a window.

#include "installer/CompletionReport.h"
#include "installer/Installer.h"
#include "platform/Message.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    installer::SInstallSettings settings;
    std::string strError;
    if (!installer::SInstallSettings::ParseArguments(args, settings, strError))
    {
        platform::ShowMessage(installer::COMPLETION_CAPTION,
                              "Installer: " + strError +
                                  "\nUsage: Installer [--uninstall [--purge]]\n"
                                  "       Installer --add-queue | --remove-queue   (as root)",
                              platform::EMessageIcon::Warning);
        return 2;
    }
    installer::CInstaller installer(installer::SInstallSettings::FromEnvironment(args));
    installer.Run();
    const bool bOk = installer.Succeeded();
    if (settings.m_eAction == installer::EAction::AddQueue ||
        settings.m_eAction == installer::EAction::RemoveQueue)
    {
        std::fputs(("Installer: " + installer.CompletionText()).c_str(), bOk ? stdout : stderr);
        return bOk ? 0 : 1;
    }
    platform::ShowMessage(installer.CompletionCaption(), installer.CompletionText(),
                          bOk ? platform::EMessageIcon::None : platform::EMessageIcon::Warning);
    // Scripts that install learn the outcome too, not only the person reading the message.
    return bOk ? 0 : 1;
}
