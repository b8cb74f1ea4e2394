#include "sender/send/SendOperation.h"

#include "platform/BinaryFile.h"
#include "platform/CancelSignal.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "sender/common/Gateway.h"
#include "sender/mail/ContentAgent.h"
#include "sender/mail/MailSyntax.h"
#include "sender/mail/MimeMail.h"
#include "sender/send/CoverInsertion.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <system_error>

namespace
{

bool IsDigits(const std::string& strText)
{
    for (unsigned char ch : strText)
        if (ch < '0' || ch > '9')
            return false;
    return true;
}

// The link's text without the reply code it starts with after a refused step ("535:..."):
// the server's reply, shown beside it, holds the code.
std::string WithoutReplyCode(std::string_view text)
{
    if (text.size() > 4 && text[3] == ':' && IsDigits(std::string(text.substr(0, 3))))
        text.remove_prefix(4);
    return std::string(text);
}

// A secure send says what failed (a certificate, the sign-in, a size limit) in the link's words,
// which hold only printable text, and the server's reply when there was one.
std::string SecureFailureText(const SSendResult& result)
{
    std::string strText = "Sorry, the fax was not sent: " + WithoutReplyCode(result.m_strDetail);
    if (!result.m_strServerReply.empty())
        strText += "\nThe server said: " + result.m_strServerReply;
    if (result.m_bCredentialsRefused)
        strText += "\nPlease push the Config button to correct the Login or the Password";
    return strText;
}

// The plain dialogue's own text, and why a login in the settings made no difference.
std::string PlainFailureText(const SSendResult& result, const char* pszText)
{
    std::string strText = pszText;
    if (result.m_bLoginUnused)
        strText += "\nThe Login in Config is only used with the security STARTTLS or TLS";
    return strText;
}

} // namespace

ERecipientCheck CheckRecipient(std::string& strRecipient, const std::string& strFaxNumber,
                               const CGatewayTemplate& gateway)
{
    if (strFaxNumber.empty())
        return ERecipientCheck::FaxNumberBlank;
    if (!IsDigits(strFaxNumber))
        return ERecipientCheck::FaxNumberNotDigits;
    if (strFaxNumber.size() > gateway.MaxNumberDigits())
        return ERecipientCheck::FaxNumberTooLong;
    if (strRecipient.empty())
        return ERecipientCheck::RecipientMissing;
    std::string strMailbox = strRecipient;
    for (char& ch : strMailbox)
        if (ch == ' ' || ch == '.')
            ch = '_';
    for (unsigned char ch : strMailbox)
        if (!IsAtomCharacter(ch))
            return ERecipientCheck::RecipientNotMailbox;
    // Only ASCII is left, so bytes and characters are the same count.
    if (strMailbox.size() > gateway.MaxNameBytes(strFaxNumber.size()))
        return ERecipientCheck::RecipientTooLong;
    strRecipient = strMailbox;
    return ERecipientCheck::Ok;
}

std::string RecipientCheckText(ERecipientCheck eCheck, const CGatewayTemplate& gateway,
                               std::size_t nNumberDigits)
{
    switch (eCheck)
    {
    case ERecipientCheck::FaxNumberBlank:
        return "Sorry, fax number shoud not be blank";
    case ERecipientCheck::FaxNumberNotDigits:
        return "Sorry, only number is adopted for fax number";
    case ERecipientCheck::RecipientMissing:
        return "Sorry, recipient name is required";
    case ERecipientCheck::FaxNumberTooLong:
        return "Sorry, the fax number may be at most " + std::to_string(gateway.MaxNumberDigits()) +
               " digits long";
    case ERecipientCheck::RecipientNotMailbox:
        return "Sorry, the recipient name may hold only letters, digits, blanks, dots and "
               "! # $ % & ' * + - / = ? ^ _ ` { | } ~";
    case ERecipientCheck::RecipientTooLong:
        return "Sorry, the recipient name may be at most " +
               std::to_string(gateway.MaxNameBytes(nNumberDigits)) + " characters long";
    case ERecipientCheck::Ok:
        break;
    }
    return "";
}

std::string GatewaySettingText(EGatewayTemplateCheck eCheck)
{
    std::string strWhy = GatewayTemplateCheckText(eCheck);
    constexpr std::string_view SORRY = "Sorry, ";
    if (strWhy.starts_with(SORRY))
        strWhy.erase(0, SORRY.size());
    return "Sorry, the gateway address in the settings cannot be used (" + strWhy +
           "), so nothing was sent; please push the Config button to correct it";
}

std::string GatewayAddress(const std::string& strRecipient, const std::string& strFaxNumber,
                           const CGatewayTemplate& gateway)
{
    return gateway.Address(strRecipient, strFaxNumber);
}

void PrepareLink(CSmtpLink& link, const SSendJob& job)
{
    SSmtpTimeouts timeouts = job.m_timeouts;
    if (job.m_eSecurity != ESmtpSecurity::None)
        timeouts.m_durGreeting =
            std::min<std::chrono::milliseconds>(timeouts.m_durGreeting, SECURE_GREETING_WAIT);
    link.SetTimeouts(timeouts);
    // The server setting's own port wins over the one that goes with the security.
    link.SetServer(job.m_strSmtpServer.c_str(), DefaultSmtpPort(job.m_eSecurity));
    link.SetSecurity(job.m_eSecurity);
    if (job.m_eSecurity != ESmtpSecurity::None && !job.m_strLogin.empty())
        link.SetCredentials(job.m_strLogin, job.m_strPassword);
    link.SetCancelSignal(job.m_pCancel);
    link.SetProgress(job.m_fnProgress);
}

SServerTestResult TestMailServer(const SSendJob& job)
{
    CSmtpLink link("", DefaultSmtpPort(job.m_eSecurity), job.m_timeouts);
    PrepareLink(link, job);
    SServerTestResult result;
    if (!link.Connect())
    {
        result.m_bCredentialsRefused = link.CredentialsRefused();
        result.m_strText = "Sorry, the test failed: " + WithoutReplyCode(link.m_strError);
        if (!link.GetServerReply().empty())
            result.m_strText += "\nThe server said: " + link.GetServerReply();
        return result;
    }
    link.Disconnect();
    result.m_bWorked = true;
    result.m_strText = "The SMTP server took the connection";
    if (job.m_eSecurity != ESmtpSecurity::None)
        result.m_strText += ", protected by TLS with a trusted certificate";
    if (job.m_eSecurity != ESmtpSecurity::None && !job.m_strLogin.empty())
        result.m_strText += ", and the sign-in";
    result.m_strText += ". Nothing was sent.";
    return result;
}

namespace
{

// The page-count byte; nothing when the file is missing, not a regular file or empty.
std::optional<std::uint8_t> ReadPageCountByte()
{
    platform::CFileReader countFile;
    std::uint8_t nCount = 0;
    if (!countFile.Open(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME)) || !countFile.ReadByte(nCount))
        return std::nullopt;
    return nCount;
}

std::optional<std::filesystem::file_time_type> RegularFileTime(const std::filesystem::path& path,
                                                               bool bNonEmpty)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status))
        return std::nullopt;
    if (bNonEmpty && (std::filesystem::file_size(path, error) == 0 || error))
        return std::nullopt;
    const auto time = std::filesystem::last_write_time(path, error);
    if (error)
        return std::nullopt;
    return time;
}

// The cover's note goes with the page-count file it names.
void RemovePageCountFile()
{
    std::error_code ignored;
    std::filesystem::remove(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME), ignored);
    RemoveCoverFiles();
}

// Puts the job's cover page in, or finishes one that a send cut short put in, before the
// converter runs. False with the result's outcome set when the fax must not go.
bool PrepareCover(const SSendJob& job, SSendResult& result)
{
    SCoverInsertion insertion;
    if (job.m_cover)
        insertion = InsertCoverPage(*job.m_cover);
    else if (!FinishCoverInsertion(insertion.m_strError))
        insertion.m_eResult = ECoverInsertion::CannotMove;
    const std::string strText = CoverInsertionText(insertion);
    if (strText.empty())
        return true;
    result.m_eOutcome = ESendOutcome::CoverFailed;
    result.m_strDetail = strText;
    return false;
}

} // namespace

bool IsFaxPageOfWaitingJob(int nPage)
{
    const auto countTime = RegularFileTime(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME), false);
    const auto pageTime = RegularFileTime(platform::DrivePath(platform::FaxPageFileName(nPage)), true);
    return countTime && pageTime && *pageTime >= *countTime;
}

bool WaitingFaxPagesAreMade()
{
    const std::optional<std::uint8_t> nCount = ReadPageCountByte();
    const int nPages = nCount ? platform::PagesOfCountByte(*nCount) : 0;
    if (nPages == 0)
        return false;
    for (int nPage = 1; nPage <= nPages; ++nPage)
    {
        std::error_code error;
        if (std::filesystem::symlink_status(platform::DrivePath(platform::RasterFileName(nPage)), error)
                    .type() != std::filesystem::file_type::not_found ||
            !IsFaxPageOfWaitingJob(nPage))
            return false;
    }
    return true;
}

// The page count stays until the server has taken the mail, so that a send that fails can be
// tried again with the same pages. One that no pages can ever be sent for (an empty file, no
// pages, a page gone) goes at once.
std::optional<int> MakeWaitingFaxPages(const SSendJob& job, SSendResult& result)
{
    if (!PrepareCover(job, result))
        return std::nullopt;
    // A send that did not go out left this fax's pages made and their rasters gone: they go as
    // they are. Pagemill would take the rasters for missing and remove the pages.
    if (!WaitingFaxPagesAreMade())
    {
        const SConverterRun converter = job.m_fnRunConverter ? job.m_fnRunConverter() : SConverterRun{};
        if (!converter.m_bSucceeded)
        {
            // Whatever page files are on disk now may be incomplete or belong to an older fax.
            result.m_eOutcome = ESendOutcome::ConverterFailed;
            result.m_strDetail = converter.m_strWhy;
            return std::nullopt;
        }
    }
    const std::optional<std::uint8_t> nCount = ReadPageCountByte();
    if (!nCount)
    {
        // An empty page-count file says nothing; the converter treated it as missing.
        if (RegularFileTime(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME), false))
            RemovePageCountFile();
        result.m_eOutcome = ESendOutcome::NoPageCountFile;
        return std::nullopt;
    }
    if (*nCount == platform::PageCountByte(0))
    {
        RemovePageCountFile();
        result.m_eOutcome = ESendOutcome::NoPages;
        return std::nullopt;
    }
    for (int nPage = 1; nPage <= platform::PagesOfCountByte(*nCount); ++nPage)
    {
        std::error_code error;
        const auto nSize =
            std::filesystem::file_size(platform::DrivePath(platform::FaxPageFileName(nPage)), error);
        if (error || nSize == 0)
        {
            RemovePageCountFile();
            result.m_eOutcome = ESendOutcome::PageMissing;
            result.m_nMissingPage = nPage;
            return std::nullopt;
        }
    }
    return platform::PagesOfCountByte(*nCount);
}

void RemoveWaitingFax()
{
    RemovePageCountFile();
}

namespace
{

// The waiting fax's pages from nFirst to nLast, as the drive root holds them.
std::vector<std::filesystem::path> FaxPageFiles(int nFirst, int nLast)
{
    std::vector<std::filesystem::path> aPages;
    for (int nPage = nFirst; nPage <= nLast; ++nPage)
        aPages.push_back(platform::DrivePath(platform::FaxPageFileName(nPage)));
    return aPages;
}

} // namespace

void DeliverFaxPages(const SSendJob& job, const std::vector<std::filesystem::path>& aPages,
                     SSendResult& result, const std::function<void()>& fnTaken)
{
    CSmtpLink link("", DefaultSmtpPort(job.m_eSecurity), job.m_timeouts);
    CMimeMail mail;
    PrepareLink(link, job);
    result.m_bSecure = job.m_eSecurity != ESmtpSecurity::None;
    result.m_bLoginUnused = !result.m_bSecure && !job.m_strLogin.empty();
    mail.m_strFrom = job.m_strFrom;
    mail.AddRecipients(job.m_strRecipientAddress.c_str());
    mail.m_strSubject = job.m_strSubject;
    mail.m_strBody.clear();
    if (job.m_fnTime)
        mail.SetTimeSource(job.m_fnTime);
    if (job.m_fnMessageId)
        mail.SetMessageIdSource(job.m_fnMessageId);
    for (const auto& page : aPages)
        mail.AddPart(page.c_str(), AGENT_TIFF_ATTACHMENT, "");

    const bool bSignIn = result.m_bSecure && !job.m_strLogin.empty();
    const auto failed = [&link, &result](ESendOutcome eOutcome)
    {
        result.m_strDetail = link.m_strError;
        result.m_strServerReply = link.GetServerReply();
        result.m_bCredentialsRefused = link.CredentialsRefused();
        result.m_eOutcome = eOutcome;
        if (link.GetCancel() != ESmtpCancel::NotCancelled)
        {
            result.m_eOutcome = ESendOutcome::Cancelled;
            result.m_bMayHaveArrived = link.GetCancel() == ESmtpCancel::AfterEndOfData;
        }
    };
    if (!link.Connect())
    {
        failed(ESendOutcome::ConnectFailed);
        return;
    }
    result.m_bSignedIn = bSignIn;
    if (!link.SendMail(mail))
    {
        failed(ESendOutcome::SendFailed);
        link.Disconnect();
        return;
    }
    // The server has the message: what it said is kept before QUIT can touch the link.
    result.m_nPages = static_cast<int>(aPages.size());
    result.m_aPageFiles = aPages;
    result.m_nSentAt = static_cast<std::int64_t>(mail.GetDate());
    result.m_strMessageId = mail.GetMessageId();
    result.m_nMailBytes = link.GetDataBytes();
    result.m_strDataReply = link.GetDataReply();
    result.m_eOutcome = ESendOutcome::Sent;
    if (fnTaken)
        fnTaken();
    link.Disconnect();
}

SSendResult RunSendJob(const SSendJob& job)
{
    SSendResult result;
    const std::optional<int> nPages = MakeWaitingFaxPages(job, result);
    if (!nPages)
        return result;
    DeliverFaxPages(job, FaxPageFiles(1, *nPages), result,
                    [&result]
                    {
                        result.m_bCoverSent = WaitingFaxHasCover();
                        RemovePageCountFile();
                    });
    return result;
}

SConverterRun RunInstalledConverter()
{
    // A page takes milliseconds; even the most pages a job may have end well within this limit.
    platform::SRunOptions options;
    options.m_durTimeout = std::chrono::minutes(5);
    const platform::SRunResult run =
        platform::RunProgram({platform::InstalledFile("Pagemill").string()}, options);
    return SConverterRun{run.Succeeded(), run.Succeeded() ? "" : run.Describe()};
}

std::string SendOutcomeText(const SSendResult& result)
{
    switch (result.m_eOutcome)
    {
    case ESendOutcome::Sent:
        return SEND_SUCCESS_TEXT;
    case ESendOutcome::ConverterFailed:
        return "Sorry, the fax pages could not be made, so nothing was sent; please print the document again";
    case ESendOutcome::NoPageCountFile:
        return "Sorry, there are no fax pages to send; please print the document again";
    case ESendOutcome::NoPages:
        return SEND_NO_PAGES_TEXT;
    case ESendOutcome::CoverFailed:
        return result.m_strDetail;
    case ESendOutcome::PageMissing:
        return "Sorry, page " + std::to_string(result.m_nMissingPage) +
               " of the fax is missing, so nothing was sent; please print the document again";
    case ESendOutcome::Cancelled:
        return result.m_bMayHaveArrived ? "The send was cancelled after the whole fax had gone out: the "
                                          "server may have accepted it, "
                                          "so look for the gateway's e-mail before sending it again"
                                        : "The send was cancelled: nothing was sent";
    case ESendOutcome::ConnectFailed:
        if (result.m_bSecure)
            return SecureFailureText(result);
        return PlainFailureText(result, "There some error when connecting internet, please check  the "
                                        "internet configure and connection");
    case ESendOutcome::SendFailed:
        if (result.m_bSecure)
            return SecureFailureText(result);
        return PlainFailureText(result,
                                "The are some error when sending fax, please check the internet configure");
    }
    return "";
}

bool PagesAreGone(const SSendResult& result)
{
    return result.m_eOutcome == ESendOutcome::NoPageCountFile ||
           result.m_eOutcome == ESendOutcome::PageMissing;
}
