#pragma once

#include "pages/UserAccount.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What the Installer does and for whom, read from its command line and its environment.
namespace installer
{

enum class EPrivilege
{
    Administrator, // root: may place files for CUPS and change its queues
    User,
};

// Whom the Installer sets up.
enum class EInstallFor
{
    Self,         // the user who runs it
    InvokingUser, // root started by sudo or pkexec: the user who started it
    MachineOnly,  // root on its own: nobody; each user sets themselves up
    Folder,       // root on its own with VELLUM_ROOT: the programs into that root, nobody's pages
};

enum class EAction
{
    Install,
    Uninstall,
    // Root only, for the package's maintainer scripts: the shared queue alone, with the PPD next to
    // the Installer and the backend already in CUPS's backend folder; nobody's files.
    AddQueue,
    RemoveQueue,
};

struct SInstallSettings
{
    EAction m_eAction = EAction::Install;
    // With Uninstall: the settings and the address book go too.
    bool m_bPurge = false;

    std::filesystem::path m_sourceDirectory;
    EInstallFor m_eFor = EInstallFor::Self;
    EPrivilege m_ePrivilege = EPrivilege::User;
    // The user set up; none with MachineOnly.
    std::optional<driver::SUserAccount> m_account;
    std::filesystem::path m_vellumRoot;
    std::filesystem::path m_systemDirectory;
    std::filesystem::path m_driveRoot;
    std::filesystem::path m_autostartDirectory;
    std::filesystem::path m_applicationsDirectory;
    // CUPS's program folder (backends) and data folder (drivers); CUPS_SERVERBIN and
    // CUPS_DATADIR point them at a private scheduler, as they do for CUPS's own tools.
    std::filesystem::path m_cupsServerBin;
    std::filesystem::path m_cupsDataDir;
    // CUPS's cache folder (CUPS_CACHEDIR), where the scheduler keeps what it learned of a queue.
    std::filesystem::path m_cupsCacheDir;
    // dpkg's list of the files of the package vellum-zeru: where it names the backend, the package
    // has placed the machine's part, which the Installer then leaves to it.
    std::filesystem::path m_packageFileList;
    // CUPS_SERVER when set: lpadmin talks to it, and the commands shown to the user name it.
    std::string m_strCupsServer;
    std::string m_strLpadmin = "lpadmin";
    std::string m_strLpstat = "lpstat";
    std::string m_strLpoptions = "lpoptions";
    std::string m_strSetsid = "setsid";
    std::string m_strGhostscript = "gs";
    // True when the Installer runs in the user's desktop session: the watcher is started there.
    bool m_bInSession = false;
    std::chrono::milliseconds m_durSpoolerTimeout = std::chrono::seconds(60);
    // How long a watcher just started, or asked to stop, has to show it.
    std::chrono::milliseconds m_durWatcherTimeout = std::chrono::seconds(10);

    // The settings of this process: its user and SUDO_UID or PKEXEC_UID, the current directory,
    // VELLUM_ROOT, CUPS_*, XDG_CONFIG_HOME, XDG_DATA_HOME, DISPLAY and WAYLAND_DISPLAY, and args
    // (the command line after the program's name: --uninstall, --purge, --add-queue, --remove-queue).
    // With --add-queue or --remove-queue the source directory is the Installer's own folder.
    static SInstallSettings FromEnvironment(const std::vector<std::string>& args = {});
    // The command-line options this Installer understands, for its usage message.
    static bool ParseArguments(const std::vector<std::string>& args, SInstallSettings& settings,
                               std::string& strError);
};

} // namespace installer
