#include "installer/Installer.h"

#include "installer/CompletionReport.h"
#include "installer/CupsSetup.h"
#include "installer/DesktopEntries.h"
#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "installer/UserProcess.h"
#include "installer/WatcherProcess.h"
#include "pages/UserRegistration.h"

#include <utility>
#include <vector>

namespace installer
{

CInstaller::CInstaller(SInstallSettings settings) : m_settings(std::move(settings)) {}

void CInstaller::Run()
{
    m_steps.clear();
    m_aOtherUsers.clear();
    m_bPackageKeepsPrinter = false;
    m_bWatcherRunning = false;
    if (m_settings.m_eAction == EAction::AddQueue)
        return AddSharedQueue();
    if (m_settings.m_eAction == EAction::RemoveQueue)
        return RemoveSharedQueue();
    if (m_settings.m_eAction == EAction::Uninstall)
    {
        if (m_settings.m_eFor != EInstallFor::MachineOnly)
            AsUser(&CInstaller::UninstallUserFiles);
        if (m_settings.m_ePrivilege == EPrivilege::Administrator)
            UninstallMachinePart();
        return;
    }
    const CCupsSetup cups(m_settings);
    if (m_settings.m_eFor == EInstallFor::MachineOnly)
    {
        Record(FindGhostscript(m_settings));
        Record(cups.RegisterDriver());
        Record(cups.RegisterQueue());
        return;
    }
    AsUser(&CInstaller::InstallUserFiles);
    Record(cups.RegisterDriver());
    Record(cups.RegisterQueue());
    AsUser(&CInstaller::InstallUserPrinter);
}

bool CInstaller::RunsAsRoot(const std::string& strStep)
{
    if (m_settings.m_ePrivilege == EPrivilege::Administrator)
        return true;
    Record(strStep, false,
           "the printer is shared by every user of this computer; only root may change it (run the Installer "
           "with sudo)");
    return false;
}

void CInstaller::AddSharedQueue()
{
    const CCupsSetup cups(m_settings);
    const std::string strStep = std::string("registering the printer ") + PRINTER_DESCRIPTION;
    if (!RunsAsRoot(strStep))
        return;
    // The package put the backend in place; without it every job to the queue would fail.
    std::error_code error;
    const auto backend = cups.BackendPath();
    const bool bBackend = std::filesystem::is_regular_file(backend, error);
    Record("finding the printer's backend " + backend.string(), bBackend,
           bBackend ? std::string() : "it is missing; reinstall the package vellum-zeru");
    if (!bBackend)
        return;
    if (!cups.SchedulerRuns())
    {
        Record(strStep, false,
               "CUPS is not running. Start it (sudo systemctl start cups) and then run: sudo " +
                   ShellQuote((m_settings.m_sourceDirectory / "Installer").string()) + " --add-queue");
        return;
    }
    Record(cups.RegisterQueue());
}

void CInstaller::RemoveSharedQueue()
{
    const CCupsSetup cups(m_settings);
    if (!RunsAsRoot(std::string("removing the printer ") + PRINTER_DESCRIPTION + " from CUPS"))
        return;
    if (!cups.SchedulerRuns())
    {
        // The Installer goes with the package: the command given is CUPS's own.
        Record(
            std::string("removing the printer ") + PRINTER_DESCRIPTION + " from CUPS", false,
            std::string("CUPS is not running, so a queue registered before stays in its configuration. Once "
                        "CUPS runs, remove it with: sudo lpadmin -x ") +
                QUEUE_NAME);
        return;
    }
    if (cups.QueueExists())
        Record(cups.RemoveQueue());
    // Also what an earlier queue of this name left behind.
    for (const auto& file : cups.CachedQueueFiles())
        Remove("the scheduler's cache " + file.string(), file);
}

void CInstaller::InstallUserFiles()
{
    for (auto& step : MakeFolders(m_settings))
        Record(std::move(step));
    const bool bForUser = m_settings.m_eFor != EInstallFor::Folder;
    // The order of the original distribution: driver, converter, sender, the shared renderer, help.
    Record(CopyFromSource(m_settings, BACKEND_FILE));
    Record(CopyFromSource(m_settings, PPD_FILE));
    Record(CopyFromSource(m_settings, PAGEMILL_FILE));
    Record(CopyFromSource(m_settings, MESSAGE_MODULE_FILE));
    Record(CopyFromSource(m_settings, SENDWELL_FILE));
    Record(CopyFromSource(m_settings, WATCHER_FILE));
    Record(FindGhostscript(m_settings));
    Record(CopyFromSource(m_settings, HELP_FILE));
    Record(CopyFromSource(m_settings, ICON_FILE));
    Record(CopyFromSource(m_settings, COVER_TEMPLATE_FILE));
    if (!bForUser)
        return; // root's print jobs are refused: no registration, and nothing to open after printing
    RegisterUser();
    Record(InstallAutostart(m_settings));
    Record(InstallMenuEntry(m_settings));
}

void CInstaller::InstallUserPrinter()
{
    if (m_settings.m_eFor == EInstallFor::Folder)
        return;
    // Without a queue there is none to choose; the commands shown say how, once there is.
    if (!CCupsSetup::RegistrationFailed(m_steps))
        Record(CCupsSetup(m_settings).MakeDefaultPrinter());
    if (m_settings.m_bInSession)
    {
        // A watcher that runs is no step of the message, which only tells how to start one that does not.
        auto step = StartWatcher(m_settings);
        m_bWatcherRunning = step.m_bOk;
        if (!step.m_bOk)
            Record(std::move(step));
    }
}

void CInstaller::RegisterUser()
{
    const auto& account = *m_settings.m_account;
    std::string strError;
    const bool bOk = driver::CUserRegistration(account).Write(m_settings.m_vellumRoot, strError);
    Record("registering " + m_settings.m_vellumRoot.string() + " as the folder of " + account.m_strName +
               "'s printed pages",
           bOk, strError);
}

bool CInstaller::Succeeded() const
{
    return AllSucceeded(m_steps);
}

std::string CInstaller::CompletionCaption() const
{
    return m_settings.m_eAction == EAction::Uninstall || m_settings.m_eAction == EAction::RemoveQueue
               ? UNINSTALL_CAPTION
               : COMPLETION_CAPTION;
}

std::string CInstaller::CompletionText() const
{
    if (m_settings.m_eAction == EAction::Uninstall)
        return UninstallText(m_settings, m_steps, m_aOtherUsers, m_bPackageKeepsPrinter);
    if (m_settings.m_eAction == EAction::AddQueue || m_settings.m_eAction == EAction::RemoveQueue)
        return QueueText(m_settings, m_steps);
    return InstallText(m_settings, m_steps, m_bWatcherRunning);
}

void CInstaller::Record(std::string strStep, bool bOk, std::string strDetail)
{
    m_steps.push_back({std::move(strStep), bOk, std::move(strDetail)});
}

void CInstaller::Record(SStepResult step)
{
    m_steps.push_back(std::move(step));
}

void CInstaller::AsUser(void (CInstaller::*pPart)())
{
    if (m_settings.m_eFor != EInstallFor::InvokingUser)
    {
        (this->*pPart)();
        return;
    }
    // Everything in the user's home is done with the user's rights only: their files are theirs,
    // and no link they put there leads root anywhere. The part runs on the child's copy of this
    // Installer and sends back the steps it added.
    const std::size_t nBefore = m_steps.size();
    auto aSteps = RunAsUser(*m_settings.m_account,
                            [&]
                            {
                                (this->*pPart)();
                                return std::vector<SStepResult>(m_steps.begin() + nBefore, m_steps.end());
                            });
    m_steps.insert(m_steps.end(), aSteps.begin(), aSteps.end());
}

} // namespace installer
