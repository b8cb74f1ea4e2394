#include "installer/Installer.h"

#include "installer/driver/DeviceUri.h"
#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace installer
{

namespace
{

constexpr const char* DEFAULT_SERVER_BIN = "/usr/lib/cups";
constexpr const char* DEFAULT_DATA_DIR = "/usr/share/cups";
// Without group and other permissions CUPS runs a backend as root, which it needs to
// write the page files as the user the queue names.
constexpr std::filesystem::perms BACKEND_PERMS = std::filesystem::perms::owner_all;
constexpr std::filesystem::perms PPD_PERMS =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

constexpr const char* WEB_LINE = "Web\xEF\xBC\x9A"
                                 "http://www.vellum-zeru.example/"; // full-width colon
constexpr const char* DEVELOPER_LINE = "Developer: Quill Technology";
// The programs are a few MiB: they are copied in pieces of this size.
constexpr std::size_t COPY_CHUNK_BYTES = 64 * 1024;

std::string FirstLine(const std::string& strText)
{
    // lpadmin warns about deprecated drivers on every call; the reason for a failure is elsewhere.
    std::string strChosen;
    std::size_t nStart = 0;
    while (nStart < strText.size())
    {
        std::size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == ' '))
            strLine.pop_back();
        if (!strLine.empty() && strLine.find("deprecated") == std::string::npos)
            return strLine;
        if (strChosen.empty())
            strChosen = strLine;
        nStart = nEnd + 1;
    }
    return strChosen;
}

// Quotes one word for a POSIX shell, leaving plain words as they are.
std::string ShellQuote(const std::string& strWord)
{
    const bool bPlain = !strWord.empty() &&
                        std::all_of(strWord.begin(), strWord.end(),
                                    [](unsigned char ch)
                                    { return std::isalnum(ch) || std::strchr("_./:=@%+-,", ch) != nullptr; });
    if (bPlain)
        return strWord;
    std::string strQuoted = "'";
    for (char ch : strWord)
    {
        if (ch == '\'')
            strQuoted += "'\\''";
        else
            strQuoted += ch;
    }
    return strQuoted + "'";
}

// One argument of a desktop entry's Exec key: quoted by the freedesktop.org desktop entry rules,
// then escaped as a string value.
std::string DesktopExecArgument(const std::string& strArg)
{
    std::string strQuoted = "\"";
    for (char ch : strArg)
    {
        if (ch == '"' || ch == '`' || ch == '$' || ch == '\\')
            strQuoted += '\\';
        if (ch == '%')
            strQuoted += '%'; // a literal percent sign is doubled: %x are field codes
        strQuoted += ch;
    }
    strQuoted += '"';
    std::string strValue;
    for (char ch : strQuoted)
    {
        if (ch == '\\')
            strValue += "\\\\";
        else if (ch == '\n')
            strValue += "\\n";
        else
            strValue += ch;
    }
    return strValue;
}

// Copies a file so that the target is either the old file or the whole new one, with the
// given permissions from the start. Replacing by rename also works while the old program runs.
bool CopyAtomically(const std::filesystem::path& from, const std::filesystem::path& to,
                    std::filesystem::perms permissions, std::string& strError)
{
    platform::CFileReader reader;
    if (!reader.Open(from))
    {
        strError = platform::ErrnoText("cannot copy " + from.string());
        return false;
    }
    platform::CFileWriter writer;
    if (writer.Create(to, platform::EWriteMode::Atomic) && writer.SetPermissions(permissions))
    {
        std::vector<char> chunk(COPY_CHUNK_BYTES);
        for (;;)
        {
            const std::size_t n = reader.Read(chunk.data(), chunk.size());
            if (reader.Failed())
            {
                strError = platform::ErrnoText("cannot read " + from.string());
                // What was written goes with the temporary file: the target keeps the old copy.
                writer.Discard();
                return false;
            }
            if (!writer.Write(chunk.data(), n) || n < chunk.size())
                break;
        }
    }
    if (!writer.Close())
    {
        strError = "cannot copy " + from.string() + ": " + writer.Error();
        return false;
    }
    return true;
}

} // namespace

SInstallSettings SInstallSettings::FromEnvironment()
{
    SInstallSettings settings;
    std::error_code error;
    settings.m_sourceDirectory = std::filesystem::current_path(error);
    settings.m_vellumRoot = std::filesystem::absolute(platform::VellumRoot(), error);
    settings.m_systemDirectory = std::filesystem::absolute(platform::SystemDirectory(), error);
    settings.m_driveRoot = std::filesystem::absolute(platform::DriveRoot(), error);
    settings.m_cupsServerBin = platform::EnvOr("CUPS_SERVERBIN", DEFAULT_SERVER_BIN);
    settings.m_cupsDataDir = platform::EnvOr("CUPS_DATADIR", DEFAULT_DATA_DIR);
    settings.m_strCupsServer = platform::EnvOr("CUPS_SERVER", "");
    const std::string strHome = platform::EnvOr("HOME", "");
    const std::string strConfig =
        platform::EnvOr("XDG_CONFIG_HOME", strHome.empty() ? std::string() : strHome + "/.config");
    if (!strConfig.empty())
        settings.m_autostartDirectory = std::filesystem::path(strConfig) / "autostart";
    settings.m_nUid = ::getuid();
    settings.m_ePrivilege = ::geteuid() == 0 ? EPrivilege::Administrator : EPrivilege::User;
    return settings;
}

CInstaller::CInstaller(SInstallSettings settings) : m_settings(std::move(settings)) {}

void CInstaller::Record(std::string strStep, bool bOk, std::string strDetail)
{
    m_steps.push_back({std::move(strStep), bOk, std::move(strDetail)});
}

void CInstaller::Run()
{
    m_steps.clear();
    MakeFolders();
    // The order of the original distribution: driver, converter, sender, the shared renderer, help.
    CopyFromSource(BACKEND_FILE);
    CopyFromSource(PPD_FILE);
    CopyFromSource(PAGEMILL_FILE);
    CopyFromSource(MESSAGE_MODULE_FILE);
    CopyFromSource(SENDWELL_FILE);
    CopyFromSource(WATCHER_FILE);
    FindGhostscript();
    CopyFromSource(HELP_FILE);
    RegisterDriver();
    RegisterQueue();
    InstallAutostart();
}

bool CInstaller::Succeeded() const
{
    return std::all_of(m_steps.begin(), m_steps.end(), [](const SStepResult& step) { return step.m_bOk; });
}

void CInstaller::MakeFolders()
{
    std::error_code error;
    std::filesystem::create_directories(m_settings.m_systemDirectory, error);
    Record("creating the folder " + m_settings.m_systemDirectory.string(), !error, error.message());
    // The page files are the user's own: the printer writes them as that user, nobody else reads them.
    const bool bExisted = std::filesystem::is_directory(m_settings.m_driveRoot, error);
    std::filesystem::create_directories(m_settings.m_driveRoot, error);
    if (!error && !bExisted)
        std::filesystem::permissions(m_settings.m_driveRoot, std::filesystem::perms::owner_all, error);
    Record("creating the folder " + m_settings.m_driveRoot.string(), !error, error.message());
}

void CInstaller::CopyFromSource(const char* pszName)
{
    std::string strError;
    const auto from = m_settings.m_sourceDirectory / pszName;
    std::error_code error;
    const auto status = std::filesystem::status(from, error);
    bool bOk = false;
    if (!std::filesystem::is_regular_file(status))
        strError = from.string() + " is missing";
    else
        bOk = CopyAtomically(from, m_settings.m_systemDirectory / pszName, status.permissions(), strError);
    Record(std::string("copying ") + pszName, bOk, strError);
}

void CInstaller::FindGhostscript()
{
    // The driver shares the system's renderer with other printers; it cannot be copied from
    // here, only found. Without it nothing printed to the fax printer can become pages.
    const bool bFound = !platform::FindProgramOnPath(m_settings.m_strGhostscript).empty();
    Record("finding Ghostscript", bFound,
           bFound ? std::string()
                  : "the program " + m_settings.m_strGhostscript +
                        " is missing; install the package ghostscript");
}

void CInstaller::RegisterDriver()
{
    std::string strError;
    std::error_code error;
    const auto backendDir = m_settings.m_cupsServerBin / "backend";
    const auto modelDir = m_settings.m_cupsDataDir / MODEL_FOLDER;
    bool bOk = true;
    for (const auto& folder : {backendDir, modelDir})
    {
        std::filesystem::create_directories(folder, error);
        if (error && bOk)
        {
            strError = "cannot create " + folder.string() + ": " + error.message();
            bOk = false;
        }
    }
    if (bOk)
        bOk = CopyAtomically(m_settings.m_systemDirectory / BACKEND_FILE, backendDir / BACKEND_FILE,
                             BACKEND_PERMS, strError);
    if (bOk)
        bOk =
            CopyAtomically(m_settings.m_systemDirectory / PPD_FILE, modelDir / PPD_FILE, PPD_PERMS, strError);
    Record("registering the printer driver", bOk, strError);
}

std::string CInstaller::DeviceUri() const
{
    driver::SDeviceUri uri;
    uri.m_root = m_settings.m_vellumRoot;
    uri.m_nUid = m_settings.m_nUid;
    return uri.Format();
}

std::vector<std::vector<std::string>> CInstaller::QueueCommands() const
{
    const std::string strLpadmin = m_settings.m_strLpadmin;
    return {
        {strLpadmin, "-p", QUEUE_NAME, "-D", PRINTER_DESCRIPTION, "-v", DeviceUri(), "-P",
         (m_settings.m_systemDirectory / PPD_FILE).string(),
         // A job the printer refuses (too many pages, unreadable) is dropped; the queue goes on.
         "-o", "printer-error-policy=abort-job", "-o", "printer-is-shared=false",
         // After -p: enable the queue and let it accept jobs.
         "-E"},
        {strLpadmin, "-d", QUEUE_NAME},
    };
}

void CInstaller::RegisterQueue()
{
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    for (const auto& command : QueueCommands())
    {
        const auto result = platform::RunProgram(command, options);
        if (!result.Succeeded())
        {
            const std::string strSaid = FirstLine(result.m_strOutput);
            std::string strDetail = command[0] + ": " + result.Describe();
            if (!strSaid.empty())
                strDetail = strSaid + " (" + strDetail + ")";
            Record(std::string("registering the printer ") + PRINTER_DESCRIPTION, false, strDetail);
            return;
        }
    }
    Record(std::string("registering the printer ") + PRINTER_DESCRIPTION, true);
}

std::string CInstaller::AutostartEntry() const
{
    std::string strEntry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Vellum Zeru 3.0 pages\n"
        "Comment=Opens Sendwell when a document is printed to the fax printer Vellum Zeru 3.0\n";
    strEntry += "Exec=env " + DesktopExecArgument("VELLUM_ROOT=" + m_settings.m_vellumRoot.string()) + " " +
                DesktopExecArgument((m_settings.m_systemDirectory / WATCHER_FILE).string()) + "\n";
    strEntry += "Terminal=false\n"
                "NoDisplay=true\n"
                "X-GNOME-Autostart-enabled=true\n";
    return strEntry;
}

void CInstaller::InstallAutostart()
{
    const std::string strStep = "arranging for Sendwell to open after printing";
    if (m_settings.m_autostartDirectory.empty())
    {
        Record(strStep, false, "neither XDG_CONFIG_HOME nor HOME is set");
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(m_settings.m_autostartDirectory, error);
    const auto path = m_settings.m_autostartDirectory / AUTOSTART_FILE;
    if (error)
    {
        Record(strStep, false, m_settings.m_autostartDirectory.string() + ": " + error.message());
        return;
    }
    platform::CFileWriter writer;
    const std::string strEntry = AutostartEntry();
    if (writer.Create(path, platform::EWriteMode::Atomic))
        writer.Write(strEntry.data(), strEntry.size());
    const bool bOk = writer.Close();
    Record(strStep, bOk, writer.Error());
}

bool CInstaller::RegistrationFailed() const
{
    return std::any_of(m_steps.begin(), m_steps.end(),
                       [](const SStepResult& step)
                       { return !step.m_bOk && step.m_strStep.rfind("registering", 0) == 0; });
}

std::vector<std::string> CInstaller::AdministratorCommands() const
{
    const auto backend = m_settings.m_cupsServerBin / "backend" / BACKEND_FILE;
    const auto ppd = m_settings.m_cupsDataDir / MODEL_FOLDER / PPD_FILE;
    std::vector<std::string> commands = {
        "sudo install -D -m 0700 " + ShellQuote((m_settings.m_systemDirectory / BACKEND_FILE).string()) +
            " " + ShellQuote(backend.string()),
        "sudo install -D -m 0644 " + ShellQuote((m_settings.m_systemDirectory / PPD_FILE).string()) + " " +
            ShellQuote(ppd.string()),
    };
    for (auto command : QueueCommands())
    {
        // sudo starts lpadmin with a clean environment: a chosen CUPS server has to be named.
        if (!m_settings.m_strCupsServer.empty())
            command.insert(command.begin() + 1, {"-h", m_settings.m_strCupsServer});
        std::string strLine = "sudo";
        for (const auto& strArg : command)
            strLine += " " + ShellQuote(strArg);
        commands.push_back(strLine);
    }
    return commands;
}

std::string CInstaller::CompletionText() const
{
    std::string strText;
    if (Succeeded())
    {
        strText = "Vellum Zeru 3.0 has been installed successfully!\n"
                  "You may send free fax by printing on it now!\n";
    }
    else
    {
        strText = "Vellum Zeru 3.0 was not installed completely. These steps failed:\n";
        for (const auto& step : m_steps)
        {
            if (!step.m_bOk)
                strText +=
                    "- " + step.m_strStep + (step.m_strDetail.empty() ? "" : ": " + step.m_strDetail) + "\n";
        }
        if (RegistrationFailed() && m_settings.m_ePrivilege == EPrivilege::User)
        {
            strText += "Registering a printer needs a CUPS administrator. To register the printer, run:\n";
            for (const auto& strCommand : AdministratorCommands())
                strText += strCommand + "\n";
        }
    }
    strText += WEB_LINE;
    strText += "\n";
    strText += DEVELOPER_LINE;
    return strText;
}

} // namespace installer
