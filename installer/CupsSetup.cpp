#include "installer/CupsSetup.h"

#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/ProgramPath.h"
#include "printer/DeviceUri.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

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

// How the steps that register the driver and the queue begin.
constexpr const char* REGISTERING_STEP = "registering the printer";

// The first line of a tool's output that says something, past lpadmin's warnings about
// deprecated drivers, which it prints on every call.
std::string FirstLine(const std::string& strText)
{
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

// Why a CUPS tool failed: what it said, and how it ended.
std::string ToolFailure(const std::string& strProgram, const platform::SRunResult& result)
{
    const std::string strSaid = FirstLine(result.m_strOutput);
    const std::string strHow = strProgram + ": " + result.Describe();
    return strSaid.empty() ? strHow : strSaid + " (" + strHow + ")";
}

} // namespace

std::filesystem::path CCupsSetup::BackendPath() const
{
    return m_settings.m_cupsServerBin / "backend" / BACKEND_FILE;
}

std::filesystem::path CCupsSetup::ModelFolder() const
{
    return m_settings.m_cupsDataDir / MODEL_FOLDER;
}

std::filesystem::path CCupsSetup::PpdPath() const
{
    return ModelFolder() / PPD_FILE;
}

std::filesystem::path CCupsSetup::QueuePpdPath() const
{
    if (m_settings.m_eAction == EAction::AddQueue)
        return m_settings.m_sourceDirectory / PPD_FILE;
    return PackageProvidesDriver() ? platform::PackageDirectory() / PPD_FILE : PpdPath();
}

bool CCupsSetup::PackageProvidesDriver() const
{
    const auto list = platform::ReadWholeFile(m_settings.m_packageFileList, 1 << 20);
    if (!list)
        return false;
    const std::string strBackend = BackendPath().string();
    std::string_view strRest = *list;
    while (!strRest.empty())
    {
        const auto nEnd = strRest.find('\n');
        if (strRest.substr(0, nEnd) == strBackend)
            return true;
        strRest = nEnd == std::string_view::npos ? std::string_view() : strRest.substr(nEnd + 1);
    }
    return false;
}

platform::SRunResult CCupsSetup::RunTool(const std::vector<std::string>& args) const
{
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    return platform::RunProgram(args, options);
}

std::string CCupsSetup::DeviceUri() const
{
    return driver::SDeviceUri{}.Format();
}

std::vector<std::string> CCupsSetup::QueueCommand() const
{
    return {
        m_settings.m_strLpadmin, "-p", QUEUE_NAME, "-D", PRINTER_DESCRIPTION, "-v", DeviceUri(), "-P",
        QueuePpdPath().string(),
        // A job the printer refuses (too many pages, unreadable, not set up) is dropped; the queue goes on.
        "-o", "printer-error-policy=abort-job", "-o", "printer-is-shared=false",
        // Each job is the user's who submitted it, not whoever the client names.
        "-o", std::string("printer-op-policy=") + QUEUE_OP_POLICY,
        // After -p: enable the queue and let it accept jobs.
        "-E"};
}

std::vector<std::string> CCupsSetup::AdministratorCommands() const
{
    std::vector<std::string> commands = {
        "sudo install -D -m 0700 " + ShellQuote((m_settings.m_systemDirectory / BACKEND_FILE).string()) +
            " " + ShellQuote(BackendPath().string()),
        "sudo install -D -m 0644 " + ShellQuote((m_settings.m_systemDirectory / PPD_FILE).string()) + " " +
            ShellQuote(PpdPath().string()),
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

bool CCupsSetup::RegistrationFailed(const std::vector<SStepResult>& aSteps)
{
    return std::any_of(aSteps.begin(), aSteps.end(),
                       [](const SStepResult& step)
                       { return !step.m_bOk && step.m_strStep.starts_with(REGISTERING_STEP); });
}

bool CCupsSetup::DriverInPlace() const
{
    // The backend is readable by root only: an ordinary user can compare its size, and the PPD whole.
    std::error_code error;
    const auto ourBackend = m_settings.m_sourceDirectory / BACKEND_FILE;
    const auto nSize = std::filesystem::file_size(BackendPath(), error);
    if (error || nSize != std::filesystem::file_size(ourBackend, error) || error)
        return false;
    const auto ppd = platform::ReadWholeFile(PpdPath(), 1 << 20);
    return ppd && ppd == platform::ReadWholeFile(m_settings.m_sourceDirectory / PPD_FILE, 1 << 20);
}

SStepResult CCupsSetup::RegisterDriver() const
{
    const std::string strStep = std::string(REGISTERING_STEP) + " driver";
    if ((m_settings.m_ePrivilege == EPrivilege::User && DriverInPlace()) || PackageProvidesDriver())
    {
        // An administrator or the package placed this driver already: dpkg's files are its own to
        // replace, and a user has nothing to do.
        return {strStep, true, {}};
    }
    std::string strError;
    std::error_code error;
    const auto backendDir = BackendPath().parent_path();
    const auto modelDir = ModelFolder();
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
        bOk = CopyAtomically(m_settings.m_sourceDirectory / BACKEND_FILE, BackendPath(), BACKEND_PERMS,
                             strError);
    if (bOk)
        bOk = CopyAtomically(m_settings.m_sourceDirectory / PPD_FILE, PpdPath(), PPD_PERMS, strError);
    return {strStep, bOk, strError};
}

bool CCupsSetup::QueueExists() const
{
    const auto result = RunTool({m_settings.m_strLpstat, "-v", QUEUE_NAME});
    return result.Succeeded() && result.m_strOutput.find(QUEUE_NAME) != std::string::npos;
}

bool CCupsSetup::SchedulerRuns() const
{
    // lpstat says so in the user's language and exits 0 either way: its answer is asked for in C.
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.m_durSpoolerTimeout;
    options.m_aEnvironment = platform::EnvironmentWith({"LC_ALL=C", "LANGUAGE=C"});
    const auto result = platform::RunProgram({m_settings.m_strLpstat, "-r"}, options);
    return result.Succeeded() && result.m_strOutput.find("scheduler is running") != std::string::npos;
}

std::vector<std::filesystem::path> CCupsSetup::CachedQueueFiles() const
{
    // NAME.data and the like; the dot keeps a queue whose name merely begins with ours.
    std::vector<std::filesystem::path> aFiles;
    std::error_code error;
    const std::string strPrefix = std::string(QUEUE_NAME) + ".";
    for (const auto& entry : std::filesystem::directory_iterator(m_settings.m_cupsCacheDir, error))
    {
        if (entry.path().filename().string().starts_with(strPrefix))
            aFiles.push_back(entry.path());
    }
    return aFiles;
}

bool CCupsSetup::QueueInPlace() const
{
    const auto result = RunTool({m_settings.m_strLpstat, "-v", QUEUE_NAME});
    return result.Succeeded() &&
           result.m_strOutput.find(std::string(QUEUE_NAME) + ": " + DeviceUri() + "\n") != std::string::npos;
}

std::optional<bool> CCupsSetup::QueueAsksWhoSends() const
{
    const auto result = RunTool({m_settings.m_strLpoptions, "-p", QUEUE_NAME});
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

SStepResult CCupsSetup::RegisterQueue() const
{
    const std::string strStep = std::string(REGISTERING_STEP) + " " + PRINTER_DESCRIPTION;
    if (m_settings.m_ePrivilege == EPrivilege::User && QueueInPlace())
        return {strStep, true, {}};
    const auto command = QueueCommand();
    const auto result = RunTool(command);
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
    return {strStep, bOk, strDetail};
}

SStepResult CCupsSetup::MakeDefaultPrinter() const
{
    // lpoptions run as the user changes that user's default only (~/.cups/lpoptions), not the
    // computer's: the printer is the default of those who installed it.
    const auto result = RunTool({m_settings.m_strLpoptions, "-d", QUEUE_NAME});
    std::string strDetail;
    if (!result.Succeeded())
        strDetail = ToolFailure(m_settings.m_strLpoptions, result);
    return {std::string("making ") + PRINTER_DESCRIPTION + " the default printer of " +
                m_settings.m_account->m_strName,
            result.Succeeded(), strDetail};
}

SStepResult CCupsSetup::RemoveQueue() const
{
    const auto result = RunTool({m_settings.m_strLpadmin, "-x", QUEUE_NAME});
    std::string strDetail;
    if (!result.Succeeded())
        strDetail = ToolFailure(m_settings.m_strLpadmin, result);
    return {std::string("removing the printer ") + PRINTER_DESCRIPTION + " from CUPS", result.Succeeded(),
            strDetail};
}

} // namespace installer
