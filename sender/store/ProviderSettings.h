#pragma once

#include "sender/common/Gateway.h"
#include "sender/common/SmtpSecurity.h"
#include "sender/store/SentFaxLimits.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The settings beyond the three of quill.cfg, kept in a file of their own beside it so that
// quill.cfg stays byte for byte what older versions read: how the mail server is reached and
// which gateway the faxes go to. A small INI text:
//
//   [Mail]
//   Security=STARTTLS
//   Login=ann@example.org
//   [Gateway]
//   MailAddress=remote-printer.<name>@<number>.fax.vellum-gateway.example
//   QueryHost=fax.vellum-gateway.example
//   [SentFaxes]
//   KeepFaxes=1000
//   KeepMegabytes=200        (0: no limit)
//   [Sender]                 (what a cover page says of the sender)
//   Name=Ann Lee
//   Company=Lee Trading
//   Phone=+44 20 7946 0000
//   Fax=+44 20 7946 0001
//   Email=ann@example.org
//   [Cover]
//   Template=letterhead.svg  (in the user's cover folder; empty: the default template)
//   Enabled=1                (the main dialog's last cover choice)
//   [Incoming]               (the mailbox where the gateway's status notices arrive)
//   Server=imap.example.org  (host, host:port or [v6]:port)
//   Security=TLS             (TLS, port 993, or STARTTLS, port 143; never plain text)
//   Login=                   (empty: the login of [Mail])
//   Folder=INBOX
//   Watch=1                  (0: no notices are looked for; a file without it reads as 0)
//
// The password is never here: it lives in the desktop's keyring. Keys this version does not
// know (written by a later one) are kept as they were when the file is written again.

inline constexpr const char* PROVIDER_SETTINGS_FILE_NAME = "sendwell.ini";

std::filesystem::path ProviderSettingsPath();

// How the mailbox of the status notices is reached. Plain text is not offered: the password
// would cross the network readable.
enum class EIncomingSecurity
{
    Tls,
    StartTls,
};

inline constexpr const char* DEFAULT_INCOMING_FOLDER = "INBOX";

// "TLS", "STARTTLS" as the file and Config name them; nullopt for any other name.
const char* IncomingSecurityName(EIncomingSecurity eSecurity);
std::optional<EIncomingSecurity> IncomingSecurityFromName(std::string_view strName);

// Where the gateway's status notices are read.
struct SIncomingSettings
{
    std::string m_strServer;
    EIncomingSecurity m_eSecurity = EIncomingSecurity::Tls;
    // Empty: the SMTP login (SProviderSettings::m_strLogin).
    std::string m_strLogin;
    std::string m_strFolder = DEFAULT_INCOMING_FOLDER;
    bool m_bWatch = false;
};

struct SProviderSettings
{
    ESmtpSecurity m_eSecurity = ESmtpSecurity::StartTls;
    // The account's name at the mail provider; empty: no sign-in.
    std::string m_strLogin;
    // The gateway address template (sender/send/GatewayTemplate.h).
    std::string m_strGatewayAddress = DEFAULT_GATEWAY_TEMPLATE;
    // The coverage query's web server: a host, with ":port" if not 80.
    std::string m_strQueryHost = GATEWAY_WEB_HOST;
    // How many sent faxes are kept (sender/record/SentFaxStore.h).
    SSentFaxLimits m_sentLimits;
    // The sender as a cover page names them.
    std::string m_strSenderName;
    std::string m_strSenderCompany;
    std::string m_strSenderVoice;
    std::string m_strSenderFax;
    std::string m_strSenderEmail;
    // The cover template's file name in the user's cover folder; empty: the default template.
    std::string m_strCoverTemplate;
    // Whether the last fax asked for a cover page: the next one starts with the same choice.
    // Only the choice is kept: the subject and the note belong to the one fax they were
    // written for, and the recipient's company to its recipient.
    bool m_bCoverPage = false;
    // The mailbox of the status notices.
    SIncomingSettings m_incoming;
    // The keys of the file that this version does not know, each as its section's name and
    // its line ("Key=value"), in the file's order: written back as they were read.
    std::vector<std::pair<std::string, std::string>> m_aOtherKeys;
};

// The most a limit of the sent faxes may be. A limit that is in the file but larger, negative
// or unreadable reads as SENT_NO_LIMIT: nothing is pruned until the user sets one; a limit
// that is not in the file keeps the default.
inline constexpr int MAX_SENT_FAXES_KEPT = 1000000;
inline constexpr int MAX_SENT_MEGABYTES_KEPT = 1000000;

// Reads leniently: a missing or unreadable file gives the defaults, and so does each line that
// cannot be understood. Settings made before this file existed (quill.cfg there, this file not)
// keep the plain dialogue they worked with: security None. Values are not checked here beyond
// their form; the users of each (the gateway template above all) check them.
SProviderSettings ReadProviderSettings(const std::filesystem::path& path = ProviderSettingsPath(),
                                       const std::filesystem::path& settingsPath = {});

// The file's text; parsing it back gives the same settings.
std::string EncodeProviderSettings(const SProviderSettings& settings);
SProviderSettings DecodeProviderSettings(std::string_view strText);

// Replaces the file atomically. Refuses values with line breaks or other control characters,
// which the file cannot hold. On failure strError says what went wrong, naming the file.
[[nodiscard]] bool WriteProviderSettings(const SProviderSettings& settings, std::string& strError,
                                         const std::filesystem::path& path = ProviderSettingsPath());
