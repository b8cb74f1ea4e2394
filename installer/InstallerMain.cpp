// Installer: run once from the folder that holds the distribution's files.

#include "installer/Installer.h"
#include "platform/Message.h"

int main()
{
    installer::CInstaller installer(installer::SInstallSettings::FromEnvironment());
    installer.Run();
    const bool bOk = installer.Succeeded();
    platform::ShowMessage(installer::COMPLETION_CAPTION, installer.CompletionText(),
                          bOk ? platform::EMessageIcon::None : platform::EMessageIcon::Warning);
    // Scripts that install learn the outcome too, not only the person reading the message.
    return bOk ? 0 : 1;
}
