#pragma once

#include "platform/CancelSignal.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Word on sent faxes from the user's mailbox: the status notices that the gateway mails back,
// and the bounces of the user's own mail server, read over IMAP strictly read-only and matched
// to the faxes that still await word.

enum class EImapSecurity
{
    Tls,      // TLS from the first byte (RFC 8314)
    StartTls, // a plain connection turned into TLS with STARTTLS (RFC 3501 6.2.1); never plain text
};

inline constexpr int DefaultImapPort(EImapSecurity e)
{
    return e == EImapSecurity::Tls ? 993 : 143;
}

struct SImapAccount
{
    std::string m_strServer; // host, host:port or [v6]:port, as the user typed it
    EImapSecurity m_eSecurity = EImapSecurity::Tls;
    std::string m_strLogin;
    std::string m_strPassword; // wiped by the caller afterwards
    std::string m_strFolder = "INBOX";
};

// A fax that awaits word (from the record).
struct SAwaitingFax
{
    std::int64_t m_nId = 0;
    std::int64_t m_nSentAt = 0; // seconds since 1970
    std::string m_strMessageId; // as recorded, with its angle brackets "<...>"
    std::string m_strFaxNumber; // digits
    std::string m_strGatewayAddress;
};

enum class EFaxStatus
{
    Sent = 0,
    Delivered = 1,
    Failed = 2,
}; // stored as these numbers

// What a notice says of one fax. Every text is filtered (printable UTF-8, no control
// characters, bounded).
struct SNoticeOutcome
{
    std::int64_t m_nFaxId = 0;
    EFaxStatus m_eStatus = EFaxStatus::Sent;
    std::string m_strReason;        // for Failed: "busy", "no answer", "address not deliverable" (DSN) ...
    std::int64_t m_nNoticeDate = 0; // the notice's Date (else its arrival), seconds since 1970
    std::string m_strSubject;       // at most 200 bytes
    std::string m_strFirstLines;    // the first few lines of its text, joined with " / ", at most 500 bytes
};

// Where the last poll ended in the folder, so the next one reads only what arrived since.
struct SPollMark
{
    std::uint32_t m_nUidValidity = 0; // 0: no mark yet
    std::uint32_t m_nLastUid = 0;
};

enum class EPollStatus
{
    Ok,
    CannotConnect, // name not found, refused, unreachable
    NotSecure,     // TLS failed: certificate not trusted/expired/other host, no STARTTLS offered
    LoginRefused,  // wrong login or password
    FolderMissing,
    ServerError, // an answer that breaks the protocol or a bound (too long a line, too big a literal)
    TimedOut,
    Cancelled,
};

struct SPollResult
{
    EPollStatus m_eStatus = EPollStatus::Ok;
    std::string m_strDetail;                 // filtered, bounded; for the user, names no password
    std::vector<SNoticeOutcome> m_aOutcomes; // one per fax that has word; a fax at most once
    SPollMark m_mark;                        // to keep for the next poll (unchanged on failure)
};

// Reads (EXAMINE, BODY.PEEK, bounded parts) the notices that arrived after the oldest awaiting
// fax (SEARCH SINCE, and past mark when its UIDVALIDITY still holds) and matches them. Every
// wait bounded: timeout covers the whole poll. With no fax awaiting word it connects to nothing.
SPollResult PollNotices(const SImapAccount& account, const std::vector<SAwaitingFax>& aAwaiting,
                        const SPollMark& mark, std::chrono::milliseconds timeout,
                        const platform::CCancelSignal* pCancel = nullptr);

// A short sentence for the user for a failed poll ("The mail server refused the login for
// ann@example.org.").
std::string PollStatusText(EPollStatus eStatus, const std::string& strDetail);
