#include "installer/InstallSettings.h"

#include "pages/UserRegistration.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <charconv>
#include <system_error>
#include <unistd.h>

namespace installer
{

namespace
{

constexpr const char* DEFAULT_SERVER_BIN = "/usr/lib/cups";
constexpr const char* PACKAGE_FILE_LIST = "/var/lib/dpkg/info/vellum-zeru.list";
constexpr const char* DEFAULT_DATA_DIR = "/usr/share/cups";
constexpr const char* DEFAULT_CACHE_DIR = "/var/cache/cups";

std::optional<uid_t> UidFromEnvironment(const char* pszName)
{
    const std::string strValue = platform::EnvOr(pszName);
    unsigned long nUid = 0;
    const auto [pEnd, ec] = std::from_chars(strValue.data(), strValue.data() + strValue.size(), nUid);
    if (strValue.empty() || ec != std::errc() || pEnd != strValue.data() + strValue.size())
        return std::nullopt;
    return static_cast<uid_t>(nUid);
}

} // namespace

bool SInstallSettings::ParseArguments(const std::vector<std::string>& args, SInstallSettings& settings,
                                      std::string& strError)
{
    for (const auto& strArg : args)
    {
        if ((strArg == "--add-queue" || strArg == "--remove-queue") && args.size() != 1)
        {
            strError = platform::PrintableUtf8(strArg) + " goes alone";
            return false;
        }
        if (strArg == "--add-queue")
            settings.m_eAction = EAction::AddQueue;
        else if (strArg == "--remove-queue")
            settings.m_eAction = EAction::RemoveQueue;
        else if (strArg == "--uninstall")
            settings.m_eAction = EAction::Uninstall;
        else if (strArg == "--purge")
            settings.m_bPurge = true;
        else
        {
            strError = "unknown option " + platform::PrintableUtf8(strArg);
            return false;
        }
    }
    if (settings.m_bPurge && settings.m_eAction != EAction::Uninstall)
    {
        strError = "--purge goes with --uninstall";
        return false;
    }
    return true;
}

SInstallSettings SInstallSettings::FromEnvironment(const std::vector<std::string>& args)
{
    SInstallSettings settings;
    std::string strIgnored;
    (void)ParseArguments(args, settings, strIgnored);
    std::error_code error;
    settings.m_sourceDirectory = std::filesystem::current_path(error);
    settings.m_cupsServerBin = platform::EnvOr("CUPS_SERVERBIN", DEFAULT_SERVER_BIN);
    settings.m_cupsDataDir = platform::EnvOr("CUPS_DATADIR", DEFAULT_DATA_DIR);
    settings.m_cupsCacheDir = platform::EnvOr("CUPS_CACHEDIR", DEFAULT_CACHE_DIR);
    settings.m_packageFileList = PACKAGE_FILE_LIST;
    settings.m_strCupsServer = platform::EnvOr("CUPS_SERVER", "");
    // Debian gives ordinary users no /usr/sbin on PATH, where lpadmin lives.
    settings.m_strLpadmin = platform::FindSystemProgram("lpadmin");
    settings.m_strLpstat = platform::FindSystemProgram("lpstat");
    settings.m_strLpoptions = platform::FindSystemProgram("lpoptions");
    settings.m_strSetsid = platform::FindSystemProgram("setsid");
    settings.m_ePrivilege = ::geteuid() == 0 ? EPrivilege::Administrator : EPrivilege::User;
    if (settings.m_eAction == EAction::AddQueue || settings.m_eAction == EAction::RemoveQueue)
    {
        // The machine's queue only, whoever started the Installer, with the files installed beside it.
        settings.m_eFor = EInstallFor::MachineOnly;
        settings.m_sourceDirectory = platform::ProgramDirectory();
        return settings;
    }

    if (::geteuid() == 0)
    {
        // sudo and pkexec say who started them; the environment they pass is root's (HOME is
        // /root), so that user's folders come from the user database.
        std::optional<uid_t> invoker = UidFromEnvironment("PKEXEC_UID");
        if (!invoker)
            invoker = UidFromEnvironment("SUDO_UID");
        if (invoker && *invoker != 0)
            settings.m_account = driver::SUserAccount::ById(*invoker);
        const std::string strChosenRoot = platform::EnvOr("VELLUM_ROOT");
        if (!settings.m_account && strChosenRoot.empty())
        {
            settings.m_eFor = EInstallFor::MachineOnly;
            return settings;
        }
        if (!settings.m_account)
        {
            settings.m_eFor = EInstallFor::Folder;
            settings.m_vellumRoot = std::filesystem::absolute(strChosenRoot, error);
            settings.m_systemDirectory = platform::SystemDirectory(settings.m_vellumRoot);
            settings.m_driveRoot = platform::DriveRoot(settings.m_vellumRoot);
            return settings;
        }
        settings.m_eFor = EInstallFor::InvokingUser;
        const driver::CUserRegistration registration(*settings.m_account);
        // A root the user names (sudo passes VELLUM_ROOT only when asked to), else the one they
        // registered before, else the default.
        std::filesystem::path root = registration.DefaultRoot();
        std::string strError;
        if (!strChosenRoot.empty())
            root = std::filesystem::absolute(strChosenRoot, error);
        else if (registration.ReadRoot(root, strError) != driver::ELookup::Found)
            root = registration.DefaultRoot();
        const auto home = settings.m_account->m_home;
        settings.m_vellumRoot = root;
        settings.m_systemDirectory = platform::SystemDirectory(root);
        settings.m_driveRoot = platform::DriveRoot(root);
        settings.m_autostartDirectory = home / ".config" / "autostart";
        settings.m_applicationsDirectory = home / ".local" / "share" / "applications";
        return settings;
    }

    settings.m_eFor = EInstallFor::Self;
    settings.m_account = driver::SUserAccount::ById(::getuid());
    // The user's own environment names their home; it is the database's but where a user
    // (a script, a test) points the Installer at a home of its own on purpose.
    if (settings.m_account && !platform::EnvOr("HOME").empty())
        settings.m_account->m_home = platform::EnvOr("HOME");
    settings.m_vellumRoot = std::filesystem::absolute(platform::VellumRoot(), error);
    settings.m_systemDirectory = std::filesystem::absolute(platform::SystemDirectory(), error);
    settings.m_driveRoot = std::filesystem::absolute(platform::DriveRoot(), error);
    const std::string strHome = platform::EnvOr("HOME", "");
    const std::string strConfig =
        platform::EnvOr("XDG_CONFIG_HOME", strHome.empty() ? std::string() : strHome + "/.config");
    if (!strConfig.empty())
        settings.m_autostartDirectory = std::filesystem::path(strConfig) / "autostart";
    const std::string strData =
        platform::EnvOr("XDG_DATA_HOME", strHome.empty() ? std::string() : strHome + "/.local/share");
    if (!strData.empty())
        settings.m_applicationsDirectory = std::filesystem::path(strData) / "applications";
    settings.m_bInSession =
        !platform::EnvOr("DISPLAY").empty() || !platform::EnvOr("WAYLAND_DISPLAY").empty();
    return settings;
}

} // namespace installer
