// Uninstalling: what the Installer put in place for this user, and the machine-wide part when
// an administrator runs it and nobody else uses the printer.
#include "installer/CupsSetup.h"
#include "installer/DesktopEntries.h"
#include "installer/Installer.h"
#include "installer/ProgramFiles.h"
#include "installer/RunningPrograms.h"
#include "installer/WatcherProcess.h"
#include "pages/UserRegistration.h"
#include "platform/BinaryFile.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <cstring>
#include <pwd.h>

namespace installer
{

namespace
{

// Removes the empty folders from folder (or its nearest ancestor that is left) up to, not
// including, stop: what installing made and uninstalling emptied. Nothing above stop is touched.
void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& stop)
{
    std::error_code error;
    auto isInside = [&](const std::filesystem::path& path)
    {
        const auto relative = path.lexically_relative(stop);
        return !stop.empty() && !relative.empty() && *relative.begin() != "..";
    };
    while (isInside(folder) && !std::filesystem::exists(std::filesystem::symlink_status(folder, error)))
        folder = folder.parent_path();
    while (isInside(folder) && folder != stop &&
           std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)) &&
           std::filesystem::is_empty(folder, error) && !error)
    {
        if (!std::filesystem::remove(folder, error))
            break;
        folder = folder.parent_path();
    }
}

} // namespace

void CInstaller::Remove(const std::string& strWhat, const std::filesystem::path& path)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status))
        return; // not there: nothing to report
    if (std::filesystem::is_directory(status))
        std::filesystem::remove_all(path, error);
    else
        std::filesystem::remove(path, error);
    Record("removing " + strWhat, !error, error ? path.string() + ": " + error.message() : std::string());
}

void CInstaller::ForgetDefaultPrinter()
{
    // lpoptions keeps a user's default printer and options in ~/.cups/lpoptions, a line a
    // printer ("Default NAME[/INSTANCE] options" or "Dest ..."). Its -x option leaves a default
    // line in place, so the lines of our printer are taken out here.
    if (!m_settings.m_account)
        return;
    const auto lpoptions = m_settings.m_account->m_home / ".cups" / "lpoptions";
    const auto text = platform::ReadWholeFile(lpoptions, 1 << 20);
    if (!text)
        return;
    std::string strKept;
    bool bFound = false;
    std::size_t nStart = 0;
    while (nStart < text->size())
    {
        std::size_t nEnd = text->find('\n', nStart);
        nEnd = nEnd == std::string::npos ? text->size() : nEnd + 1;
        const std::string_view line = std::string_view(*text).substr(nStart, nEnd - nStart);
        nStart = nEnd;
        const auto nBlank = line.find(' ');
        const std::string_view name =
            nBlank == std::string_view::npos ? std::string_view() : line.substr(nBlank + 1);
        const bool bOurs = (line.starts_with("Dest ") || line.starts_with("Default ")) &&
                           name.starts_with(QUEUE_NAME) &&
                           (name.size() == std::strlen(QUEUE_NAME) ||
                            std::strchr(" /\t\r\n", name[std::strlen(QUEUE_NAME)]) != nullptr);
        if (bOurs)
            bFound = true;
        else
            strKept += line;
    }
    if (!bFound)
        return;
    const std::string strStep = std::string("removing ") + PRINTER_DESCRIPTION +
                                " as the default printer of " + m_settings.m_account->m_strName;
    std::error_code error;
    bool bOk = true;
    if (platform::Trim(strKept).empty())
    {
        bOk = std::filesystem::remove(lpoptions, error);
        RemoveEmptyFolders(lpoptions.parent_path(), m_settings.m_account->m_home);
    }
    else
        bOk = platform::WriteWholeFile(lpoptions, strKept);
    Record(strStep, bOk, bOk ? std::string() : "cannot change " + lpoptions.string());
}

void CInstaller::UninstallUserFiles()
{
    if (auto step = StopWatcher(m_settings))
        Record(std::move(*step));
    const auto& system = m_settings.m_systemDirectory;
    // A Sendwell left open would fail at its next send without Pagemill, and after --purge it
    // would write a new address book into the folder just removed. Ending it loses at most a
    // fax not yet sent, which the user is removing the means to send (a mail the server has
    // not acknowledged whole is not delivered). Only the user's own processes are looked at,
    // and only those that run these very program files.
    if (m_settings.m_account)
    {
        for (const auto& program : FindRunningPrograms(system, {SENDWELL_FILE, WATCHER_FILE, PAGEMILL_FILE},
                                                       m_settings.m_account->m_nUid))
            Record(EndRunningProgram(program, system, m_settings.m_account->m_nUid,
                                     m_settings.m_durWatcherTimeout));
    }
    for (const char* pszName : INSTALLED_FILES)
        Remove(pszName + (" in " + system.string()), system / pszName);
    if (m_settings.m_bPurge)
    {
        const auto windows = platform::WindowsDirectory(m_settings.m_vellumRoot);
        Remove("the settings, the address book, the sent faxes and everything else in " + windows.string(),
               windows);
    }
    Remove("the page files in " + m_settings.m_driveRoot.string(), m_settings.m_driveRoot);
    const auto home = m_settings.m_account ? m_settings.m_account->m_home : std::filesystem::path();
    RemoveEmptyFolders(system, m_settings.m_vellumRoot.parent_path());
    if (!m_settings.m_autostartDirectory.empty())
    {
        Remove("the autostart entry of Pagewatch", m_settings.m_autostartDirectory / AUTOSTART_FILE);
        RemoveEmptyFolders(m_settings.m_autostartDirectory, home);
    }
    if (!m_settings.m_applicationsDirectory.empty())
    {
        Remove("the menu entry of Sendwell", m_settings.m_applicationsDirectory / MENU_FILE);
        RemoveEmptyFolders(m_settings.m_applicationsDirectory, home);
    }
    ForgetDefaultPrinter();
    if (m_settings.m_account)
    {
        const driver::CUserRegistration registration(*m_settings.m_account);
        Remove("the registration of " + m_settings.m_account->m_strName + " with the printer",
               registration.File());
        RemoveEmptyFolders(registration.File().parent_path(), home);
    }
}

std::vector<std::string> CInstaller::OtherRegisteredUsers() const
{
    // Whoever still has a registration still prints to the queue.
    std::vector<std::string> aUsers;
    ::setpwent();
    while (const passwd* pEntry = ::getpwent())
    {
        if (pEntry->pw_dir == nullptr ||
            (m_settings.m_account && pEntry->pw_uid == m_settings.m_account->m_nUid))
            continue;
        driver::SUserAccount account;
        account.m_strName = pEntry->pw_name;
        account.m_nUid = pEntry->pw_uid;
        account.m_home = pEntry->pw_dir;
        if (driver::CUserRegistration(account).Exists())
            aUsers.push_back(account.m_strName);
    }
    ::endpwent();
    return aUsers;
}

void CInstaller::UninstallMachinePart()
{
    m_aOtherUsers = OtherRegisteredUsers();
    const CCupsSetup cups(m_settings);
    // The package's queue and driver go when the package is removed, with dpkg's record of them.
    m_bPackageKeepsPrinter = cups.PackageProvidesDriver();
    if (!m_aOtherUsers.empty() || m_bPackageKeepsPrinter)
        return;
    if (cups.QueueExists())
    {
        Record(cups.RemoveQueue());
        // The scheduler keeps what it read from the queue's PPD in its cache after the queue is gone.
        for (const auto& file : cups.CachedQueueFiles())
            Remove("the scheduler's cache " + file.string(), file);
    }
    const auto modelDir = cups.ModelFolder();
    Remove("the printer's backend " + cups.BackendPath().string(), cups.BackendPath());
    Remove("the printer's driver " + cups.PpdPath().string(), cups.PpdPath());
    std::error_code error;
    if (std::filesystem::is_empty(modelDir, error) && !error)
        std::filesystem::remove(modelDir, error);
}

} // namespace installer
