#include "sender/send/SendOperation.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/Roots.h"
#include "sender/mail/ContentAgent.h"
#include "sender/mail/MimeMail.h"
#include "sender/send/Gateway.h"

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

// The characters of an RFC 5322 dot-atom other than the dot, which has become "_" already.
bool IsMailboxCharacter(unsigned char ch)
{
    if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'))
        return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(ch)) != std::string_view::npos;
}

// The name follows the prefix and a dot in the local part of the gateway address.
static_assert(std::char_traits<char>::length(GATEWAY_MAILBOX_PREFIX) + 1 + MAX_RECIPIENT_NAME_BYTES == 64);

} // namespace

ERecipientCheck CheckRecipient(std::string& strRecipient, const std::string& strFaxNumber)
{
    if (strFaxNumber.empty())
        return ERecipientCheck::FaxNumberBlank;
    if (!IsDigits(strFaxNumber))
        return ERecipientCheck::FaxNumberNotDigits;
    if (strFaxNumber.size() > MAX_FAX_NUMBER_DIGITS)
        return ERecipientCheck::FaxNumberTooLong;
    if (strRecipient.empty())
        return ERecipientCheck::RecipientMissing;
    std::string strMailbox = strRecipient;
    for (char& ch : strMailbox)
        if (ch == ' ' || ch == '.')
            ch = '_';
    for (unsigned char ch : strMailbox)
        if (!IsMailboxCharacter(ch))
            return ERecipientCheck::RecipientNotMailbox;
    // Only ASCII is left, so bytes and characters are the same count.
    if (strMailbox.size() > MAX_RECIPIENT_NAME_BYTES)
        return ERecipientCheck::RecipientTooLong;
    strRecipient = strMailbox;
    return ERecipientCheck::Ok;
}

const char* RecipientCheckText(ERecipientCheck eCheck)
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
        static_assert(MAX_FAX_NUMBER_DIGITS == 63, "the text names the limit");
        return "Sorry, the fax number may be at most 63 digits long";
    case ERecipientCheck::RecipientNotMailbox:
        return "Sorry, the recipient name may hold only letters, digits, blanks, dots and "
               "! # $ % & ' * + - / = ? ^ _ ` { | } ~";
    case ERecipientCheck::RecipientTooLong:
        static_assert(MAX_RECIPIENT_NAME_BYTES == 49, "the text names the limit");
        return "Sorry, the recipient name may be at most 49 characters long";
    case ERecipientCheck::Ok:
        break;
    }
    return "";
}

std::string GatewayAddress(const std::string& strRecipient, const std::string& strFaxNumber)
{
    return std::string(GATEWAY_MAILBOX_PREFIX) + "." + strRecipient + "@" + strFaxNumber +
           GATEWAY_MAIL_DOMAIN_SUFFIX;
}

SSendResult RunSendJob(const SSendJob& job)
{
    SSendResult result;
    const SConverterRun converter = job.m_fnRunConverter ? job.m_fnRunConverter() : SConverterRun{};
    if (!converter.m_bSucceeded)
    {
        // Whatever page files are on disk now may be incomplete or belong to an older fax.
        result.m_eOutcome = ESendOutcome::ConverterFailed;
        result.m_strDetail = converter.m_strWhy;
        return result;
    }

    CSmtpLink link("", 25, job.m_timeouts);
    CMimeMail mail;
    link.SetServer(job.m_strSmtpServer.c_str(), 25);
    mail.m_strFrom = job.m_strFrom;
    mail.AddRecipients(job.m_strRecipientAddress.c_str());
    mail.m_strSubject = job.m_strSubject;
    mail.m_strBody.clear();
    if (job.m_fnTime)
        mail.SetTimeSource(job.m_fnTime);
    if (job.m_fnMessageId)
        mail.SetMessageIdSource(job.m_fnMessageId);

    // The page count is read once more and the file deleted: the pages are now this fax's.
    const auto countPath = platform::DrivePath(platform::PAGE_COUNT_FILE_NAME);
    platform::CFileReader countFile;
    std::uint8_t nCount = 0;
    if (!countFile.Open(countPath))
    {
        result.m_eOutcome = ESendOutcome::NoPageCountFile;
        return result;
    }
    const bool bHasByte = countFile.ReadByte(nCount);
    countFile.Close();
    std::error_code ignored;
    std::filesystem::remove(countPath, ignored);
    if (!bHasByte)
    {
        // An empty page-count file says nothing; the converter treated it as missing.
        result.m_eOutcome = ESendOutcome::NoPageCountFile;
        return result;
    }
    if (nCount == platform::PageCountByte(0))
    {
        result.m_eOutcome = ESendOutcome::NoPages;
        return result;
    }
    for (int nPage = 1; nPage <= platform::PagesOfCountByte(nCount); ++nPage)
    {
        const auto pagePath = platform::DrivePath(platform::FaxPageFileName(nPage));
        std::error_code error;
        const auto nSize = std::filesystem::file_size(pagePath, error);
        if (error || nSize == 0)
        {
            result.m_eOutcome = ESendOutcome::PageMissing;
            result.m_nMissingPage = nPage;
            return result;
        }
        mail.AddPart(pagePath.c_str(), AGENT_TIFF_ATTACHMENT, "");
    }

    if (!link.Connect())
    {
        result.m_eOutcome = ESendOutcome::ConnectFailed;
        result.m_strDetail = link.m_strError;
        return result;
    }
    if (!link.SendMail(mail))
    {
        result.m_eOutcome = ESendOutcome::SendFailed;
        result.m_strDetail = link.m_strError;
        link.Disconnect();
        return result;
    }
    link.Disconnect();
    result.m_eOutcome = ESendOutcome::Sent;
    return result;
}

SConverterRun RunInstalledConverter()
{
    // A page takes milliseconds; even the most pages a job may have end well within this limit.
    platform::SRunOptions options;
    options.m_durTimeout = std::chrono::minutes(5);
    const platform::SRunResult run =
        platform::RunProgram({(platform::SystemDirectory() / "Pagemill").string()}, options);
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
        return "";
    case ESendOutcome::NoPages:
        return SEND_NO_PAGES_TEXT;
    case ESendOutcome::PageMissing:
        return "Sorry, page " + std::to_string(result.m_nMissingPage) +
               " of the fax is missing, so nothing was sent; please print the document again";
    case ESendOutcome::ConnectFailed:
        return "There some error when connecting internet, please check  the internet configure and "
               "connection";
    case ESendOutcome::SendFailed:
        return "The are some error when sending fax, please check the internet configure";
    }
    return "";
}
