#include "sender/app/CommandSend.h"

#include "pages/DocumentFile.h"
#include "pages/UserRoot.h"
#include "platform/BinaryFile.h"
#include "platform/CancelSignal.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/app/CoverChoice.h"
#include "sender/app/MailPassword.h"
#include "sender/app/SendCheckBox.h"
#include "sender/app/SendwellApp.h"
#include "sender/app/SentFaxes.h"
#include "sender/common/Branding.h"
#include "sender/keyring/MailPasswordKeyring.h"
#include "sender/mail/MailSyntax.h"
#include "sender/send/CoverInsertion.h"
#include "sender/send/MisdialGuard.h"
#include "sender/send/MultiSend.h"
#include "sender/send/SendCheck.h"
#include "sender/send/SendOperation.h"
#include "sender/store/AddressBook.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <termios.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

constexpr const char* TO_OPTION = "--to";
constexpr const char* NUMBER_OPTION = "--number";
constexpr const char* COVER_OPTION = "--cover";
constexpr const char* SUBJECT_OPTION = "--subject";
constexpr const char* NOTE_OPTION = "--note";
constexpr const char* PASSWORD_FD_OPTION = "--password-fd";
constexpr const char* DRY_RUN_OPTION = "--dry-run";
constexpr const char* YES_OPTION = "--yes";
constexpr const char* CHECK_OPTION = "--check";
constexpr const char* END_OF_OPTIONS = "--";

// The dialog's own texts, said the same way here.
constexpr const char* NO_COVER_TEXT = "Sorry, the fax cannot have a cover page: ";
constexpr const char* FILE_REFUSED_TEXT = "Sorry, the file cannot be faxed: ";

// A password longer than this is no password a mail server takes.
constexpr std::size_t MAX_PASSWORD_BYTES = 1024;

// Raised by SIGINT and SIGTERM: the send ends as the dialog's Cancel ends it.
std::atomic<platform::CCancelSignal*> g_pCancel = nullptr;

extern "C" void OnStopSignal(int)
{
    if (platform::CCancelSignal* pCancel = g_pCancel.load())
        pCancel->Raise();
}

// SIGINT and SIGTERM raise the cancel while it lives; a second one ends the program at once.
class CStopSignals
{
public:
    explicit CStopSignals(platform::CCancelSignal& cancel)
    {
        g_pCancel = &cancel;
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        (void)::sigaction(SIGINT, &action, nullptr);
        (void)::sigaction(SIGTERM, &action, nullptr);
    }
    ~CStopSignals()
    {
        (void)std::signal(SIGINT, SIG_DFL);
        (void)std::signal(SIGTERM, SIG_DFL);
        g_pCancel = nullptr;
    }
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;
};

// Each line of a message on standard error, after the program's name.
void Say(const std::string& strText)
{
    std::istringstream lines(strText);
    for (std::string strLine; std::getline(lines, strLine);)
        std::fprintf(stderr, "Sendwell: %s\n", strLine.c_str());
}

int ExitCodeOf(const SSendResult& result)
{
    switch (result.m_eOutcome)
    {
    case ESendOutcome::Sent:
        return SEND_EXIT_SENT;
    case ESendOutcome::ConverterFailed:
        return SEND_EXIT_CONVERSION;
    case ESendOutcome::NoPageCountFile:
    case ESendOutcome::NoPages:
    case ESendOutcome::PageMissing:
    case ESendOutcome::CoverFailed:
        return SEND_EXIT_REFUSED;
    case ESendOutcome::ConnectFailed:
        return result.m_bCredentialsRefused ? SEND_EXIT_SERVER : SEND_EXIT_CONNECTION;
    case ESendOutcome::SendFailed:
        return SEND_EXIT_SERVER;
    case ESendOutcome::Cancelled:
        return SEND_EXIT_CANCELLED;
    }
    return SEND_EXIT_REFUSED;
}

int ExitCodeOf(const SMultiSendResult& result)
{
    if (result.m_common)
        return ExitCodeOf(*result.m_common);
    const int nSent = result.SentCount();
    if (nSent == static_cast<int>(result.m_aOutcomes.size()))
        return SEND_EXIT_SENT;
    if (nSent > 0)
        return SEND_EXIT_PARTLY;
    // None has it: the first that was tried says why.
    for (const SRecipientOutcome& outcome : result.m_aOutcomes)
        if (outcome.m_bTried)
            return ExitCodeOf(outcome.m_result);
    return SEND_EXIT_CANCELLED;
}

// Reads one line from fd, which is closed afterwards: the password without its line end.
std::optional<std::string> ReadPasswordLine(int fd, std::string& strError)
{
    // Room for the longest at once, so that no shorter copy is left behind in freed memory.
    std::string strPassword;
    strPassword.reserve(MAX_PASSWORD_BYTES + 1);
    bool bTooLong = false;
    for (;;)
    {
        char ch = 0;
        const ssize_t nRead = ::read(fd, &ch, 1);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
        {
            strError = platform::ErrnoText("the password cannot be read");
            platform::WipeSecret(strPassword);
            return std::nullopt;
        }
        if (nRead == 0 || ch == '\n')
            break;
        if (strPassword.size() < MAX_PASSWORD_BYTES)
            strPassword += ch;
        else
            bTooLong = true;
    }
    if (!strPassword.empty() && strPassword.back() == '\r')
        strPassword.pop_back();
    if (bTooLong)
    {
        platform::WipeSecret(strPassword);
        strError = "the password given is longer than " + std::to_string(MAX_PASSWORD_BYTES) + " bytes";
        return std::nullopt;
    }
    return strPassword;
}

// Asks on the terminal of standard input with its echo off; nullopt when standard input is no
// terminal.
std::optional<std::string> AskOnTerminal(const std::string& strPrompt, std::string& strError)
{
    termios normal = {};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &normal) != 0)
        return std::nullopt;
    termios quiet = normal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::fputs(strPrompt.c_str(), stderr);
    std::fflush(stderr);
    (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    const int fd = ::dup(STDIN_FILENO);
    auto strPassword = fd >= 0 ? ReadPasswordLine(fd, strError) : std::nullopt;
    (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &normal);
    std::fputc('\n', stderr);
    return strPassword;
}

// The mail password for this send: the keyring's, else the one read from --password-fd, else
// one typed on the terminal. Nullopt with strError when none can be had.
std::optional<std::string> ObtainPassword(const SSendOptions& options, const std::string& strServer,
                                          const std::string& strLogin, EPasswordOrigin& eOrigin,
                                          std::string& strError)
{
    std::string strPassword;
    const SKeyringResult read = CMailPasswordKeyring().Read(strServer, strLogin, strPassword);
    if (read.m_eStatus == EKeyringStatus::Ok)
    {
        eOrigin = EPasswordOrigin::Keyring;
        return strPassword;
    }
    eOrigin = EPasswordOrigin::AskedNotToKeep;
    if (options.m_nPasswordFd)
        return ReadPasswordLine(*options.m_nPasswordFd, strError);
    const std::string strPrompt = "Password for " + platform::PrintableUtf8(strLogin) + " at " +
                                  platform::PrintableUtf8(strServer) + ": ";
    auto strTyped = AskOnTerminal(strPrompt, strError);
    if (strTyped)
    {
        // As in the dialog: a keyring that merely had no entry keeps what the server accepts.
        if (read.m_eStatus == EKeyringStatus::NotFound && !strTyped->empty())
            eOrigin = EPasswordOrigin::AskedToKeep;
        return strTyped;
    }
    if (strError.empty())
        strError = "the mail password is not in the keyring, and standard input is no terminal to ask it on; "
                   "give it on a descriptor with " +
                   std::string(PASSWORD_FD_OPTION) + " N";
    return std::nullopt;
}

// The fax as the send would build it, made in a private copy of the page files so that the
// waiting ones stay as they are: the count of pages, or nullopt with the reason said.
std::optional<int> BuildWithoutSending(const SSendJob& job, int& nExit)
{
    SSendResult result;
    if (WaitingFaxPagesAreMade())
    {
        const std::optional<int> nPages = MakeWaitingFaxPages(job, result);
        if (!nPages)
        {
            Say(SendOutcomeText(result));
            nExit = ExitCodeOf(result);
        }
        return nPages;
    }
    std::string strRoot = (fs::temp_directory_path() / "sendwell-dry-run-XXXXXX").string();
    if (::mkdtemp(strRoot.data()) == nullptr)
    {
        Say(platform::ErrnoText("Sorry, the fax cannot be built: no folder for it"));
        nExit = SEND_EXIT_CONVERSION;
        return std::nullopt;
    }
    const fs::path drive = fs::path(strRoot) / "c";
    std::error_code error;
    fs::create_directories(drive, error);
    const auto strCount = platform::ReadWholeFile(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME), 16);
    const int nPages = strCount && !strCount->empty()
                           ? platform::PagesOfCountByte(static_cast<std::uint8_t>(strCount->front()))
                           : 0;
    for (int nPage = 1; nPage <= nPages && !error; ++nPage)
        fs::copy_file(platform::DrivePath(platform::RasterFileName(nPage)),
                      drive / platform::RasterFileName(nPage), error);
    std::optional<int> nMade;
    if (nPages == 0)
    {
        result.m_eOutcome = ESendOutcome::NoPageCountFile;
        Say(SendOutcomeText(result));
        nExit = SEND_EXIT_REFUSED;
    }
    else if (error || !platform::WriteWholeFile(drive / platform::PAGE_COUNT_FILE_NAME, *strCount))
    {
        Say("Sorry, the fax cannot be built: the page files cannot be copied");
        nExit = SEND_EXIT_CONVERSION;
    }
    else if (const SConverterRun run = RunInstalledConverterIn(strRoot); !run.m_bSucceeded)
    {
        result.m_eOutcome = ESendOutcome::ConverterFailed;
        Say(SendOutcomeText(result));
        nExit = SEND_EXIT_CONVERSION;
    }
    else
        nMade = nPages;
    fs::remove_all(strRoot, error);
    return nMade;
}

class CCommandSend
{
public:
    explicit CCommandSend(const SSendOptions& options) : m_options(options) {}
    int Run();

private:
    // The recipients checked as the dialog checks them; false when one is refused (said).
    bool CheckRecipients(const CGatewayTemplate& gateway);
    // A recipient that looks like a slip of the finger against the address book stops the send,
    // unless --yes says to go on; false when it stops (said).
    bool CheckMisdials() const;
    // The cover for each recipient, checked by drawing it; false when it cannot be had (said).
    bool ChooseCovers();
    int DryRun(const SSendJob& job);
    // The check before a send (sender/send/SendCheck.h) instead of the send: its list said, its
    // sign-in told in signIn.
    int Check(const SSendJob& job, SCheckSignIn& signIn) const;
    int Report(const SMultiSendResult& result);

    const SSendOptions& m_options;
    SProviderSettings m_provider;
    std::string m_strSmtpServer, m_strEmail, m_strUserName;
    std::vector<SFaxRecipient> m_aRecipients;
    CAddressBook m_book;
};

bool CCommandSend::CheckRecipients(const CGatewayTemplate& gateway)
{
    for (std::size_t i = 0; i < m_options.m_aRecipients.size(); ++i)
    {
        const SSendRecipientArg& arg = m_options.m_aRecipients[i];
        SFaxRecipient recipient{arg.m_strName, arg.m_strNumber, {}, {}};
        const ERecipientCheck eCheck = CheckRecipient(recipient.m_strName, recipient.m_strNumber, gateway);
        if (eCheck != ERecipientCheck::Ok)
        {
            std::string strText = RecipientCheckText(eCheck, gateway, recipient.m_strNumber.size());
            if (m_options.m_aRecipients.size() > 1)
                strText += " (recipient " + std::to_string(i + 1) + ")";
            Say(strText);
            return false;
        }
        recipient.m_strAddress = GatewayAddress(recipient.m_strName, recipient.m_strNumber, gateway);
        m_aRecipients.push_back(std::move(recipient));
    }
    return true;
}

bool CCommandSend::CheckMisdials() const
{
    if (m_options.m_bYes)
        return true;
    for (const SFaxRecipient& recipient : m_aRecipients)
        if (const auto misdial =
                FindLikelyMisdial(m_book.Entries(), recipient.m_strName, recipient.m_strNumber))
        {
            Say(MisdialQuestion(*misdial, recipient.m_strName, recipient.m_strNumber));
            Say("Nothing was sent. Correct the number, or give " + std::string(YES_OPTION) +
                " to send it as it is.");
            return false;
        }
    return true;
}

bool CCommandSend::ChooseCovers()
{
    if (!m_options.m_bCover)
        return true;
    for (std::size_t i = 0; i < m_aRecipients.size(); ++i)
    {
        SCoverRequest request;
        request.m_template = CoverTemplatePath(m_provider.m_strCoverTemplate);
        request.m_fields.m_strRecipient = m_options.m_aRecipients[i].m_strName;
        request.m_fields.m_strRecipientFax = m_options.m_aRecipients[i].m_strNumber;
        request.m_fields.m_strSubject = m_options.m_strSubject;
        request.m_fields.m_strNote = m_options.m_strNote;
        FillCoverSender(request.m_fields, m_provider, m_strUserName, m_strEmail);
        // Drawn once here, so that a template that cannot serve stops the send before anything goes.
        std::vector<std::uint8_t> raster;
        std::string strError;
        if (i == 0 && !DrawCoverRequest(request, raster, strError))
        {
            Say(NO_COVER_TEXT + strError);
            return false;
        }
        m_aRecipients[i].m_cover = std::move(request);
    }
    return true;
}

int CCommandSend::DryRun(const SSendJob& job)
{
    int nExit = SEND_EXIT_SENT;
    const std::optional<int> nMade = BuildWithoutSending(job, nExit);
    if (!nMade)
        return nExit;
    // As the send would make it: a cover that a failed send put in goes to one recipient, and
    // is left out for several, who each get their own when one is chosen.
    const bool bCoverIn = WaitingFaxHasCover();
    const int nPages = m_aRecipients.size() == 1 ? *nMade + (m_options.m_bCover && !bCoverIn ? 1 : 0)
                                                 : *nMade - (bCoverIn ? 1 : 0) + (m_options.m_bCover ? 1 : 0);
    Say("Nothing was sent (" + std::string(DRY_RUN_OPTION) + "): a fax of " + std::to_string(nPages) +
        (nPages == 1 ? " page" : " pages") + " would go to:");
    for (const SFaxRecipient& recipient : m_aRecipients)
        Say(recipient.m_strName + " (" + recipient.m_strNumber + "): " + recipient.m_strAddress);
    return SEND_EXIT_SENT;
}

int CCommandSend::Check(const SSendJob& job, SCheckSignIn& signIn) const
{
    SSendCheckJob check;
    check.m_send = job;
    // The cover is built as the first recipient's; the others' differ only in their names.
    if (!m_aRecipients.empty())
        check.m_send.m_cover = m_aRecipients.front().m_cover;
    for (const SSendRecipientArg& recipient : m_options.m_aRecipients)
        check.m_aRecipients.push_back(SCheckRecipient{recipient.m_strName, recipient.m_strNumber});
    check.m_strGatewayAddress = m_provider.m_strGatewayAddress;
    check.m_strQueryHost = m_provider.m_strQueryHost;
    check.m_fnRunConverter = RunInstalledConverterIn;
    const std::vector<SCheckLine> aLines = CheckBeforeSend(check, &signIn);
    platform::WipeSecret(check.m_send.m_strPassword);
    Say(CheckListText(aLines));
    return AllPassed(aLines) ? SEND_EXIT_SENT : SEND_EXIT_CHECK_FAILED;
}

int CCommandSend::Report(const SMultiSendResult& result)
{
    std::string strRecordError;
    for (const SRecipientOutcome& outcome : result.m_aOutcomes)
    {
        if (outcome.m_result.m_eOutcome != ESendOutcome::Sent)
            continue;
        // What a script keeps to match the gateway's notice: one line per mail sent.
        std::printf("%s %s %s\n", outcome.m_result.m_strMessageId.c_str(),
                    outcome.m_recipient.m_strName.c_str(), outcome.m_recipient.m_strNumber.c_str());
        std::string strError;
        if (!KeepSentFax(outcome.m_recipient.m_strName, outcome.m_recipient.m_strNumber,
                         outcome.m_recipient.m_strAddress, outcome.m_result, m_provider.m_sentLimits,
                         strError))
            strRecordError = strError;
    }
    std::fflush(stdout);
    Say(MultiSendText(result));
    if (!strRecordError.empty())
        Say("The fax was sent, but it could not be kept among the sent faxes: " + strRecordError);
    return ExitCodeOf(result);
}

int CCommandSend::Run()
{
    std::string strError;
    if (driver::SetUpOnFirstStart(strError) == driver::ESetUp::Failed)
        Say(SET_UP_FAILED_TEXT + platform::PrintableUtf8(strError));
    m_provider = ReadProviderSettings();
    if (const auto eGateway = CGatewayTemplate::Check(m_provider.m_strGatewayAddress);
        eGateway != EGatewayTemplateCheck::Ok)
    {
        Say(GatewaySettingText(eGateway));
        return SEND_EXIT_REFUSED;
    }
    if (!CheckRecipients(CGatewayTemplate(m_provider.m_strGatewayAddress)))
        return SEND_EXIT_REFUSED;
    if (!ReadSettings(m_strSmtpServer, m_strEmail, m_strUserName))
    {
        Say(CONFIG_FIRST_TEXT);
        return SEND_EXIT_REFUSED;
    }
    if (!IsPlainAddress(m_strEmail))
    {
        Say(EMAIL_NOT_PLAIN_TEXT);
        return SEND_EXIT_REFUSED;
    }
    m_book.Load();
    if (!CheckMisdials() || !ChooseCovers())
        return SEND_EXIT_REFUSED;

    platform::CCancelSignal cancel;
    const CStopSignals stopSignals(cancel);

    // The files become the pages as the dialog makes them of a file given to it.
    if (!m_options.m_aFiles.empty())
    {
        driver::SDocumentSettings settings;
        settings.m_pCancel = &cancel;
        std::vector<fs::path> aFiles(m_options.m_aFiles.begin(), m_options.m_aFiles.end());
        const driver::SDocumentResult rendered =
            driver::RenderDocumentFiles(aFiles, platform::DriveRoot(), settings);
        if (rendered.m_eResult == driver::EJobResult::Stopped)
            return SEND_EXIT_CANCELLED;
        if (rendered.m_eResult != driver::EJobResult::Done)
        {
            Say(FILE_REFUSED_TEXT + rendered.m_strReason);
            return rendered.m_eResult == driver::EJobResult::Refused ? SEND_EXIT_REFUSED
                                                                     : SEND_EXIT_CONVERSION;
        }
    }

    SSendJob job;
    job.m_strSmtpServer = m_strSmtpServer;
    job.m_eSecurity = m_provider.m_eSecurity;
    job.m_strLogin = m_provider.m_strLogin;
    job.m_strFrom = m_strEmail;
    job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
    job.m_fnRunConverter = RunInstalledConverter;
    job.m_pCancel = &cancel;
    if (m_options.m_bDryRun)
        return DryRun(job);

    const bool bSignIn = m_provider.m_eSecurity != ESmtpSecurity::None && !m_provider.m_strLogin.empty();
    EPasswordOrigin eOrigin = EPasswordOrigin::AskedNotToKeep;
    if (bSignIn)
    {
        auto strPassword =
            ObtainPassword(m_options, m_strSmtpServer, m_provider.m_strLogin, eOrigin, strError);
        if (!strPassword)
        {
            Say("Sorry, nothing was sent: " + strError);
            return SEND_EXIT_REFUSED;
        }
        job.m_strPassword = std::move(*strPassword);
    }
    else if (m_options.m_nPasswordFd)
        ::close(*m_options.m_nPasswordFd);
    if (m_options.m_bCheck)
    {
        SCheckSignIn signIn;
        const int nExit = Check(job, signIn);
        if (bSignIn)
            SettleMailPassword(m_strSmtpServer, m_provider.m_strLogin, job.m_strPassword, eOrigin,
                               signIn.m_bSignedIn             ? ESignInAnswer::Accepted
                               : signIn.m_bCredentialsRefused ? ESignInAnswer::Refused
                                                              : ESignInAnswer::None);
        platform::WipeSecret(job.m_strPassword);
        return nExit;
    }

    // Remembered before anything is sent, whatever the outcome, as the dialog does.
    std::vector<SAddressEntry> aEntries;
    for (const SFaxRecipient& recipient : m_aRecipients)
        aEntries.push_back(SAddressEntry{recipient.m_strName, recipient.m_strNumber});
    if (!m_book.Save(aEntries, strError))
        Say("Sorry, the address book could not be saved (" + strError + ")");

    const SMultiSendResult result = RunMultiSendJob(job, m_aRecipients);
    ESignInAnswer eAnswer = ESignInAnswer::None;
    for (const SRecipientOutcome& outcome : result.m_aOutcomes)
        if (outcome.m_bTried && outcome.m_result.m_bSignedIn)
            eAnswer = ESignInAnswer::Accepted;
        else if (outcome.m_bTried && outcome.m_result.m_bCredentialsRefused && eAnswer == ESignInAnswer::None)
            eAnswer = ESignInAnswer::Refused;
    if (bSignIn)
        SettleMailPassword(m_strSmtpServer, m_provider.m_strLogin, job.m_strPassword, eOrigin, eAnswer);
    platform::WipeSecret(job.m_strPassword);
    return Report(result);
}

// The descriptor of --password-fd: a number of an open descriptor, never one of the three
// standard ones, which a terminal or a script's output would be.
std::optional<int> DescriptorArg(const QString& strArg)
{
    bool bNumber = false;
    const int fd = strArg.toInt(&bNumber);
    if (!bNumber || fd <= STDERR_FILENO || ::fcntl(fd, F_GETFD) < 0)
        return std::nullopt;
    return fd;
}

} // namespace

bool IsCommandLineSend(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], END_OF_OPTIONS) != 0; ++i)
        if (std::strcmp(argv[i], SEND_OPTION) == 0)
            return true;
    return false;
}

std::optional<SSendOptions> ParseSendOptions(const QStringList& aArgs, std::string& strError)
{
    SSendOptions options;
    bool bFilesOnly = false;
    // An option that takes a value takes the next argument, whatever it is.
    const auto value = [&aArgs, &strError](qsizetype& i) -> std::optional<std::string>
    {
        if (i + 1 >= aArgs.size())
        {
            strError = aArgs[i].toStdString() + " needs a value after it.";
            return std::nullopt;
        }
        return aArgs[++i].toStdString();
    };
    for (qsizetype i = 0; i < aArgs.size(); ++i)
    {
        const QString& strArg = aArgs[i];
        if (bFilesOnly || !strArg.startsWith(QLatin1Char('-')))
        {
            if (strArg.isEmpty())
            {
                strError = "a file name is empty.";
                return std::nullopt;
            }
            options.m_aFiles.push_back(strArg.toStdString());
        }
        else if (strArg == QLatin1String(END_OF_OPTIONS))
            bFilesOnly = true;
        else if (strArg == QLatin1String(SEND_OPTION))
            continue;
        else if (strArg == QLatin1String(TO_OPTION))
        {
            const auto strName = value(i);
            if (!strName)
                return std::nullopt;
            if (i + 1 >= aArgs.size() || aArgs[i + 1] != QLatin1String(NUMBER_OPTION))
            {
                strError = "each --to NAME is followed by --number NUMBER.";
                return std::nullopt;
            }
            ++i;
            const auto strNumber = value(i);
            if (!strNumber)
                return std::nullopt;
            options.m_aRecipients.push_back(SSendRecipientArg{*strName, *strNumber});
        }
        else if (strArg == QLatin1String(NUMBER_OPTION))
        {
            strError = "--number follows the --to NAME it belongs to.";
            return std::nullopt;
        }
        else if (strArg == QLatin1String(COVER_OPTION))
            options.m_bCover = true;
        else if (strArg == QLatin1String(DRY_RUN_OPTION))
            options.m_bDryRun = true;
        else if (strArg == QLatin1String(YES_OPTION))
            options.m_bYes = true;
        else if (strArg == QLatin1String(CHECK_OPTION))
            options.m_bCheck = true;
        else if (strArg == QLatin1String(SUBJECT_OPTION) || strArg == QLatin1String(NOTE_OPTION))
        {
            const auto strText = value(i);
            if (!strText)
                return std::nullopt;
            (strArg == QLatin1String(SUBJECT_OPTION) ? options.m_strSubject : options.m_strNote) = *strText;
        }
        else if (strArg == QLatin1String(PASSWORD_FD_OPTION))
        {
            if (i + 1 >= aArgs.size() || !(options.m_nPasswordFd = DescriptorArg(aArgs[i + 1])))
            {
                strError = "--password-fd takes the number of an open file descriptor above 2.";
                return std::nullopt;
            }
            ++i;
        }
        else
        {
            strError = "there is no option " + platform::PrintableUtf8(strArg.toStdString()) + " for --send.";
            return std::nullopt;
        }
    }
    if (options.m_aRecipients.empty())
    {
        strError = "--send needs at least one --to NAME --number NUMBER.";
        return std::nullopt;
    }
    if (!options.m_bCover && (!options.m_strSubject.empty() || !options.m_strNote.empty()))
    {
        strError = "--subject and --note are the cover page's: they go with --cover.";
        return std::nullopt;
    }
    return options;
}

int RunCommandLineSend(const QStringList& aArgs)
{
    std::string strError;
    const auto options = ParseSendOptions(aArgs, strError);
    if (!options)
    {
        std::fprintf(stderr, "Sendwell: %s\nTry Sendwell --help.\n", strError.c_str());
        return SEND_EXIT_USAGE;
    }
    return CCommandSend(*options).Run();
}

int RunCommandLineSendApp(int argc, char** argv)
{
    bool bCover = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], END_OF_OPTIONS) != 0; ++i)
        bCover = bCover || std::strcmp(argv[i], COVER_OPTION) == 0;
    if (!bCover)
    {
        const QCoreApplication app(argc, argv);
        return RunCommandLineSend(QCoreApplication::arguments().mid(1));
    }
    // A cover page's text needs Qt's font database, which comes with a GUI application: one on
    // the offscreen platform, which needs no display and shows nothing.
    std::vector<char*> aArgv(argv, argv + argc);
    std::string strPlatformOption = "-platform", strPlatform = "offscreen";
    aArgv.insert(aArgv.begin() + 1, {strPlatformOption.data(), strPlatform.data()});
    int nArgc = static_cast<int>(aArgv.size());
    aArgv.push_back(nullptr);
    const QGuiApplication app(nArgc, aArgv.data());
    return RunCommandLineSend(QCoreApplication::arguments().mid(1));
}

std::string CommandSendHelp()
{
    return "Sending without a window (no display needed):\n"
           "  Sendwell --send --to NAME --number NUMBER [--to NAME --number NUMBER ...]\n"
           "           [--cover [--subject TEXT] [--note TEXT]] [--password-fd N] [--dry-run] [--check]\n"
           "           [--yes] [FILE...]\n"
           "Sends the FILEs, as one fax in their order, or without FILE the pages last printed to the\n"
           "fax printer, to each recipient in a mail of its own, with the settings, address book and\n"
           "sent faxes of the dialog. Prints the Message-ID, name and number of each mail sent on\n"
           "standard output, and every message on standard error.\n"
           "  --to NAME --number NUMBER   a recipient and its fax number (digits only)\n"
           "  --cover          a cover page for each recipient, from the cover settings\n"
           "  --subject TEXT   the cover page's subject\n"
           "  --note TEXT      the cover page's note\n"
           "  --password-fd N  read the mail password from file descriptor N when the keyring has\n"
           "                   none (otherwise it is asked on the terminal)\n"
           "  --dry-run        check everything and build the fax, but send nothing\n"
           "  --check          instead of sending: ask the gateway's coverage of each number, sign in\n"
           "                   to the mail server and quit, build the fax and compare its size with\n"
           "                   the server's limit, and list what will work and what will not\n"
           "  --yes            send to a number that looks mistyped against the address book (one\n"
           "                   digit off, two digits swapped, a known name with another number)\n"
           "Exit status: 0 sent to all (--dry-run, --check: all would work), 2 a wrong command\n"
           "line, 3 refused (a recipient, a likely misdial, the settings, a file, no pages, no\n"
           "password), 4 the pages could not be made, 5 the mail server refused, 6 no connection\n"
           "to the mail server, 7 sent to some recipients only, 8 stopped by a signal, 9 the check\n"
           "found something that will not work.\n";
}
