#include "installer/CompletionReport.h"

#include "installer/CupsSetup.h"
#include "installer/Quoting.h"
#include "installer/WatcherProcess.h"
#include "pages/FaxPrinter.h"

#include <algorithm>
#include <system_error>

namespace installer
{

namespace
{

const std::string PRINTER = driver::PRINTER_NAME;

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
        strText = PRINTER +
                  " has been installed on this computer.\n"
                  "Each user who sends faxes sets it up for themselves once, by running the Installer "
                  "as themselves (or with sudo):\n"
                  "cd " +
                  ShellQuote(settings.m_sourceDirectory.string()) + " && ./Installer\n";
    }
    else if (bSucceeded && settings.m_eFor == EInstallFor::Folder)
        strText = PRINTER + " has been installed into " + settings.m_vellumRoot.string() + ".\n";
    else if (bSucceeded)
    {
        strText = PRINTER + " has been installed successfully!\n"
                            "You may send free fax by printing on it now!\n";
    }
    else
    {
        strText = PRINTER + " was not installed completely. These steps failed:\n" + FailedStepLines(aSteps);
        if (CCupsSetup::RegistrationFailed(aSteps) && settings.m_ePrivilege == EPrivilege::User)
        {
            strText += "Registering a printer needs a CUPS administrator. To register the printer, run:\n";
            for (const auto& strCommand : CCupsSetup(settings).AdministratorCommands())
                strText += strCommand + "\n";
        }
    }
    if (settings.m_eFor == EInstallFor::Folder)
        strText += "The printer takes no print jobs of root: each user who sends faxes sets it up for "
                   "themselves once, by running the Installer as themselves:\ncd " +
                   ShellQuote(settings.m_sourceDirectory.string()) + " && ./Installer\n";
    else if (settings.m_eFor != EInstallFor::MachineOnly && !bWatcherRunning)
        strText +=
            "Sendwell opens after printing from your next login on. To have it open before that, run:\n" +
            WatcherCommand(settings) + "\n";
    return strText + ClosingLines();
}

std::string UninstallText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps,
                          const std::vector<std::string>& aOtherUsers, bool bPackageKeepsPrinter)
{
    std::string strKept;
    if (bPackageKeepsPrinter)
        strKept = "The printer " + PRINTER +
                  " stays on this computer: the package vellum-zeru provides it for every user (removing "
                  "the package removes it).";
    else if (!aOtherUsers.empty())
    {
        std::string strNames;
        for (const auto& strName : aOtherUsers)
            strNames += (strNames.empty() ? "" : ", ") + strName;
        strKept = "The printer " + PRINTER + " stays on this computer for " + strNames +
                  (aOtherUsers.size() == 1 ? ", who still uses it." : ", who still use it.");
    }
    // Whose files this run removed: an administrator's run for a user removes that user's only.
    const bool bUsersFiles =
        settings.m_eFor == EInstallFor::InvokingUser || settings.m_eFor == EInstallFor::Self;
    std::string strText;
    if (bPackageKeepsPrinter && settings.m_eFor == EInstallFor::MachineOnly)
        strText = strKept + "\n";
    else if (!strKept.empty() && settings.m_eFor == EInstallFor::MachineOnly)
        strText = strKept + " It is removed when this is run again after they have removed it for themselves "
                            "(Installer --uninstall).\n";
    else if (!strKept.empty() && bUsersFiles && aSteps.empty())
        strText = strKept + " You had no files of it to remove.\n";
    else if (aSteps.empty())
        strText = PRINTER + " is not installed here: there is nothing to remove.\n" +
                  (strKept.empty() ? std::string() : strKept + "\n");
    else
    {
        if (!strKept.empty() && bUsersFiles)
            strText = AllSucceeded(aSteps)
                          ? "Your files of " + PRINTER + " have been removed. " + strKept + "\n"
                          : "Your files of " + PRINTER + " were not removed completely. " + strKept +
                                " These steps failed:\n";
        else
            strText = AllSucceeded(aSteps) ? PRINTER + " has been removed.\n"
                                           : PRINTER + " was not removed completely. These steps failed:\n";
        strText += FailedStepLines(aSteps);
        strText += "Done:\n";
        for (const auto& step : aSteps)
        {
            if (step.m_bOk)
                strText += "- " + step.m_strStep + "\n";
        }
        if (!strKept.empty() && !bUsersFiles)
            strText += strKept + "\n";
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

std::string QueueText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps)
{
    const bool bAdd = settings.m_eAction == EAction::AddQueue;
    if (!AllSucceeded(aSteps))
        return "The printer " + PRINTER +
               (bAdd ? " was not registered with CUPS:\n" : " was not removed from CUPS:\n") +
               FailedStepLines(aSteps);
    if (bAdd)
        return "The printer " + PRINTER + " is registered with CUPS as " + QUEUE_NAME +
               " for every user of this computer.\n";
    // The removal is the only step that names the queue; without it there was no queue.
    const bool bRemoved = std::any_of(aSteps.begin(), aSteps.end(),
                                      [](const SStepResult& step)
                                      { return step.m_strStep.starts_with("removing the printer"); });
    return bRemoved ? "The printer " + PRINTER + " is removed from CUPS.\n"
                    : "The printer " + PRINTER + " was not registered with CUPS: nothing to remove.\n";
}

} // namespace installer
