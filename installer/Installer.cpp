#include "installer/Installer.h"

#include "installer/InstallSupport.h"
#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "installer/driver/DeviceUri.h"
#include "installer/driver/UserRegistration.h"
#include "installer/watcher/PageWatcher.h"
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
#include <thread>
#include <unistd.h>
#include <vector>

namespace installer
{

namespace
{

// Without group and other permissions CUPS runs a backend as root, which it needs to
// write the page files as the user the queue names.
constexpr std::filesystem::perms BACKEND_PERMS = std::filesystem::perms::owner_all;
constexpr std::filesystem::perms PPD_PERMS =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

// The bit of a queue's printer-type that says the scheduler asks who sends a job to it
// (CUPS_PRINTER_AUTHENTICATED in cups/cups.h).
constexpr unsigned long PRINTER_TYPE_AUTHENTICATED = 0x400000;

// A desktop entry's Exec value that runs program with VELLUM_ROOT set to root.
std::string ExecWithRoot(const std::filesystem::path& root, const std::filesystem::path& program)
{
    return "env " + DesktopExecArgument("VELLUM_ROOT=" + root.string()) + " " +
           DesktopExecArgument(program.string());
}

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
    if (m_settings.m_eFor == EInstallFor::MachineOnly)
    {
        Record(FindGhostscript(m_settings));
        RegisterDriver();
        RegisterQueue();
        return;
    }
    AsUser(&CInstaller::InstallUserFiles);
    RegisterDriver();
    RegisterQueue();
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
    InstallAutostart();
    InstallMenuEntry();
}

void CInstaller::InstallUserPrinter()
{
    if (m_settings.m_eFor == EInstallFor::Folder)
        return;
    MakeDefaultPrinter();
    if (m_settings.m_bInSession)
        StartWatcher();
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

bool CInstaller::DriverInPlace() const
{
    // The backend is readable by root only: an ordinary user can compare its size, and the PPD whole.
    std::error_code error;
    const auto backend = m_settings.m_cupsServerBin / "backend" / BACKEND_FILE;
    const auto ourBackend = m_settings.m_sourceDirectory / BACKEND_FILE;
    const auto nSize = std::filesystem::file_size(backend, error);
    if (error || nSize != std::filesystem::file_size(ourBackend, error) || error)
        return false;
    const auto ppd = platform::ReadWholeFile(m_settings.m_cupsDataDir / MODEL_FOLDER / PPD_FILE, 1 << 20);
    return ppd && ppd == platform::ReadWholeFile(m_settings.m_sourceDirectory / PPD_FILE, 1 << 20);
}

void CInstaller::RegisterDriver()
{
    const std::string strStep = "registering the printer driver";
    if (m_settings.m_ePrivilege == EPrivilege::User && DriverInPlace())
    {
        // An administrator placed this driver already: nothing for this user to do.
        Record(strStep, true);
        return;
    }
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
    // From the distribution itself: the system directory is the user's to change.
    if (bOk)
        bOk = CopyAtomically(m_settings.m_sourceDirectory / BACKEND_FILE, backendDir / BACKEND_FILE,
                             BACKEND_PERMS, strError);
    if (bOk)
        bOk =
            CopyAtomically(m_settings.m_sourceDirectory / PPD_FILE, modelDir / PPD_FILE, PPD_PERMS, strError);
    Record(strStep, bOk, strError);
}

std::string CInstaller::DeviceUri() const
{
    return driver::SDeviceUri{}.Format();
}

std::vector<std::string> CInstaller::QueueCommand() const
{
    return {
        m_settings.m_strLpadmin, "-p", QUEUE_NAME, "-D", PRINTER_DESCRIPTION, "-v", DeviceUri(), "-P",
        (m_settings.m_cupsDataDir / MODEL_FOLDER / PPD_FILE).string(),
        // A job the printer refuses (too many pages, unreadable, not set up) is dropped; the queue goes on.
        "-o", "printer-error-policy=abort-job", "-o", "printer-is-shared=false",
        // Each job is the user's who submitted it, not whoever the client names.
        "-o", std::string("printer-op-policy=") + QUEUE_OP_POLICY,
        // After -p: enable the queue and let it accept jobs.
        "-E"};
}

bool CInstaller::QueueInPlace() const
{
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    const auto result = platform::RunProgram({m_settings.m_strLpstat, "-v", QUEUE_NAME}, options);
    return result.Succeeded() &&
           result.m_strOutput.find(std::string(QUEUE_NAME) + ": " + DeviceUri() + "\n") != std::string::npos;
}

std::optional<bool> CInstaller::QueueAsksWhoSends() const
{
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    const auto result = platform::RunProgram({m_settings.m_strLpoptions, "-p", QUEUE_NAME}, options);
    if (!result.Succeeded())
        return std::nullopt;
    // lpoptions lists the queue's attributes as words "name=value".
    static constexpr std::string_view KEY = "printer-type=";
    const std::string& strOut = result.m_strOutput;
    for (auto nAt = strOut.find(KEY); nAt != std::string::npos; nAt = strOut.find(KEY, nAt + 1))
    {
        if (nAt != 0 && strOut[nAt - 1] != ' ')
            continue;
        const char* pBegin = strOut.data() + nAt + KEY.size();
        unsigned long nType = 0;
        const auto [pEnd, ec] = std::from_chars(pBegin, strOut.data() + strOut.size(), nType);
        if (ec != std::errc() || pEnd == pBegin)
            return std::nullopt;
        return (nType & PRINTER_TYPE_AUTHENTICATED) != 0;
    }
    return std::nullopt;
}

void CInstaller::RegisterQueue()
{
    const std::string strStep = std::string("registering the printer ") + PRINTER_DESCRIPTION;
    if (m_settings.m_ePrivilege == EPrivilege::User && QueueInPlace())
    {
        Record(strStep, true);
        return;
    }
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    const auto command = QueueCommand();
    const auto result = platform::RunProgram(command, options);
    std::string strDetail;
    if (!result.Succeeded())
        strDetail = ToolFailure(command[0], result);
    // A scheduler whose cupsd.conf lacks the policy refuses the whole request: no queue is made, and
    // one already there keeps its settings. That is a failure, not a warning: without the policy
    // the printer would put pages into whichever user's folder a job claims.
    if (!result.Succeeded() && result.m_strOutput.find("printer-op-policy") != std::string::npos)
    {
        strDetail =
            std::string("CUPS has no operation policy \"") + QUEUE_OP_POLICY +
            "\" (its cupsd.conf is not the stock one), which makes each print job the job of the user "
            "who sends it; without it CUPS believes any user name a job claims, and one user could print "
            "into another's folder. " +
            (QueueInPlace() ? "The printer already there still does so. " : "The printer was not made. ") +
            "Add a <Policy " + QUEUE_OP_POLICY +
            "> section to cupsd.conf, as in CUPS's stock cupsd.conf, restart CUPS and run the Installer "
            "again as administrator (" +
            strDetail + ")";
    }
    // The policy asks for authentication of the scheduler's default type; where cupsd.conf sets
    // DefaultAuthType None, it asks for none and the queue still believes any name.
    bool bOk = result.Succeeded();
    if (bOk && QueueAsksWhoSends() == false)
    {
        bOk = false;
        strDetail =
            std::string("CUPS does not ask who sends a print job to it, although its policy is \"") +
            QUEUE_OP_POLICY +
            "\" (cupsd.conf sets DefaultAuthType None, or its policy asks for no authentication): it "
            "believes any user name a job claims, and one user could print into another's folder. Set "
            "DefaultAuthType Basic in cupsd.conf, as in CUPS's stock cupsd.conf, restart CUPS and run the "
            "Installer again as administrator";
    }
    Record(strStep, bOk, strDetail);
}

void CInstaller::MakeDefaultPrinter()
{
    // lpoptions run as the user changes that user's default only (~/.cups/lpoptions), not the
    // computer's: the printer is the default of those who installed it.
    if (RegistrationFailed())
        return; // there is no queue to choose; the commands shown say how, once there is
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    const auto result = platform::RunProgram({m_settings.m_strLpoptions, "-d", QUEUE_NAME}, options);
    std::string strDetail;
    if (!result.Succeeded())
        strDetail = ToolFailure(m_settings.m_strLpoptions, result);
    Record(std::string("making ") + PRINTER_DESCRIPTION + " the default printer of " +
               m_settings.m_account->m_strName,
           result.Succeeded(), strDetail);
}

std::string CInstaller::AutostartEntry() const
{
    std::string strEntry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Vellum Zeru 3.0 pages\n"
        "Comment=Opens Sendwell when a document is printed to the fax printer Vellum Zeru 3.0\n";
    strEntry +=
        "Exec=" + ExecWithRoot(m_settings.m_vellumRoot, m_settings.m_systemDirectory / WATCHER_FILE) + "\n";
    strEntry += "Terminal=false\n"
                "NoDisplay=true\n"
                "X-GNOME-Autostart-enabled=true\n";
    return strEntry;
}

std::string CInstaller::MenuEntry() const
{
    // Sendwell shows the pages waiting to be sent, or an empty page list for Config and the address book.
    std::string strEntry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Vellum Zeru 3.0 Fax\n"
        "GenericName=Fax Sender\n"
        "Comment=Send the pages printed to Vellum Zeru 3.0 as a fax; edit the settings and "
        "the address book\n";
    // "Open with" hands it a document, an image or a text file, whose pages it shows to send.
    strEntry +=
        "Exec=" + ExecWithRoot(m_settings.m_vellumRoot, m_settings.m_systemDirectory / SENDWELL_FILE) +
        " %f\n";
    strEntry +=
        "MimeType=application/pdf;application/postscript;image/png;image/jpeg;image/tiff;text/plain;\n";
    strEntry += "Icon=" + (m_settings.m_systemDirectory / ICON_FILE).string() + "\n";
    strEntry += "Terminal=false\n"
                "Categories=Office;\n"
                "Actions=SentFaxes;\n"
                "\n"
                "[Desktop Action SentFaxes]\n"
                "Name=Sent faxes\n";
    strEntry +=
        "Exec=" + ExecWithRoot(m_settings.m_vellumRoot, m_settings.m_systemDirectory / SENDWELL_FILE) +
        " --sent\n";
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
    if (error)
    {
        Record(strStep, false, m_settings.m_autostartDirectory.string() + ": " + error.message());
        return;
    }
    const bool bOk =
        platform::WriteWholeFile(m_settings.m_autostartDirectory / AUTOSTART_FILE, AutostartEntry());
    Record(strStep, bOk,
           bOk ? "" : platform::ErrnoText("cannot write " + m_settings.m_autostartDirectory.string()));
}

void CInstaller::InstallMenuEntry()
{
    const std::string strStep = "adding Sendwell to the applications menu";
    if (m_settings.m_applicationsDirectory.empty())
    {
        Record(strStep, false, "neither XDG_DATA_HOME nor HOME is set");
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(m_settings.m_applicationsDirectory, error);
    if (error)
    {
        Record(strStep, false, m_settings.m_applicationsDirectory.string() + ": " + error.message());
        return;
    }
    const bool bOk = platform::WriteWholeFile(m_settings.m_applicationsDirectory / MENU_FILE, MenuEntry());
    Record(strStep, bOk,
           bOk ? "" : platform::ErrnoText("cannot write " + m_settings.m_applicationsDirectory.string()));
}

std::string CInstaller::WatcherCommand() const
{
    return "setsid -f env " + ShellQuote("VELLUM_ROOT=" + m_settings.m_vellumRoot.string()) + " " +
           ShellQuote((m_settings.m_systemDirectory / WATCHER_FILE).string());
}

void CInstaller::StartWatcher()
{
    const std::string strStep = "starting Pagewatch, which opens Sendwell after printing";
    if (const auto running = watcher::CPageWatcher::LockHolder(m_settings.m_driveRoot))
    {
        // A watcher of an earlier installation works already; it starts the new Sendwell.
        m_bWatcherRunning = true;
        return;
    }
    // In a session of its own, so that it outlives the terminal the Installer ran in.
    platform::SSpawnOptions options;
    options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + m_settings.m_vellumRoot.string()});
    options.m_eInput = options.m_eOutput = options.m_eErrors = platform::EChildStream::Null;
    platform::CProcess pagewatch;
    if (!pagewatch.Start({m_settings.m_strSetsid, (m_settings.m_systemDirectory / WATCHER_FILE).string()},
                         options))
    {
        Record(strStep, false, pagewatch.Error());
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + m_settings.m_durWatcherTimeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (watcher::CPageWatcher::LockHolder(m_settings.m_driveRoot))
        {
            pagewatch.Detach();
            m_bWatcherRunning = true;
            return;
        }
        if (pagewatch.Poll())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pagewatch.IsRunning())
    {
        pagewatch.Detach();
        Record(strStep, false, "it did not begin to watch " + m_settings.m_driveRoot.string());
        return;
    }
    Record(strStep, false, "it ended at once (" + pagewatch.Describe() + ")");
}

bool CInstaller::RegistrationFailed() const
{
    return std::any_of(m_steps.begin(), m_steps.end(),
                       [](const SStepResult& step)
                       { return !step.m_bOk && step.m_strStep.rfind("registering the printer", 0) == 0; });
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
    auto command = QueueCommand();
    // sudo starts lpadmin with a clean environment: a chosen CUPS server has to be named.
    if (!m_settings.m_strCupsServer.empty())
        command.insert(command.begin() + 1, {"-h", m_settings.m_strCupsServer});
    std::string strLine = "sudo";
    for (const auto& strArg : command)
        strLine += " " + ShellQuote(strArg);
    commands.push_back(strLine);
    // The default printer is the user's own choice, made without sudo.
    commands.push_back(ShellQuote(m_settings.m_strLpoptions) + " -d " + QUEUE_NAME);
    return commands;
}

std::string CInstaller::CompletionCaption() const
{
    return m_settings.m_eAction == EAction::Uninstall ? UNINSTALL_CAPTION : COMPLETION_CAPTION;
}

std::string CInstaller::CompletionText() const
{
    if (m_settings.m_eAction == EAction::Uninstall)
        return UninstallText();
    std::string strText;
    if (Succeeded() && m_settings.m_eFor == EInstallFor::MachineOnly)
    {
        strText = "Vellum Zeru 3.0 has been installed on this computer.\n"
                  "Each user who sends faxes sets it up for themselves once, by running the Installer "
                  "as themselves (or with sudo):\n"
                  "cd " +
                  ShellQuote(m_settings.m_sourceDirectory.string()) + " && ./Installer\n";
    }
    else if (Succeeded() && m_settings.m_eFor == EInstallFor::Folder)
        strText = "Vellum Zeru 3.0 has been installed into " + m_settings.m_vellumRoot.string() + ".\n";
    else if (Succeeded())
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
    if (m_settings.m_eFor == EInstallFor::Folder)
        strText += "The printer takes no print jobs of root: each user who sends faxes sets it up for "
                   "themselves by running the Installer as themselves.\n";
    else if (m_settings.m_eFor != EInstallFor::MachineOnly && !m_bWatcherRunning)
        strText +=
            "Sendwell opens after printing from your next login on. To have it open before that, run:\n" +
            WatcherCommand() + "\n";
    strText += WEB_LINE;
    strText += "\n";
    strText += DEVELOPER_LINE;
    return strText;
}

} // namespace installer
