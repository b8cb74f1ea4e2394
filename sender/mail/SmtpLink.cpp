#include "sender/mail/SmtpLink.h"

#include "platform/ServerAddress.h"
#include "sender/mail/MailSyntax.h"
#include "sender/mail/SmtpReply.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace
{

constexpr std::size_t REPLY_BUFFER_BYTES = 1024;
constexpr std::size_t HOST_NAME_BYTES = 80;

struct SExpectedReply
{
    int m_nCode;
    const char* m_pszFailure;
};

// Indexed by SMTP_REPLY_OK, SMTP_REPLY_READY, SMTP_REPLY_DATA, SMTP_REPLY_QUIT.
constexpr SExpectedReply EXPECTED_REPLIES[] = {
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
};
static_assert(std::size(EXPECTED_REPLIES) == SMTP_REPLY_QUIT + 1);

constexpr const char* NOT_ENOUGH_MEMORY = "Not enough memory";
constexpr const char* CANNOT_CREATE_SOCKET = "Unable to create the socket.";
constexpr const char* CANNOT_CONNECT = "Unable to connect to server";
constexpr const char* NO_GREETING = "Server didn't respond.";
constexpr const char* SOCKET_ERROR = "Socket Error";
constexpr const char* REPLY_TOO_LONG = "SMTP reply too long";
constexpr const char* MUST_BE_CONNECTED = "Must be connected";
constexpr const char* NO_RECIPIENTS = "No Recipients";

} // namespace

CSmtpLink::CSmtpLink(const char* pszServer, int nPort, const SSmtpTimeouts& timeouts)
    : m_nPort(nPort), m_strServer(pszServer != nullptr ? pszServer : ""), m_timeouts(timeouts)
{
}

CSmtpLink::~CSmtpLink()
{
    Disconnect();
}

void CSmtpLink::SetServer(const char* pszServer, int nPort)
{
    if (pszServer == nullptr)
        return;
    m_strServer = pszServer;
    m_nPort = nPort;
}

void CSmtpLink::CloseConnection()
{
    m_socket.Close();
    m_pReplyBuffer.reset();
    m_strPending.clear();
    m_bConnected = false;
    m_eStage = ESmtpStage::Idle;
}

std::chrono::milliseconds CSmtpLink::ReplyLimit() const
{
    switch (m_eStage)
    {
    case ESmtpStage::Greeting:
        return m_timeouts.m_durGreeting;
    case ESmtpStage::Data:
        return m_timeouts.m_durDataStart;
    case ESmtpStage::EndOfData:
        return m_timeouts.m_durDataEnd;
    default:
        return m_timeouts.m_durCommand;
    }
}

std::string CSmtpLink::HeloName() const
{
    // A name that is not a plain domain (or none at all) would make a malformed, or worse a
    // second, command line; the address literal always fits (RFC 5321 4.1.3).
    char host[HOST_NAME_BYTES] = {};
    if (::gethostname(host, sizeof(host) - 1) == 0 && IsPlainDomain(host))
        return host;
    return m_socket.LocalAddressLiteral();
}

bool CSmtpLink::Connect()
{
    if (m_bConnected)
        return true;

    m_pReplyBuffer.reset(new (std::nothrow) char[REPLY_BUFFER_BYTES]);
    if (!m_pReplyBuffer)
    {
        m_strError = NOT_ENOUGH_MEMORY;
        return false;
    }
    m_strPending.clear();

    const auto address = platform::ParseServerAddress(m_strServer, m_nPort);
    const platform::EConnectStatus eConnect =
        address ? m_socket.Connect(address->m_strHost, address->m_nPort, m_timeouts.m_durConnect)
                : platform::EConnectStatus::CannotResolve;
    if (eConnect != platform::EConnectStatus::Connected)
    {
        m_strError =
            eConnect == platform::EConnectStatus::CannotCreate ? CANNOT_CREATE_SOCKET : CANNOT_CONNECT;
        CloseConnection();
        return false;
    }

    m_eStage = ESmtpStage::Greeting;
    if (!ReadReply(SMTP_REPLY_READY))
    {
        m_strError = NO_GREETING;
        CloseConnection();
        return false;
    }

    m_eStage = ESmtpStage::Helo;
    if (!Send("HELO " + HeloName() + "\r\n") || !ReadReply(SMTP_REPLY_OK))
    {
        CloseConnection();
        return false;
    }
    m_bConnected = true;
    m_eStage = ESmtpStage::Ready;
    return true;
}

bool CSmtpLink::SendMail(CPlainMail& message)
{
    if (!m_bConnected)
    {
        m_strError = MUST_BE_CONNECTED;
        return false;
    }
    if (!PrepareMessage(message))
        return false;
    const bool bSent = TransmitMessage(message);
    if (m_eStage != ESmtpStage::Broken)
        m_eStage = ESmtpStage::Ready;
    return bSent;
}

bool CSmtpLink::PrepareMessage(CPlainMail& message)
{
    if (message.GetRecipientCount() == 0)
    {
        m_strError = NO_RECIPIENTS;
        return false;
    }
    // Checked before the build, so that a refused message costs no encoding.
    if (const char* pszUnsafe = message.FindUnsafeField())
    {
        m_strError = pszUnsafe;
        return false;
    }
    message.Build();
    return true;
}

bool CSmtpLink::TransmitMessage(CPlainMail& message)
{
    if (!m_bConnected)
    {
        m_strError = MUST_BE_CONNECTED;
        return false;
    }
    if (m_eStage == ESmtpStage::Broken)
    {
        m_strError = SOCKET_ERROR;
        return false;
    }
    // Checked again here because the commands below carry the addresses, whoever prepared the message.
    if (const char* pszUnsafe = message.FindUnsafeField())
    {
        m_strError = pszUnsafe;
        return false;
    }

    m_eStage = ESmtpStage::MailFrom;
    if (!Send("MAIL From: <" + message.m_strFrom + ">\r\n") || !ReadReply(SMTP_REPLY_OK))
        return false;

    for (int i = 0; i < message.GetRecipientCount(); ++i)
    {
        std::string strAddress;
        std::string strName;
        message.GetRecipient(i, strAddress, strName);
        m_eStage = ESmtpStage::RcptTo;
        if (!Send("RCPT TO: <" + strAddress + ">\r\n"))
            return false;
        // A refused recipient stays in m_strError but does not stop the others; a lost connection does.
        if (!ReadReply(SMTP_REPLY_OK) && m_eStage == ESmtpStage::Broken)
            return false;
    }

    m_eStage = ESmtpStage::Data;
    if (!Send("DATA\r\n") || !ReadReply(SMTP_REPLY_DATA))
        return false;

    m_eStage = ESmtpStage::Content;
    if (!Send(message.GetHeader()) || !Send(StuffDots(message)) || !Send("\r\n.\r\n"))
        return false;

    m_eStage = ESmtpStage::EndOfData;
    return ReadReply(SMTP_REPLY_OK);
}

bool CSmtpLink::Disconnect()
{
    if (!m_bConnected)
        return true;
    // After a lost or timed-out exchange the server may still be reading data: a QUIT now would
    // become part of the message, so the connection is only closed.
    bool bResult = false;
    if (m_eStage != ESmtpStage::Broken)
    {
        m_eStage = ESmtpStage::Quit;
        bResult = Send("QUIT\r\n") && ReadReply(SMTP_REPLY_QUIT);
    }
    CloseConnection();
    return bResult;
}

bool CSmtpLink::Send(std::string_view text)
{
    if (m_socket.SendAll(text, m_timeouts.m_durSend) != platform::ESocketStatus::Ok)
    {
        m_strError = SOCKET_ERROR;
        m_eStage = ESmtpStage::Broken;
        return false;
    }
    return true;
}

bool CSmtpLink::ReadReply(int nExpected)
{
    if (!m_pReplyBuffer || !m_socket.IsOpen() || nExpected < 0 || nExpected > SMTP_REPLY_QUIT)
    {
        m_strError = SOCKET_ERROR;
        return false;
    }
    const auto deadline = platform::CTcpSocket::Clock::now() + ReplyLimit();
    SSmtpReply reply = ParseSmtpReply(m_strPending);
    while (reply.m_eStatus == EReplyStatus::Incomplete)
    {
        std::size_t nReceived = 0;
        // A time-out or a closed connection fails the step like any receive error.
        if (m_socket.Receive(m_pReplyBuffer.get(), REPLY_BUFFER_BYTES, nReceived, deadline) !=
            platform::ESocketStatus::Ok)
        {
            m_strError = SOCKET_ERROR;
            m_eStage = ESmtpStage::Broken;
            return false;
        }
        const std::string_view chunk(m_pReplyBuffer.get(), nReceived);
        m_strPending += chunk;
        // Only a new line end can complete the reply; only growth can exceed a cap.
        if (chunk.find('\n') != std::string_view::npos || m_strPending.size() > MAX_REPLY_LINE_BYTES)
            reply = ParseSmtpReply(m_strPending);
    }
    if (reply.m_eStatus == EReplyStatus::TooLong)
    {
        m_strError = REPLY_TOO_LONG;
        m_eStage = ESmtpStage::Broken;
        return false;
    }
    // Whatever came after this reply belongs to the next one.
    m_strPending.erase(0, reply.m_nLength);

    const SExpectedReply& expected = EXPECTED_REPLIES[nExpected];
    if (reply.m_nCode == expected.m_nCode)
        return true;
    char text[128];
    std::snprintf(text, sizeof(text), "%d:%s", reply.m_nCode, expected.m_pszFailure);
    m_strError = text;
    return false;
}

std::string CSmtpLink::StuffDots(const CPlainMail& message) const
{
    const std::string& strBody = message.m_strBody;
    std::string strOut;
    // Base64 bodies have no dots and few bare line ends, so the result is barely larger.
    strOut.reserve(strBody.size() + strBody.size() / 256 + 8);
    const char* p = strBody.data();
    const char* const pEnd = p + strBody.size();
    bool bLineStart = true;
    while (p < pEnd)
    {
        // RFC 5321 4.5.2: a line that begins with "." gets one more, which the server removes.
        if (bLineStart && *p == '.')
            strOut += '.';
        const char* pLineEnd = p;
        while (pLineEnd < pEnd && *pLineEnd != '\r' && *pLineEnd != '\n')
            ++pLineEnd;
        strOut.append(p, pLineEnd);
        if (pLineEnd == pEnd)
            break;
        // RFC 5321 2.3.8: CR and LF only ever go together; a lone one is made a whole line end
        // (a bare LF followed by "." could otherwise end the data early at some servers).
        strOut += "\r\n";
        p = pLineEnd + 1;
        if (*pLineEnd == '\r' && p < pEnd && *p == '\n')
            ++p;
        bLineStart = true;
    }
    return strOut;
}
