#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// Installs Vellum Zeru 3.0 from a distribution folder (the current directory): copies the
// programs, the fax printer driver and the help document into the system directory,
// registers the driver and the fax printer with CUPS, arranges for Sendwell to open after
// printing, and says how it went.
//
// Every step runs even when an earlier one failed; the completion message then names each
// step that failed instead of announcing success, and a user who may not administer CUPS
// is told the exact commands that register the printer.
namespace installer
{

inline constexpr const char* QUEUE_NAME = "Vellum_Zeru_3.0"; // CUPS queue names allow no blanks
inline constexpr const char* PRINTER_DESCRIPTION = "Vellum Zeru 3.0";
inline constexpr const char* COMPLETION_CAPTION = "Welcome to use Vellum Zeru 3.0";

// The distribution's files, by the names they have in the source and the system directory.
inline constexpr const char* BACKEND_FILE = "vellumfax"; // also the device URI's scheme
inline constexpr const char* PPD_FILE = "VellumZeru.ppd";
inline constexpr const char* PAGEMILL_FILE = "Pagemill";
inline constexpr const char* MESSAGE_MODULE_FILE = "libvellum_msgbox.so";
inline constexpr const char* SENDWELL_FILE = "Sendwell";
inline constexpr const char* WATCHER_FILE = "Pagewatch";
inline constexpr const char* HELP_FILE = "Sample.html";
inline constexpr const char* AUTOSTART_FILE = "vellum-pagewatch.desktop";
// Where under CUPS's data folder the PPD is listed among the drivers.
inline constexpr const char* MODEL_FOLDER = "model/vellum";

enum class EPrivilege
{
    Administrator, // root: may place files for CUPS and change its queues
    User,
};

struct SInstallSettings
{
    std::filesystem::path m_sourceDirectory;
    std::filesystem::path m_vellumRoot;
    std::filesystem::path m_systemDirectory;
    std::filesystem::path m_driveRoot;
    // CUPS's program folder (backends) and data folder (drivers); CUPS_SERVERBIN and
    // CUPS_DATADIR point them at a private scheduler, as they do for CUPS's own tools.
    std::filesystem::path m_cupsServerBin;
    std::filesystem::path m_cupsDataDir;
    // CUPS_SERVER when set: lpadmin talks to it, and the commands shown to the user name it.
    std::string m_strCupsServer;
    std::filesystem::path m_autostartDirectory;
    std::string m_strLpadmin = "lpadmin";
    std::string m_strGhostscript = "gs";
    uid_t m_nUid = 0;
    EPrivilege m_ePrivilege = EPrivilege::User;
    std::chrono::milliseconds m_durSpoolerTimeout = std::chrono::seconds(60);

    // The settings of this process: current directory, VELLUM_ROOT, CUPS_*, XDG_CONFIG_HOME.
    static SInstallSettings FromEnvironment();
};

struct SStepResult
{
    std::string m_strStep; // "copying Sendwell"
    bool m_bOk = false;
    std::string m_strDetail; // why it failed
};

class CInstaller
{
public:
    explicit CInstaller(SInstallSettings settings);

    // Runs every step in order.
    void Run();

    const std::vector<SStepResult>& Steps() const { return m_steps; }
    bool Succeeded() const;
    // The text of the completion message (lines separated by '\n').
    std::string CompletionText() const;

    // The queue's device URI: the page files' root and the user they belong to.
    std::string DeviceUri() const;
    // The lpadmin argument vectors that create the queue and make it the default.
    std::vector<std::vector<std::string>> QueueCommands() const;
    // Shell commands a CUPS administrator runs to do what the registration steps do.
    std::vector<std::string> AdministratorCommands() const;
    // The text of the autostart entry that starts the page watcher with the desktop session.
    std::string AutostartEntry() const;

private:
    void Record(std::string strStep, bool bOk, std::string strDetail = {});
    void MakeFolders();
    void CopyFromSource(const char* pszName);
    void FindGhostscript();
    void RegisterDriver();
    void RegisterQueue();
    void InstallAutostart();
    bool RegistrationFailed() const;

    SInstallSettings m_settings;
    std::vector<SStepResult> m_steps;
};

} // namespace installer
