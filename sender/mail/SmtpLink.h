#pragma once

#include "platform/TcpSocket.h"
#include "sender/common/SmtpSecurity.h"
#include "sender/mail/EhloReply.h"
#include "sender/mail/PlainMail.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform
{
class CCancelSignal;
class CTlsConnection;
} // namespace platform

// Indexes of the expected-reply table: each reply check names the one code that passes.
constexpr int SMTP_REPLY_OK = 0;    // 250
constexpr int SMTP_REPLY_READY = 1; // 220
constexpr int SMTP_REPLY_DATA = 2;  // 354
constexpr int SMTP_REPLY_QUIT = 3;  // 221

// How long each step may take. The defaults are the client timeouts of RFC 5321 4.5.3.2;
// HELO and QUIT, which it does not list, get the five minutes of the other commands. A reply
// limit bounds the whole wait for that reply, not the gap between bytes, so a server that
// drips its reply cannot stretch it. A send limit bounds each wait for the server to take
// more data, so a large body goes through as long as it keeps moving.
struct SSmtpTimeouts
{
    std::chrono::milliseconds m_durConnect = std::chrono::minutes(1);
    std::chrono::milliseconds m_durGreeting = std::chrono::minutes(5);
    std::chrono::milliseconds m_durCommand = std::chrono::minutes(5); // HELO, MAIL, RCPT, QUIT
    std::chrono::milliseconds m_durDataStart = std::chrono::minutes(2);
    std::chrono::milliseconds m_durSend = std::chrono::minutes(3);
    std::chrono::milliseconds m_durDataEnd = std::chrono::minutes(10);
    std::chrono::milliseconds m_durTlsHandshake = std::chrono::minutes(1);
};

// Whether a dialogue was ended by the cancel signal, and when: once the server has acknowledged
// the end of the data, it may have taken the message whatever the client does. Until then the
// connection is reset, so that what is still queued here never reaches it.
enum class ESmtpCancel
{
    NotCancelled,
    BeforeEndOfData,
    AfterEndOfData,
};

// Bytes of the message data that the server has acknowledged so far, and in all. Handed to the
// connection is not arrived: the kernel takes megabytes at once and sends them at the pace of
// the network. Called after each 64 KiB handed over and once the whole data has been, then,
// while the reply is awaited, whenever the count has grown (looked at every 100 ms) until it
// reaches the total, which it does only once the end of the data has been acknowledged.
using SmtpProgress = std::function<void(std::uint64_t nSent, std::uint64_t nTotal)>;

// Where the dialogue with the server stands. Broken means the connection can no longer be
// trusted to be in step (a receive or send failed, or timed out): nothing more is said on it.
enum class ESmtpStage
{
    Idle,
    Greeting,
    Helo, // HELO or EHLO
    StartTls,
    Auth,
    MailFrom,
    RcptTo,
    Data,
    Content,
    EndOfData,
    Quit,
    Ready, // connected, between commands
    Broken,
};

// Why a message of nSize bytes cannot go to a server that takes at most nLimit, in the user's words.
std::string SizeLimitText(std::uint64_t nSize, std::uint64_t nLimit);

// Delivers built messages to an SMTP server over one TCP connection (RFC 5321): Connect greets
// (HELO on a plain connection; EHLO, STARTTLS and AUTH on a secure one), SendMail runs MAIL,
// RCPT and DATA, Disconnect sends QUIT. Nothing is thrown: every operation returns true or
// false, and m_strError keeps the text of the last failure (successes never reset it): our
// own words, after the server's reply code when a reply failed the step. The server's own
// reply text is kept apart (GetServerReply), made printable and bounded.
class CSmtpLink
{
public:
    // The server text may carry a port ("host:587", "[::1]:2525"), which then wins over nPort.
    CSmtpLink(const char* pszServer, int nPort, const SSmtpTimeouts& timeouts = {});
    CSmtpLink(const CSmtpLink&) = delete;
    CSmtpLink& operator=(const CSmtpLink&) = delete;
    virtual ~CSmtpLink();

    // A null server leaves server and port as they were.
    void SetServer(const char* pszServer, int nPort);
    std::string GetServer() const { return m_strServer; }
    int GetPort() const { return m_nPort; }
    void SetTimeouts(const SSmtpTimeouts& timeouts) { m_timeouts = timeouts; }
    void SetSecurity(ESmtpSecurity eSecurity) { m_eSecurity = eSecurity; }
    ESmtpSecurity GetSecurity() const { return m_eSecurity; }
    // Signs in with these after TLS is up (AUTH PLAIN, else LOGIN). The password is wiped from
    // memory once it has been used (a later Connect then needs them again), and when the link
    // goes. Refused on a plain connection.
    void SetCredentials(std::string strUser, std::string strPassword);
    // For a check before sending: a plain connection greets with EHLO too, so that the server's
    // SIZE limit is known, and with HELO after all when the server does not understand EHLO.
    // The send itself keeps HELO.
    void SetPlainEhlo(bool bPlainEhlo) { m_bPlainEhlo = bPlainEhlo; }
    // Raised from another thread, ends the dialogue at once; it must outlive the link.
    void SetCancelSignal(const platform::CCancelSignal* pCancel);
    void SetProgress(SmtpProgress fnProgress) { m_fnProgress = std::move(fnProgress); }

    bool Connect();
    bool SendMail(CPlainMail& message);
    // Sends QUIT unless the dialogue is out of step; always ends idle. The QUIT reply's outcome.
    bool Disconnect();

    // Reads one whole reply (however it arrives) and checks its code against the table row.
    bool ReadReply(int nExpected);
    // The body ready for DATA: lines beginning with "." get another one, and lone CR or LF
    // become CR LF.
    std::string StuffDots(const CPlainMail& message) const;
    // The size of a built message as MAIL FROM's SIZE names it: the data as sent, doubled dots
    // included, with the end-of-data line's CR LF.
    std::uint64_t DataSize(const CPlainMail& message) const;

    ESmtpStage GetStage() const { return m_eStage; }
    ESmtpCancel GetCancel() const { return m_eCancel; }
    // Whether the last Connect's sign-in was refused as a wrong user name or password (535).
    bool CredentialsRefused() const { return m_bCredentialsRefused; }
    // What the server offered in its last EHLO reply (nothing after HELO).
    const SSmtpExtensions& GetExtensions() const { return m_extensions; }
    // The server's reply behind the last failed step, printable and bounded; empty when the
    // failure was not a reply.
    const std::string& GetServerReply() const { return m_strServerReply; }
    // After a SendMail that succeeded: the server's whole reply to the end of the data (where
    // servers name their queue id), printable, its lines joined by "\n"; and the bytes of the
    // data as sent. Empty and 0 until then, and after a SendMail that failed.
    const std::string& GetDataReply() const { return m_strDataReply; }
    std::uint64_t GetDataBytes() const { return m_nDataBytes; }

    std::string m_strError = "OK";

protected:
    virtual bool PrepareMessage(CPlainMail& message);
    virtual bool TransmitMessage(CPlainMail& message);

private:
    platform::CByteStream& Stream();
    const platform::CByteStream& Stream() const;
    bool Send(std::string_view text);
    // Sends the message data in slices, reporting progress after each.
    bool SendContent(std::string_view header, std::string_view body);
    // Bytes of the message data the server has acknowledged, from the bytes written to the
    // connection: for TLS each slice's share of its records.
    std::uint64_t DataAcknowledged() const;
    // Whether the server has acknowledged the whole data, its end-of-data line included.
    bool EndOfDataAcknowledged();
    // Calls the progress callback with the acknowledged data, when it has changed or always.
    void ReportProgress(bool bAlways);
    // Reads one whole reply into m_strLastReply; its code, or -1 when the connection failed.
    int ReceiveReply();
    // A failed send or receive: the connection is out of step (or cancelled and closed).
    void StreamFailed(platform::ESocketStatus eStatus);
    void SetReplyError(int nCode, const char* pszText);
    void CloseConnection();
    std::chrono::milliseconds ReplyLimit() const;
    std::string GreetingName() const;
    bool StartTls(const std::string& strHost);
    bool Ehlo(const std::string& strName);
    bool Authenticate();
    void WipeCredentials();

    bool m_bConnected = false;
    int m_nPort;
    std::string m_strServer;
    ESmtpSecurity m_eSecurity = ESmtpSecurity::None;
    std::string m_strUser;
    std::string m_strPassword;
    bool m_bPlainEhlo = false;
    bool m_bSignIn = false;           // credentials were given
    bool m_bCredentialsSpent = false; // and used up by a sign-in since
    const platform::CCancelSignal* m_pCancel = nullptr;
    SmtpProgress m_fnProgress;
    platform::CTcpSocket m_socket;
    // The TLS session once it is up; it then owns the connection and m_socket is empty.
    std::unique_ptr<platform::CTlsConnection> m_pTls;
    SSmtpExtensions m_extensions;
    ESmtpCancel m_eCancel = ESmtpCancel::NotCancelled;
    bool m_bCredentialsRefused = false;
    std::string m_strLastReply; // the last reply read, as received
    int m_nLastCode = -1;
    std::string m_strServerReply;
    std::string m_strDataReply;
    std::uint64_t m_nDataBytes = 0;
    // Where each slice of the message data ended: in the data, and in the bytes written to the
    // connection since it was made.
    struct SDataMark
    {
        std::uint64_t m_nData;
        std::uint64_t m_nWritten;
    };
    std::vector<SDataMark> m_aDataMarks;
    std::uint64_t m_nDataTotal = 0; // the data with its end-of-data line
    std::uint64_t m_nDataReported = 0;
    bool m_bDataAcknowledged = false;
    std::unique_ptr<char[]> m_pReplyBuffer;
    std::string m_strPending; // received bytes that belong to the next reply
    SSmtpTimeouts m_timeouts;
    ESmtpStage m_eStage = ESmtpStage::Idle;
};
