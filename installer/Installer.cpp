#include "installer/Installer.h"

#include "installer/CompletionReport.h"
#include "installer/CupsSetup.h"
#include "installer/DesktopEntries.h"
#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "installer/WatcherProcess.h"
#include "installer/driver/UserRegistration.h"
#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace installer
{

namespace
{

// A step's text across the pipe from a child process: each field as its length, a colon and its bytes.
void AppendField(std::string& strOut, const std::string& strField)
{
    strOut += std::to_string(strField.size()) + ":" + strField;
}

bool TakeField(std::string_view& text, std::string& strField)
{
    const auto nColon = text.find(':');
    std::size_t nLength = 0;
    if (nColon == std::string_view::npos ||
        std::from_chars(text.data(), text.data() + nColon, nLength).ptr != text.data() + nColon ||
        text.size() - nColon - 1 < nLength)
        return false;
    strField = std::string(text.substr(nColon + 1, nLength));
    text.remove_prefix(nColon + 1 + nLength);
    return true;
}

} // namespace

CInstaller::CInstaller(SInstallSettings settings) : m_settings(std::move(settings)) {}

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
    // and no link they put there leads root anywhere.
    const std::string strStep = "acting as the user " + m_settings.m_account->m_strName;
    int aFds[2] = {-1, -1};
    if (::pipe2(aFds, O_CLOEXEC) != 0)
    {
        Record(strStep, false, platform::ErrnoText("pipe"));
        return;
    }
    const std::size_t nBefore = m_steps.size();
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        Record(strStep, false, platform::ErrnoText("fork"));
        ::close(aFds[0]);
        ::close(aFds[1]);
        return;
    }
    if (pid == 0)
    {
        ::close(aFds[0]);
        std::string strError;
        const auto& account = *m_settings.m_account;
        if (account.Become(strError))
        {
            ::setenv("HOME", account.m_home.c_str(), 1);
            ::setenv("USER", account.m_strName.c_str(), 1);
            ::setenv("LOGNAME", account.m_strName.c_str(), 1);
            ::umask(022);
            (this->*pPart)();
        }
        else
            Record(strStep, false, strError);
        std::string strOut;
        for (std::size_t i = nBefore; i < m_steps.size(); ++i)
        {
            AppendField(strOut, m_steps[i].m_strStep);
            AppendField(strOut, m_steps[i].m_bOk ? "1" : "0");
            AppendField(strOut, m_steps[i].m_strDetail);
        }
        std::size_t nDone = 0;
        while (nDone < strOut.size())
        {
            const ssize_t n = ::write(aFds[1], strOut.data() + nDone, strOut.size() - nDone);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            nDone += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(aFds[1]);
    std::string strIn;
    char buffer[4096];
    for (;;)
    {
        const ssize_t n = ::read(aFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        strIn.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(aFds[0]);
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR)
    {
    }
    std::string_view text = strIn;
    SStepResult step;
    std::string strOk;
    while (!text.empty() && TakeField(text, step.m_strStep) && TakeField(text, strOk) &&
           TakeField(text, step.m_strDetail))
    {
        step.m_bOk = strOk == "1";
        m_steps.push_back(step);
    }
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0 || !text.empty())
        Record(strStep, false, "the part done as that user ended early");
}

void CInstaller::Run()
{
    m_steps.clear();
    m_aOtherUsers.clear();
    m_bWatcherRunning = false;
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

bool CInstaller::Succeeded() const
{
    return AllSucceeded(m_steps);
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

std::string CInstaller::CompletionCaption() const
{
    return m_settings.m_eAction == EAction::Uninstall ? UNINSTALL_CAPTION : COMPLETION_CAPTION;
}

std::string CInstaller::CompletionText() const
{
    if (m_settings.m_eAction == EAction::Uninstall)
        return UninstallText(m_settings, m_steps, m_aOtherUsers);
    return InstallText(m_settings, m_steps, m_bWatcherRunning);
}

} // namespace installer
