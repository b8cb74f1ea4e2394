#pragma once

#include "sender/cover/CoverRequest.h"
#include "sender/mail/SmtpLink.h"
#include "sender/send/GatewayTemplate.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The send operation without its window: checking what the user typed, building the
// gateway address, and the part that runs while the dialog waits (the converter, the
// message with one attachment per page, the SMTP delivery). The dialog shows the
// messages and keeps the button's state.

// What the subject says before PRODUCT_NAME (sender/common/Branding.h), the program that sent the fax.
inline constexpr const char* SUBJECT_PREFIX = "Hi! I am: ";

enum class ERecipientCheck
{
    Ok,
    FaxNumberBlank,
    FaxNumberNotDigits,
    // More digits than the gateway address can hold (CGatewayTemplate::MaxNumberDigits).
    FaxNumberTooLong,
    RecipientMissing,
    // After blanks and dots have become underscores, the name holds a character that a
    // mailbox name may not: it would add recipients, break the address or a command.
    RecipientNotMailbox,
    // More characters than the gateway address can hold beside the number.
    RecipientTooLong,
};

// Checks the fax number and the recipient name in this order; on success the blanks and
// dots of the name have become underscores. Nothing is recorded or sent for a failed check.
ERecipientCheck CheckRecipient(std::string& strRecipient, const std::string& strFaxNumber,
                               const CGatewayTemplate& gateway = CGatewayTemplate());
// The text the user sees for a failed check; the limits it names are those of the gateway
// address beside a number of this many digits.
std::string RecipientCheckText(ERecipientCheck eCheck, const CGatewayTemplate& gateway = CGatewayTemplate(),
                               std::size_t nNumberDigits = 0);

// What the user sees when the settings lack the name, the e-mail address or the SMTP server.
inline constexpr const char* CONFIG_FIRST_TEXT =
    "Please push the Config button to config Name, Email Address and SMTP Server";

// What the user sees when the settings' e-mail address is not a plain address (IsPlainAddress
// in sender/mail/MailSyntax.h).
inline constexpr const char* EMAIL_NOT_PLAIN_TEXT =
    "Sorry, your Email Address is not a plain address, please push the Config button to correct it";

// What the user sees when the gateway address in the settings file cannot give an address: the
// send is refused, as a fax to the built-in gateway would go to the wrong place.
std::string GatewaySettingText(EGatewayTemplateCheck eCheck);

// The gateway template with the checked name and number in its fields; by default
// "remote-printer." + name + "@" + fax number + the gateway's mail domain suffix.
std::string GatewayAddress(const std::string& strRecipient, const std::string& strFaxNumber,
                           const CGatewayTemplate& gateway = CGatewayTemplate());

// How the converter run went.
struct SConverterRun
{
    bool m_bSucceeded = false;
    std::string m_strWhy; // when it failed: "cannot be started", "exit code 1", ...
};

// Everything the waiting part needs, copied, so that it can run on another thread.
struct SSendJob
{
    std::string m_strSmtpServer;
    // None keeps the plain dialogue; with the others a login name, when given, signs in.
    ESmtpSecurity m_eSecurity = ESmtpSecurity::None;
    std::string m_strLogin;
    std::string m_strPassword;
    std::string m_strFrom;
    std::string m_strRecipientAddress;
    std::string m_strSubject;
    // Runs the converter and waits for it.
    std::function<SConverterRun()> m_fnRunConverter;
    // A secure send waits no longer than SECURE_GREETING_WAIT for the greeting.
    SSmtpTimeouts m_timeouts;
    // Raised by the user's Cancel; it must outlive the job. Null: no cancel.
    const platform::CCancelSignal* m_pCancel = nullptr;
    // Bytes of the message that the server has acknowledged so far, called on the worker thread.
    SmtpProgress m_fnProgress;
    // Fixes the time and Message-ID of the message, for tests; empty: the real ones.
    CPlainMail::TimeSource m_fnTime;
    CPlainMail::MessageIdSource m_fnMessageId;
    // A cover page to put in as page 1 before the converter runs (sender/send/CoverInsertion.h).
    std::optional<SCoverRequest> m_cover;
    // Runs the converter over the page files of another root: the cover page drawn for each
    // recipient of a fax to several (sender/send/MultiSend.h). Empty: RunInstalledConverterIn
    // (sender/send/SendCheck.h).
    std::function<SConverterRun(const std::filesystem::path& root)> m_fnRunConverterIn;
};

enum class ESendOutcome
{
    Sent,
    ConverterFailed, // nothing sent; the page files stay as the converter left them
    NoPageCountFile, // no pages wait to be sent: the fax must be printed again
    NoPages,         // the page-count byte says 1
    PageMissing,     // a fax page file is missing or empty: nothing sent, the page count goes
    ConnectFailed,
    SendFailed,
    Cancelled, // by the user; m_bMayHaveArrived once the server had acknowledged the end of the data
    // The cover page asked for cannot be put in (m_strDetail says why): nothing sent, and the
    // page files stay as they were, or noted so that the next send finishes what was begun.
    CoverFailed,
};

struct SSendResult
{
    ESendOutcome m_eOutcome = ESendOutcome::Sent;
    int m_nMissingPage = 0;
    std::string m_strDetail; // the converter's failure or the link's m_strError, for the log
    // The server's reply behind a failure, printable and bounded; empty when there was none.
    std::string m_strServerReply;
    // The plain dialogue keeps its own messages; a secure send says what went wrong.
    bool m_bSecure = false;
    bool m_bMayHaveArrived = false;
    // The server refused the login and password (535): a stored password is wrong.
    bool m_bCredentialsRefused = false;
    // The server accepted the login and password.
    bool m_bSignedIn = false;
    // The settings name a login that security None does not send.
    bool m_bLoginUnused = false;
    // Once the server has taken the message: what a record of the fax keeps. The pages are
    // the fax page files 1 to m_nPages in the drive root.
    int m_nPages = 0;
    std::int64_t m_nSentAt = 0; // the Date of the mail
    std::string m_strMessageId;
    std::uint64_t m_nMailBytes = 0;
    std::string m_strDataReply; // the server's whole reply to the end of the data
    // Page 1 of the fax that went out is a cover page that the send put in.
    bool m_bCoverSent = false;
    // The fax page files the mail carried, in their order (m_nPages of them).
    std::vector<std::filesystem::path> m_aPageFiles;
};

// A server that expects TLS from the first byte never greets a STARTTLS client; every secure
// server greets at once. So a secure send gives up on the greeting after this long.
inline constexpr std::chrono::seconds SECURE_GREETING_WAIT{30};

// Cover page, converter, page-count file, message and delivery, in this order. Shows nothing and
// touches no window, so it may run on a worker thread. The page-count file is deleted only once
// the server has taken the mail (or when it names no pages that can ever be sent), and the fax
// pages stay: a send that failed can simply run again. It then finds this fax's pages made
// already (WaitingFaxPagesAreMade) and sends them without the converter, which would take
// their rasters for missing. A cover page is put in once (CoverInsertion.h): a retry sends the
// one that the failed send put in.
SSendResult RunSendJob(const SSendJob& job);

// RunSendJob's steps before the mail: the cover put in (or one cut short finished), the
// converter run unless the pages are made already, and every page checked. The count of pages
// (0 for a page-count byte of 0, which sends a mail without pages as it always has), or nullopt
// with the result's outcome set when no fax can go.
std::optional<int> MakeWaitingFaxPages(const SSendJob& job, SSendResult& result);
// Removes the waiting fax's page-count file and a cover's note, once its pages have gone out.
void RemoveWaitingFax();

// The message and delivery alone: mails aPages, in this order, to job.m_strRecipientAddress.
// fnTaken, when given, is called once the server has taken the mail, before the connection ends.
void DeliverFaxPages(const SSendJob& job, const std::vector<std::filesystem::path>& aPages,
                     SSendResult& result, const std::function<void()>& fnTaken = {});

// Whether fax page nPage was made for the job that the page-count file describes: it is a
// regular file, not empty, and no older than the page-count file. A page of an older fax is
// older than the page count of any job printed after it.
bool IsFaxPageOfWaitingJob(int nPage);
// Whether the waiting job's fax pages are all made: the page-count file names pages whose
// rasters are all gone and whose fax pages are all IsFaxPageOfWaitingJob. A new print job
// always brings its rasters, so a job that needs converting never passes.
bool WaitingFaxPagesAreMade();

// Sets up a link for the job's server as the send does: its security, sign-in, time limits,
// cancel and progress.
void PrepareLink(CSmtpLink& link, const SSendJob& job);

// What Config's Test found: whether the server took the connection, its protection and the
// sign-in, and a text for the user that says so or says what failed.
struct SServerTestResult
{
    bool m_bWorked = false;
    bool m_bCredentialsRefused = false;
    std::string m_strText;
};

// Connects, secures and signs in as the send of this job would, then quits; sends no mail
// and runs no converter. Touches no window, so it may run on a worker thread.
SServerTestResult TestMailServer(const SSendJob& job);

// The converter of this installation (Pagemill beside Sendwell, else in the system directory),
// run as a process with a time limit.
SConverterRun RunInstalledConverter();

// The message for an outcome.
std::string SendOutcomeText(const SSendResult& result);
// Whether the outcome says that the pages that the page list shows cannot be sent any more.
bool PagesAreGone(const SSendResult& result);
// The page-count byte 1 is reported through the application's own message box.
inline constexpr const char* SEND_NO_PAGES_TEXT = "Vellum Star3.0 could not run, Please install it again";
inline constexpr const char* SEND_SUCCESS_TEXT = "OK! The fax is sent successifully, please note your email "
                                                 "box because their will soon be an email about it";
