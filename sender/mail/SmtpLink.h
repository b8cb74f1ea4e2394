#pragma once

#include "platform/TcpSocket.h"
#include "sender/mail/PlainMail.h"

#include <chrono>
#include <memory>
#include <string>

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
};

// Where the dialogue with the server stands. Broken means the connection can no longer be
// trusted to be in step (a receive or send failed, or timed out): nothing more is said on it.
enum class ESmtpStage
{
    Idle,
    Greeting,
    Helo,
    MailFrom,
    RcptTo,
    Data,
    Content,
    EndOfData,
    Quit,
    Ready, // connected, between commands
    Broken,
};

// Delivers built messages to an SMTP server over one TCP connection (RFC 5321, no
// extensions): Connect greets with HELO, SendMail runs MAIL, RCPT and DATA, Disconnect
// sends QUIT. Nothing is thrown: every operation returns true or false, and m_strError
// keeps the text of the last failure (successes never reset it).
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

    bool Connect();
    bool SendMail(CPlainMail& message);
    // Sends QUIT unless the dialogue is out of step; always ends idle. The QUIT reply's outcome.
    bool Disconnect();

    // Reads one whole reply (however it arrives) and checks its code against the table row.
    bool ReadReply(int nExpected);
    // The body ready for DATA: lines beginning with "." get another one, and lone CR or LF
    // become CR LF.
    std::string StuffDots(const CPlainMail& message) const;

    ESmtpStage GetStage() const { return m_eStage; }

    std::string m_strError = "OK";

protected:
    virtual bool PrepareMessage(CPlainMail& message);
    virtual bool TransmitMessage(CPlainMail& message);

private:
    bool Send(std::string_view text);
    void CloseConnection();
    std::chrono::milliseconds ReplyLimit() const;
    std::string HeloName() const;

    bool m_bConnected = false;
    int m_nPort;
    std::string m_strServer;
    platform::CTcpSocket m_socket;
    std::unique_ptr<char[]> m_pReplyBuffer;
    std::string m_strPending; // received bytes that belong to the next reply
    SSmtpTimeouts m_timeouts;
    ESmtpStage m_eStage = ESmtpStage::Idle;
};
