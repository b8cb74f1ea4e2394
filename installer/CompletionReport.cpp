#include "installer/CompletionReport.h"

#include "installer/CupsSetup.h"
#include "installer/Quoting.h"
#include "installer/WatcherProcess.h"

#include <system_error>

namespace installer
{

namespace
{

constexpr const char* WEB_LINE = "Web\xEF\xBC\x9A"
                                 "http://www.vellum-zeru.example/"; // full-width colon
constexpr const char* DEVELOPER_LINE = "Developer: Quill Technology";

// A line for each failed step: "- step: why".
std::string FailedStepLines(const std::vector<SStepResult>& aSteps)
{
    std::string strLines;
    for (const auto& step : aSteps)
    {
        if (!step.m_bOk)
            strLines +=
                "- " + step.m_strStep + (step.m_strDetail.empty() ? "" : ": " + step.m_strDetail) + "\n";
    }
    return strLines;
}

// The lines that close every message.
std::string ClosingLines()
{
    return std::string(WEB_LINE) + "\n" + DEVELOPER_LINE;
}

} // namespace

std::string InstallText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps,
                        bool bWatcherRunning)
{
    const bool bSucceeded = AllSucceeded(aSteps);
    std::string strText;
    if (bSucceeded && settings.m_eFor == EInstallFor::MachineOnly)
    {
        strText = "Vellum Zeru 3.0 has been installed on this computer.\n"
                  "Each user who sends faxes sets it up for themselves once, by running the Installer "
                  "as themselves (or with sudo):\n"
                  "cd " +
                  ShellQuote(settings.m_sourceDirectory.string()) + " && ./Installer\n";
    }
    else if (bSucceeded && settings.m_eFor == EInstallFor::Folder)
        strText = "Vellum Zeru 3.0 has been installed into " + settings.m_vellumRoot.string() + ".\n";
    else if (bSucceeded)
    {
        strText = "Vellum Zeru 3.0 has been installed successfully!\n"
                  "You may send free fax by printing on it now!\n";
    }
    else
    {
        strText =
            "Vellum Zeru 3.0 was not installed completely. These steps failed:\n" + FailedStepLines(aSteps);
        if (CCupsSetup::RegistrationFailed(aSteps) && settings.m_ePrivilege == EPrivilege::User)
        {
            strText += "Registering a printer needs a CUPS administrator. To register the printer, run:\n";
            for (const auto& strCommand : CCupsSetup(settings).AdministratorCommands())
                strText += strCommand + "\n";
        }
    }
    if (settings.m_eFor == EInstallFor::Folder)
        strText += "The printer takes no print jobs of root: each user who sends faxes sets it up for "
                   "themselves by running the Installer as themselves.\n";
    else if (settings.m_eFor != EInstallFor::MachineOnly && !bWatcherRunning)
        strText +=
            "Sendwell opens after printing from your next login on. To have it open before that, run:\n" +
            WatcherCommand(settings) + "\n";
    return strText + ClosingLines();
}

std::string UninstallText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps,
                          const std::vector<std::string>& aOtherUsers)
{
    std::string strKept;
    if (!aOtherUsers.empty())
    {
        std::string strNames;
        for (const auto& strName : aOtherUsers)
            strNames += (strNames.empty() ? "" : ", ") + strName;
        strKept = "The printer stays on this computer for " + strNames + ", who still use it.\n";
    }
    std::string strText;
    if (aSteps.empty())
        strText = "Vellum Zeru 3.0 is not installed here: there is nothing to remove.\n" + strKept;
    else
    {
        strText = AllSucceeded(aSteps) ? "Vellum Zeru 3.0 has been removed.\n"
                                       : "Vellum Zeru 3.0 was not removed completely. These steps failed:\n";
        strText += FailedStepLines(aSteps);
        strText += "Done:\n";
        for (const auto& step : aSteps)
        {
            if (step.m_bOk)
                strText += "- " + step.m_strStep + "\n";
        }
        strText += strKept;
        std::error_code error;
        if (settings.m_eFor != EInstallFor::MachineOnly && !settings.m_bPurge &&
            std::filesystem::exists(settings.m_systemDirectory, error))
            strText += "Your settings, address book and sent faxes stay in " +
                       settings.m_systemDirectory.string() +
                       " (Installer --uninstall --purge removes them too).\n";
    }
    if (settings.m_ePrivilege == EPrivilege::User && aOtherUsers.empty())
        strText += "The printer itself stays on this computer for its other users; an administrator removes "
                   "it with: sudo ./Installer --uninstall\n";
    return strText + ClosingLines();
}

} // namespace installer
