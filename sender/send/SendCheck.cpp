#include "sender/send/SendCheck.h"

#include "platform/BinaryFile.h"
#include "platform/CancelSignal.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/cover/CoverPage.h"
#include "sender/mail/ContentAgent.h"
#include "sender/mail/MailSyntax.h"
#include "sender/mail/MimeMail.h"
#include "sender/send/CoverInsertion.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <system_error>

namespace
{

namespace fs = std::filesystem;

constexpr const char* TEXT_CANCELLED = "The check was cancelled";
constexpr const char* TEXT_NO_RECIPIENT = "Sorry, recipient name is required";
// A curl error or a server's text is cut to this many characters in a line.
constexpr std::size_t MAX_DETAIL_CHARS = 200;

bool IsCancelled(const SSendCheckJob& job)
{
    return job.m_stopToken.stop_requested() || (job.m_send.m_pCancel && job.m_send.m_pCancel->IsRaised());
}

// The link's text without the reply code it starts with after a refused step ("535:..."): the
// server's reply, shown beside it, holds the code.
std::string WithoutReplyCode(const std::string& strText)
{
    const bool bCode =
        strText.size() > 4 && strText[3] == ':' &&
        std::all_of(strText.begin(), strText.begin() + 3, [](char ch) { return ch >= '0' && ch <= '9'; });
    return bCode ? strText.substr(4) : strText;
}

SCheckLine CoverageLine(const SSendCheckJob& job, const std::string& strNumber)
{
    SCoverageQueryOptions options;
    options.m_strHost = job.m_strQueryHost;
    options.m_limits = job.m_queryLimits;
    // The query's own words for its outcome become the line; nothing is shown.
    std::string strShown;
    CCoverageQuery query(options, job.m_fnAskQueryCredentials,
                         [&strShown](const std::string&, const std::string& strText, platform::EMessageIcon)
                         { strShown = strText; });
    const SQueryResult result = query.Run(strNumber, job.m_stopToken);
    const std::string strCannot = "The coverage of " + strNumber + " could not be asked: ";
    switch (result.m_eOutcome)
    {
    case EQueryOutcome::Covered:
        return {true, strShown};
    case EQueryOutcome::NotCovered:
        return {false, strShown};
    case EQueryOutcome::NoResult:
    case EQueryOutcome::RequestNotSetUp:
        return {false, strCannot + strShown};
    case EQueryOutcome::RedirectNotFollowed:
        return {false, strCannot + "the gateway's web server sent the question elsewhere"};
    case EQueryOutcome::TransferFailed:
        break;
    }
    if (IsCancelled(job))
        return {false, TEXT_CANCELLED};
    return {false, strCannot + platform::PrintableText(result.m_strError, MAX_DETAIL_CHARS)};
}

// What the SMTP server showed of itself: its SIZE limit (0: none named) once it took the
// connection and the sign-in.
struct SServerCheck
{
    SCheckLine m_line;
    bool m_bConnected = false;
    std::uint64_t m_nSizeLimit = 0;
};

SServerCheck CheckServer(const SSendCheckJob& job, SCheckSignIn& signIn)
{
    const SSendJob& send = job.m_send;
    CSmtpLink link("", DefaultSmtpPort(send.m_eSecurity), send.m_timeouts);
    PrepareLink(link, send);
    link.SetProgress({});
    link.SetPlainEhlo(true);
    const bool bSecure = send.m_eSecurity != ESmtpSecurity::None;
    const bool bSignIn = bSecure && !send.m_strLogin.empty();
    SServerCheck check;
    if (!link.Connect())
    {
        signIn.m_bCredentialsRefused = link.CredentialsRefused();
        if (link.GetCancel() != ESmtpCancel::NotCancelled)
        {
            check.m_line = {false, TEXT_CANCELLED};
            return check;
        }
        std::string strText = "Sorry, the SMTP server cannot be used: " + WithoutReplyCode(link.m_strError);
        if (!link.GetServerReply().empty())
            strText += ". The server said: " + link.GetServerReply();
        if (signIn.m_bCredentialsRefused)
            strText += ". Please push the Config button to correct the Login or the Password";
        check.m_line = {false, strText};
        return check;
    }
    signIn.m_bSignedIn = bSignIn;
    const SSmtpExtensions& extensions = link.GetExtensions();
    check.m_nSizeLimit = extensions.m_bSize ? extensions.m_nSizeLimit : 0;
    // QUIT follows the greeting (and the sign-in) at once: no MAIL FROM, nothing sent.
    link.Disconnect();
    check.m_bConnected = true;
    std::string strText = "The SMTP server took the connection";
    if (bSecure)
        strText += ", protected by TLS with a trusted certificate";
    if (bSignIn)
        strText += ", and the sign-in";
    check.m_line = {true, strText};
    return check;
}

// A folder of the check's own in the drive root, removed with everything in it when the object
// goes: the same file system as the page files, so that a raster is linked, not copied.
class CPrivateRoot
{
public:
    CPrivateRoot()
    {
        std::string strTemplate = (platform::DriveRoot() / ".check-XXXXXX").string();
        if (::mkdtemp(strTemplate.data()) == nullptr)
        {
            m_strError = platform::ErrnoText("cannot make a folder for the check");
            return;
        }
        m_root = strTemplate;
        std::error_code error;
        fs::create_directory(platform::DriveRoot(m_root), error);
        if (error)
            m_strError = "cannot make a folder for the check: " + error.message();
    }
    CPrivateRoot(const CPrivateRoot&) = delete;
    CPrivateRoot& operator=(const CPrivateRoot&) = delete;
    ~CPrivateRoot()
    {
        std::error_code ignored;
        if (!m_root.empty())
            fs::remove_all(m_root, ignored);
    }
    const fs::path& Root() const { return m_root; }
    fs::path Drive(const std::string& strName) const { return platform::DriveRoot(m_root) / strName; }
    const std::string& Error() const { return m_strError; }

private:
    fs::path m_root;
    std::string m_strError;
};

// Puts the waiting fax's rasters, behind a cover when one is asked for, and a page-count file into
// the private root, as the send would have them before the converter runs. The error text, or
// nothing.
std::optional<std::string> StagePages(const SSendCheckJob& job, const CPrivateRoot& root, int nPrinted,
                                      bool bCover)
{
    if (!root.Error().empty())
        return "Sorry, the fax could not be built: " + root.Error();
    if (bCover)
    {
        SCoverFields fields = job.m_send.m_cover->m_fields;
        fields.m_nPages = nPrinted + 1;
        fields.m_strDate.clear(); // today
        SCoverInsertion insertion{ECoverInsertion::CannotDraw, ""};
        if (!WriteCoverPage(fields, job.m_send.m_cover->m_template, root.Drive(platform::RasterFileName(1)),
                            insertion.m_strError))
            return CoverInsertionText(insertion);
    }
    const int nFirst = bCover ? 2 : 1;
    for (int nPage = 1; nPage <= nPrinted; ++nPage)
    {
        // A raster that is missing is left to the converter, which reports it as the send's would.
        const fs::path from = platform::DrivePath(platform::RasterFileName(nPage));
        const fs::path to = root.Drive(platform::RasterFileName(nPage + nFirst - 1));
        std::error_code error;
        fs::create_hard_link(from, to, error);
        if (error && fs::exists(from, error))
            fs::copy_file(from, to, error);
    }
    const std::uint8_t nCount = platform::PageCountByte(nPrinted + (bCover ? 1 : 0));
    if (!platform::WriteWholeFile(root.Drive(platform::PAGE_COUNT_FILE_NAME),
                                  std::string(1, static_cast<char>(nCount))))
        return "Sorry, the fax could not be built: the page count cannot be written";
    return std::nullopt;
}

std::string PagesText(int nPages)
{
    return std::to_string(nPages) + (nPages == 1 ? " page" : " pages");
}

// Builds the fax as the send would (the mail to strTo, not sent) and compares its size with the
// server's limit.
SCheckLine FaxLine(const SSendCheckJob& job, const std::string& strTo, const SServerCheck& server)
{
    platform::CFileReader countFile;
    std::uint8_t nCountByte = 0;
    if (!countFile.Open(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME)) ||
        !countFile.ReadByte(nCountByte))
    {
        SSendResult noPages;
        noPages.m_eOutcome = ESendOutcome::NoPageCountFile;
        return {false, SendOutcomeText(noPages)};
    }
    countFile.Close();
    const int nPrinted = platform::PagesOfCountByte(nCountByte);
    if (nPrinted == 0)
        return {false, SEND_NO_PAGES_TEXT};
    const bool bCover = job.m_send.m_cover && !WaitingFaxHasCover();
    if (bCover && nPrinted + 1 > platform::MAX_PAGES)
        return {false, CoverInsertionText({ECoverInsertion::TooManyPages, ""})};

    // Pages that a send which did not go out has made go as they are; otherwise the converter
    // makes them from a private copy, so that the rasters stay for the send (and its cover).
    CPrivateRoot root;
    fs::path pages = platform::DriveRoot();
    if (WaitingFaxPagesAreMade())
    {
        if (bCover)
            return {false, CoverInsertionText({ECoverInsertion::MadeWithoutCover, ""})};
    }
    else
    {
        if (const auto strError = StagePages(job, root, nPrinted, bCover))
            return {false, *strError};
        const SConverterRun run =
            job.m_fnRunConverter ? job.m_fnRunConverter(root.Root()) : SConverterRun{false, "no converter"};
        if (IsCancelled(job))
            return {false, TEXT_CANCELLED};
        if (!run.m_bSucceeded)
            return {false, "Sorry, the fax pages could not be made: " + run.m_strWhy};
        pages = platform::DriveRoot(root.Root());
    }

    const int nPages = nPrinted + (bCover ? 1 : 0);
    CMimeMail mail;
    mail.m_strFrom = job.m_send.m_strFrom;
    mail.AddRecipients(strTo.c_str());
    mail.m_strSubject = job.m_send.m_strSubject;
    mail.m_strBody.clear();
    for (int nPage = 1; nPage <= nPages; ++nPage)
    {
        const fs::path page = pages / platform::FaxPageFileName(nPage);
        std::error_code error;
        const auto nSize = fs::file_size(page, error);
        if (error || nSize == 0)
            return {false, "Sorry, page " + std::to_string(nPage) + " of the fax is missing"};
        mail.AddPart(page.c_str(), AGENT_TIFF_ATTACHMENT, "");
    }
    mail.Build();
    const std::uint64_t nSize = CSmtpLink("", 0).DataSize(mail);
    if (server.m_nSizeLimit != 0 && nSize > server.m_nSizeLimit)
        return {false, "Sorry, the fax, " + PagesText(nPages) +
                           ", is too large: " + SizeLimitText(nSize, server.m_nSizeLimit)};
    std::string strText =
        "The fax, " + PagesText(nPages) + ", makes a mail of " + platform::ByteSizeText(nSize);
    if (server.m_nSizeLimit != 0)
        strText += "; the SMTP server takes up to " + platform::ByteSizeText(server.m_nSizeLimit);
    else if (server.m_bConnected)
        strText += "; the SMTP server names no size limit";
    return {true, strText};
}

} // namespace

std::vector<SCheckLine> CheckBeforeSend(const SSendCheckJob& job, SCheckSignIn* pSignIn)
{
    std::vector<SCheckLine> aLines;
    // Every line is printable, whatever a server or a file put into it.
    const auto add = [&aLines](SCheckLine line)
    {
        line.m_strText = platform::PrintableUtf8(line.m_strText);
        aLines.push_back(std::move(line));
    };
    const auto cancelled = [&]
    {
        if (!IsCancelled(job))
            return false;
        if (aLines.empty() || aLines.back().m_strText != TEXT_CANCELLED)
            add({false, TEXT_CANCELLED});
        return true;
    };

    const EGatewayTemplateCheck eGateway = CGatewayTemplate::Check(job.m_strGatewayAddress);
    if (eGateway != EGatewayTemplateCheck::Ok)
        add({false, GatewaySettingText(eGateway)});
    const CGatewayTemplate gateway(job.m_strGatewayAddress);

    // The mail is sized for the longest address: the others make it no larger.
    std::string strLongestAddress;
    if (job.m_aRecipients.empty())
        add({false, TEXT_NO_RECIPIENT});
    for (std::size_t i = 0; i < job.m_aRecipients.size(); ++i)
    {
        const SCheckRecipient& recipient = job.m_aRecipients[i];
        std::string strName = recipient.m_strName;
        const ERecipientCheck eCheck = CheckRecipient(strName, recipient.m_strNumber, gateway);
        if (eCheck != ERecipientCheck::Ok)
        {
            const std::string strWho =
                job.m_aRecipients.size() > 1 ? "Recipient " + std::to_string(i + 1) + ": " : "";
            add({false, strWho + RecipientCheckText(eCheck, gateway, recipient.m_strNumber.size())});
            continue;
        }
        const std::string strAddress = GatewayAddress(strName, recipient.m_strNumber, gateway);
        if (strAddress.size() > strLongestAddress.size())
            strLongestAddress = strAddress;
        if (!job.m_strQueryHost.empty())
            add(CoverageLine(job, recipient.m_strNumber));
        if (cancelled())
            return aLines;
    }
    if (!IsPlainAddress(job.m_send.m_strFrom))
        add({false, EMAIL_NOT_PLAIN_TEXT});

    SCheckSignIn signIn;
    const SServerCheck server = CheckServer(job, signIn);
    if (pSignIn)
        *pSignIn = signIn;
    add(server.m_line);
    if (cancelled())
        return aLines;
    add(FaxLine(job, strLongestAddress, server));
    cancelled();
    return aLines;
}

bool AllPassed(const std::vector<SCheckLine>& aLines)
{
    return std::all_of(aLines.begin(), aLines.end(), [](const SCheckLine& line) { return line.m_bOk; });
}

SConverterRun RunInstalledConverterIn(const std::filesystem::path& vellumRoot)
{
    // As the send's run: a page takes milliseconds, the most pages a job may have well within this.
    platform::SRunOptions options;
    options.m_durTimeout = std::chrono::minutes(5);
    options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + vellumRoot.string()});
    const platform::SRunResult run =
        platform::RunProgram({platform::InstalledFile("Pagemill").string()}, options);
    return SConverterRun{run.Succeeded(), run.Succeeded() ? "" : run.Describe()};
}
