#include "sender/mail/SmtpLink.h"

#include "platform/CancelSignal.h"
#include "platform/Text.h"
#include "platform/TlsConnection.h"
#include "sender/mail/Base64Codec.h"
#include "sender/mail/MailSyntax.h"
#include "sender/mail/ServerAddress.h"
#include "sender/mail/SmtpReply.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <new>
#include <unistd.h>

namespace
{

constexpr std::size_t REPLY_BUFFER_BYTES = 1024;
constexpr std::size_t HOST_NAME_BYTES = HOST_NAME_MAX + 1;
// The data goes out in slices of this size, with a progress report after each.
constexpr std::size_t PROGRESS_STEP_BYTES = 64 * 1024;
// How often the wait for the reply to the data looks at what the server has acknowledged.
constexpr std::chrono::milliseconds PROGRESS_POLL_INTERVAL(100);
constexpr std::string_view END_OF_DATA = "\r\n.\r\n";

// Reply codes of the extended dialogue.
constexpr int CODE_READY = 220;             // STARTTLS: go ahead with the handshake
constexpr int CODE_OK = 250;                // EHLO
constexpr int CODE_AUTH_OK = 235;           // RFC 4954: signed in
constexpr int CODE_AUTH_CONTINUE = 334;     // RFC 4954: the server wants the next piece
constexpr int CODE_UNKNOWN_COMMAND = 500;   // EHLO not understood
constexpr int CODE_NOT_IMPLEMENTED = 502;   // EHLO not implemented
constexpr int CODE_AUTH_REQUIRED = 530;     // RFC 4954: sign in (or encrypt) first
constexpr int CODE_AUTH_TOO_WEAK = 534;     // RFC 4954: mechanism too weak
constexpr int CODE_BAD_CREDENTIALS = 535;   // RFC 4954: user name or password refused
constexpr int CODE_ENCRYPTION_NEEDED = 538; // RFC 4954: encryption required for this mechanism
constexpr int CODE_AUTH_TEMPORARY = 454;    // RFC 4954: temporary authentication failure

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
constexpr const char* NO_GREETING_STARTTLS =
    "The SMTP server sent no greeting: a server that expects TLS from the first byte (port 465 as a "
    "rule) waits for the handshake instead, so choose the security TLS for it";
constexpr const char* SOCKET_ERROR = "Socket Error";
constexpr const char* CLOSED_DURING_DATA =
    "The SMTP server closed the connection before the fax had gone out";
constexpr const char* REPLY_TOO_LONG = "SMTP reply too long";
constexpr const char* MUST_BE_CONNECTED = "Must be connected";
constexpr const char* NO_RECIPIENTS = "No Recipients";
constexpr const char* CANCELLED_BEFORE = "Cancelled before the message was sent";
constexpr const char* CANCELLED_AFTER =
    "Cancelled after the message was sent: the server may have accepted it";
constexpr const char* CREDENTIALS_NEED_TLS =
    "A user name and password are only sent over a secure connection: choose STARTTLS or TLS";
constexpr const char* CREDENTIALS_SPENT =
    "The password was used for the last connection and is no longer kept: give it again";
constexpr const char* NO_STARTTLS =
    "The SMTP server does not offer STARTTLS: nothing was sent over the unprotected connection";
constexpr const char* NO_EHLO = "SMTP server does not understand EHLO, which a secure connection needs";
constexpr const char* EHLO_REFUSED = "SMTP server refused EHLO";
constexpr const char* STARTTLS_REFUSED = "SMTP server refused STARTTLS";
constexpr const char* TLS_FAILED = "Cannot make a secure connection to the SMTP server: ";
constexpr const char* NO_AUTH = "The SMTP server offers no sign-in (AUTH) on this connection";
constexpr const char* NO_MECHANISM = "The SMTP server offers neither PLAIN nor LOGIN for signing in";
constexpr const char* AUTH_REFUSED = "The SMTP server refused the user name or password";
constexpr const char* AUTH_NEEDS_ENCRYPTION =
    "The SMTP server wants encryption or another kind of authentication first";
constexpr const char* AUTH_TOO_WEAK = "The SMTP server finds this kind of sign-in too weak";
constexpr const char* AUTH_TEMPORARY = "The SMTP server cannot sign you in just now; try again later";
constexpr const char* AUTH_FAILED = "Signing in to the SMTP server failed";

std::string Base64(std::string_view text)
{
    CBase64Codec codec;
    return codec.Encode(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

bool IsQualifiedDomain(const char* pszName)
{
    return pszName != nullptr && std::strchr(pszName, '.') != nullptr && IsPlainDomain(pszName);
}

} // namespace

CSmtpLink::CSmtpLink(const char* pszServer, int nPort, const SSmtpTimeouts& timeouts)
    : m_nPort(nPort), m_strServer(pszServer != nullptr ? pszServer : ""), m_timeouts(timeouts)
{
}

CSmtpLink::~CSmtpLink()
{
    Disconnect();
    WipeCredentials();
}

void CSmtpLink::SetCredentials(std::string strUser, std::string strPassword)
{
    WipeCredentials();
    m_strUser = std::move(strUser);
    m_strPassword = std::move(strPassword);
    platform::WipeSecret(strPassword);
    m_bSignIn = !m_strUser.empty() || !m_strPassword.empty();
    m_bCredentialsSpent = false;
}

void CSmtpLink::WipeCredentials()
{
    platform::WipeSecret(m_strUser);
    platform::WipeSecret(m_strPassword);
}

void CSmtpLink::SetCancelSignal(const platform::CCancelSignal* pCancel)
{
    m_pCancel = pCancel;
    m_socket.SetCancelSignal(pCancel);
}

platform::CByteStream& CSmtpLink::Stream()
{
    if (m_pTls)
        return *m_pTls;
    return m_socket;
}

const platform::CByteStream& CSmtpLink::Stream() const
{
    if (m_pTls)
        return *m_pTls;
    return m_socket;
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
    if (m_pTls)
        m_pTls->Close();
    m_pTls.reset();
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

std::string CSmtpLink::GreetingName() const
{
    // RFC 5321 4.1.1.1: the client's fully qualified domain name, else its address literal. A
    // name that is not a plain domain would make a malformed, or worse a second, command line.
    char host[HOST_NAME_BYTES] = {};
    if (::gethostname(host, sizeof(host) - 1) == 0 && host[0] != '\0')
    {
        if (IsQualifiedDomain(host))
            return host;
        addrinfo hints = {};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pList = nullptr;
        if (IsPlainDomain(host) && ::getaddrinfo(host, nullptr, &hints, &pList) == 0 && pList != nullptr)
        {
            const std::string strCanonical =
                IsQualifiedDomain(pList->ai_canonname) ? pList->ai_canonname : "";
            ::freeaddrinfo(pList);
            if (!strCanonical.empty())
                return strCanonical;
        }
    }
    return m_pTls ? m_pTls->Socket().LocalAddressLiteral() : m_socket.LocalAddressLiteral();
}

bool CSmtpLink::Connect()
{
    if (m_bConnected)
        return true;
    m_eCancel = ESmtpCancel::NotCancelled;
    m_bCredentialsRefused = false;
    m_strServerReply.clear();
    m_extensions = {};

    const bool bSignIn = m_bSignIn;
    if (bSignIn && m_eSecurity == ESmtpSecurity::None)
    {
        m_strError = CREDENTIALS_NEED_TLS;
        return false;
    }
    // Without this a second connection would go on unsigned, and fail later for a reason less clear.
    if (bSignIn && m_bCredentialsSpent)
    {
        m_strError = CREDENTIALS_SPENT;
        return false;
    }

    m_pReplyBuffer.reset(new (std::nothrow) char[REPLY_BUFFER_BYTES]);
    if (!m_pReplyBuffer)
    {
        m_strError = NOT_ENOUGH_MEMORY;
        return false;
    }
    m_strPending.clear();

    const auto address = ParseServerAddress(m_strServer, m_nPort);
    const platform::EConnectStatus eConnect =
        address ? m_socket.Connect(address->m_strHost, address->m_nPort, m_timeouts.m_durConnect)
                : platform::EConnectStatus::CannotResolve;
    if (eConnect != platform::EConnectStatus::Connected)
    {
        if (eConnect == platform::EConnectStatus::Cancelled)
        {
            m_eCancel = ESmtpCancel::BeforeEndOfData;
            m_strError = CANCELLED_BEFORE;
        }
        else
            m_strError =
                eConnect == platform::EConnectStatus::CannotCreate ? CANNOT_CREATE_SOCKET : CANNOT_CONNECT;
        CloseConnection();
        return false;
    }
    const std::string strName = GreetingName();

    if (m_eSecurity == ESmtpSecurity::Tls && !StartTls(address->m_strHost))
    {
        CloseConnection();
        return false;
    }

    m_eStage = ESmtpStage::Greeting;
    if (!ReadReply(SMTP_REPLY_READY))
    {
        // A server that expects TLS at once stays silent before the handshake.
        if (m_eCancel == ESmtpCancel::NotCancelled)
            m_strError = m_eSecurity == ESmtpSecurity::StartTls && m_strServerReply.empty()
                             ? NO_GREETING_STARTTLS
                             : NO_GREETING;
        CloseConnection();
        return false;
    }

    bool bGreeted = false;
    if (m_eSecurity == ESmtpSecurity::None)
    {
        // A server that does not understand EHLO says so and stays in step for HELO.
        if (m_bPlainEhlo)
            bGreeted = Ehlo(strName);
        if (!bGreeted &&
            (!m_bPlainEhlo || m_nLastCode == CODE_UNKNOWN_COMMAND || m_nLastCode == CODE_NOT_IMPLEMENTED))
        {
            m_eStage = ESmtpStage::Helo;
            bGreeted = Send("HELO " + strName + "\r\n") && ReadReply(SMTP_REPLY_OK);
        }
    }
    else if (m_eSecurity == ESmtpSecurity::Tls)
        bGreeted = Ehlo(strName);
    else if (Ehlo(strName))
    {
        // RFC 3207: without the offer there is no protected way on; nothing more is said.
        if (!m_extensions.m_bStartTls)
            m_strError = NO_STARTTLS;
        else
        {
            m_eStage = ESmtpStage::StartTls;
            if (Send("STARTTLS\r\n") && ReceiveReply() >= 0)
            {
                if (m_nLastCode != CODE_READY)
                    SetReplyError(m_nLastCode, STARTTLS_REFUSED);
                else
                {
                    // RFC 3207 4.2 and 5: what was learnt before TLS, the offers included, is
                    // forgotten, and bytes that came after the reply were not protected: an
                    // attacker may have put them there, so they are dropped unread.
                    m_strPending.clear();
                    m_extensions = {};
                    bGreeted = StartTls(address->m_strHost) && Ehlo(strName);
                }
            }
        }
    }
    if (bGreeted && bSignIn)
        bGreeted = Authenticate();
    if (!bGreeted)
    {
        CloseConnection();
        return false;
    }
    m_bConnected = true;
    m_eStage = ESmtpStage::Ready;
    return true;
}

bool CSmtpLink::StartTls(const std::string& strHost)
{
    m_eStage = ESmtpStage::StartTls;
    m_pTls = std::make_unique<platform::CTlsConnection>(std::move(m_socket), m_pCancel);
    const platform::STlsResult result = m_pTls->Handshake(strHost, m_timeouts.m_durTlsHandshake);
    if (result.m_eStatus == platform::ETlsStatus::Established)
        return true;
    if (result.m_eStatus == platform::ETlsStatus::Cancelled)
    {
        m_eCancel = ESmtpCancel::BeforeEndOfData;
        m_strError = CANCELLED_BEFORE;
    }
    else
        m_strError = TLS_FAILED + result.m_strDetail;
    m_eStage = ESmtpStage::Broken;
    return false;
}

bool CSmtpLink::Ehlo(const std::string& strName)
{
    m_eStage = ESmtpStage::Helo;
    if (!Send("EHLO " + strName + "\r\n") || ReceiveReply() < 0)
        return false;
    const int nCode = m_nLastCode;
    if (nCode != CODE_OK)
    {
        // A server that knows only HELO could go on in plain text, which is not wanted here.
        SetReplyError(nCode, nCode == CODE_UNKNOWN_COMMAND || nCode == CODE_NOT_IMPLEMENTED ? NO_EHLO
                                                                                            : EHLO_REFUSED);
        return false;
    }
    m_extensions = ParseEhloReply(m_strLastReply);
    return true;
}

bool CSmtpLink::Authenticate()
{
    m_eStage = ESmtpStage::Auth;
    bool bResult = false;
    if (!m_extensions.m_bAuth)
        m_strError = NO_AUTH;
    else if (m_extensions.OffersMechanism("PLAIN"))
    {
        // RFC 4616: authorisation identity (empty), user name and password, NUL between them.
        std::string strToken = '\0' + m_strUser + '\0' + m_strPassword;
        std::string strLine = "AUTH PLAIN " + Base64(strToken) + "\r\n";
        platform::WipeSecret(strToken);
        bResult = Send(strLine) && ReceiveReply() >= 0;
        platform::WipeSecret(strLine);
    }
    else if (m_extensions.OffersMechanism("LOGIN"))
    {
        // The server asks for the user name and then the password (334), each sent in Base64;
        // a reply other than 334 on the way is judged below like the last one.
        std::string aSteps[] = {"AUTH LOGIN\r\n", Base64(m_strUser) + "\r\n", Base64(m_strPassword) + "\r\n"};
        bResult = true;
        for (const std::string& strStep : aSteps)
        {
            if (!Send(strStep) || ReceiveReply() < 0)
            {
                bResult = false;
                break;
            }
            if (m_nLastCode != CODE_AUTH_CONTINUE)
                break;
        }
        for (std::string& strStep : aSteps)
            platform::WipeSecret(strStep);
    }
    else
        m_strError = NO_MECHANISM;
    // The password is needed once per connection; it does not stay in memory after.
    WipeCredentials();
    m_bCredentialsSpent = true;
    if (!bResult)
        return false;

    const int nCode = m_nLastCode;
    switch (nCode)
    {
    case CODE_AUTH_OK:
        return true;
    case CODE_BAD_CREDENTIALS:
        SetReplyError(nCode, AUTH_REFUSED);
        m_bCredentialsRefused = true;
        break;
    case CODE_AUTH_REQUIRED:
    case CODE_ENCRYPTION_NEEDED:
        SetReplyError(nCode, AUTH_NEEDS_ENCRYPTION);
        break;
    case CODE_AUTH_TOO_WEAK:
        SetReplyError(nCode, AUTH_TOO_WEAK);
        break;
    case CODE_AUTH_TEMPORARY:
        SetReplyError(nCode, AUTH_TEMPORARY);
        break;
    default:
        SetReplyError(nCode, AUTH_FAILED);
        break;
    }
    return false;
}

bool CSmtpLink::SendMail(CPlainMail& message)
{
    if (!m_bConnected)
    {
        m_strError = MUST_BE_CONNECTED;
        return false;
    }
    m_strDataReply.clear();
    m_nDataBytes = 0;
    m_aDataMarks.clear();
    m_bDataAcknowledged = false;
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

    // RFC 1870: a server that names a limit would refuse a larger message only after taking all
    // of it, so it is checked first. The size counted is that of the data as sent, doubled dots
    // included: at worst a few bytes more than the server will count, never fewer.
    const std::string strBody = StuffDots(message);
    const std::uint64_t nSize = message.GetHeader().size() + strBody.size() + 2;
    if (m_extensions.m_bSize && m_extensions.m_nSizeLimit != 0 && nSize > m_extensions.m_nSizeLimit)
    {
        m_strError = SizeLimitText(nSize, m_extensions.m_nSizeLimit);
        return false;
    }
    std::string strMail = "MAIL From: <" + message.m_strFrom + ">";
    if (m_extensions.m_bSize)
        strMail += " SIZE=" + std::to_string(nSize);

    m_eStage = ESmtpStage::MailFrom;
    if (!Send(strMail + "\r\n") || !ReadReply(SMTP_REPLY_OK))
        return false;

    int nAccepted = 0;
    for (int i = 0; i < message.GetRecipientCount(); ++i)
    {
        std::string strAddress;
        std::string strName;
        message.GetRecipient(i, strAddress, strName);
        m_eStage = ESmtpStage::RcptTo;
        if (!Send("RCPT TO: <" + strAddress + ">\r\n"))
            return false;
        // A refused recipient stays in m_strError but does not stop the others; a lost connection does.
        // A 251 ("will forward") leaves its text too, but the server has taken the recipient.
        if (!ReadReply(SMTP_REPLY_OK) && m_eStage == ESmtpStage::Broken)
            return false;
        if (m_nLastCode / 100 == 2)
            ++nAccepted;
    }
    // With every recipient refused, nothing would go anywhere: a conforming server refuses DATA
    // ("need RCPT"), hiding the reason for the refusal that m_strError still holds, and one that
    // took it would make the send look done.
    if (nAccepted == 0)
        return false;

    m_eStage = ESmtpStage::Data;
    if (!Send("DATA\r\n") || !ReadReply(SMTP_REPLY_DATA))
        return false;

    m_eStage = ESmtpStage::Content;
    if (!SendContent(message.GetHeader(), strBody))
        return false;

    m_eStage = ESmtpStage::EndOfData;
    if (!ReadReply(SMTP_REPLY_OK))
        return false;
    m_strDataReply = WholeReplyText(m_strLastReply);
    m_nDataBytes = nSize;
    return true;
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
    const platform::ESocketStatus eStatus = Stream().SendAll(text, m_timeouts.m_durSend);
    if (eStatus != platform::ESocketStatus::Ok)
    {
        StreamFailed(eStatus);
        return false;
    }
    return true;
}

bool CSmtpLink::SendContent(std::string_view header, std::string_view body)
{
    const std::string_view aPieces[] = {header, body, END_OF_DATA};
    m_nDataTotal = header.size() + body.size() + END_OF_DATA.size();
    m_aDataMarks.assign(1, SDataMark{0, Stream().BytesWritten()});
    m_nDataReported = 0;
    m_bDataAcknowledged = false;
    std::uint64_t nSent = 0;
    for (std::string_view piece : aPieces)
    {
        while (!piece.empty())
        {
            const std::string_view slice = piece.substr(0, PROGRESS_STEP_BYTES);
            if (!Send(slice))
                return false;
            piece.remove_prefix(slice.size());
            nSent += slice.size();
            m_aDataMarks.push_back(SDataMark{nSent, Stream().BytesWritten()});
            // A short header and a short last slice are reported with the slice after them.
            if (slice.size() == PROGRESS_STEP_BYTES || nSent == m_nDataTotal)
                ReportProgress(true);
        }
    }
    return true;
}

std::uint64_t CSmtpLink::DataAcknowledged() const
{
    if (m_aDataMarks.empty())
        return 0;
    const std::uint64_t nAcknowledged = Stream().BytesAcknowledged();
    // The first slice that the server has not acknowledged whole.
    const auto pSlice = std::upper_bound(m_aDataMarks.begin(), m_aDataMarks.end(), nAcknowledged,
                                         [](std::uint64_t nBytes, const SDataMark& mark)
                                         { return nBytes < mark.m_nWritten; });
    if (pSlice == m_aDataMarks.end())
        return m_aDataMarks.back().m_nData;
    if (pSlice == m_aDataMarks.begin())
        return 0;
    // Within the slice, its share of the bytes written: TLS records spread their overhead evenly
    // enough, and the share stays below the slice's end until all of it is acknowledged.
    const SDataMark& start = *(pSlice - 1);
    return start.m_nData + (nAcknowledged - start.m_nWritten) * (pSlice->m_nData - start.m_nData) /
                               (pSlice->m_nWritten - start.m_nWritten);
}

bool CSmtpLink::EndOfDataAcknowledged()
{
    // Acknowledged bytes stay acknowledged; the marks are whole once the end has been written.
    if (!m_bDataAcknowledged && !m_aDataMarks.empty() && m_aDataMarks.back().m_nData == m_nDataTotal)
        m_bDataAcknowledged = DataAcknowledged() == m_nDataTotal;
    return m_bDataAcknowledged;
}

void CSmtpLink::ReportProgress(bool bAlways)
{
    const std::uint64_t nAcknowledged = EndOfDataAcknowledged() ? m_nDataTotal : DataAcknowledged();
    if (m_fnProgress && (bAlways || nAcknowledged != m_nDataReported))
    {
        m_nDataReported = nAcknowledged;
        m_fnProgress(nAcknowledged, m_nDataTotal);
    }
}

void CSmtpLink::StreamFailed(platform::ESocketStatus eStatus)
{
    // Until the server has acknowledged the end of the data, the kernel may still hold some of
    // it: a reset drops that, so that the server never takes the message once it is given up.
    // From then on the message may be delivered whatever happens now.
    const bool bDataPending =
        m_eStage == ESmtpStage::Content || (m_eStage == ESmtpStage::EndOfData && !EndOfDataAcknowledged());
    if (eStatus == platform::ESocketStatus::Cancelled)
    {
        const bool bAfter = m_eStage == ESmtpStage::EndOfData && !bDataPending;
        m_eCancel = bAfter ? ESmtpCancel::AfterEndOfData : ESmtpCancel::BeforeEndOfData;
        m_strError = bAfter ? CANCELLED_AFTER : CANCELLED_BEFORE;
    }
    else if (eStatus == platform::ESocketStatus::Closed && bDataPending && m_eSecurity != ESmtpSecurity::None)
        m_strError = CLOSED_DURING_DATA; // the plain dialogue keeps its own text
    else
        m_strError = SOCKET_ERROR;
    if (bDataPending)
        Stream().Abort();
    else if (eStatus == platform::ESocketStatus::Cancelled)
    {
        // Cancel ends the connection now, not at Disconnect.
        if (m_pTls)
            m_pTls->Close();
        m_socket.Close();
    }
    m_eStage = ESmtpStage::Broken;
}

void CSmtpLink::SetReplyError(int nCode, const char* pszText)
{
    char text[256];
    std::snprintf(text, sizeof(text), "%d:%s", nCode, pszText);
    m_strError = text;
    m_strServerReply = PrintableReplyText(m_strLastReply);
}

int CSmtpLink::ReceiveReply()
{
    m_strLastReply.clear();
    m_nLastCode = -1;
    // Not connected: nothing is out of step.
    if (!m_pReplyBuffer || !Stream().IsOpen())
    {
        m_strError = SOCKET_ERROR;
        return -1;
    }
    using Clock = platform::CTcpSocket::Clock;
    const auto deadline = Clock::now() + ReplyLimit();
    SSmtpReply reply = ParseSmtpReply(m_strPending);
    while (reply.m_eStatus == EReplyStatus::Incomplete)
    {
        // Until the server has acknowledged the end of the data, the wait for its reply breaks off
        // now and then to report how much it has.
        const bool bWatchData = m_eStage == ESmtpStage::EndOfData && !EndOfDataAcknowledged();
        const auto until = bWatchData ? std::min(deadline, Clock::now() + PROGRESS_POLL_INTERVAL) : deadline;
        std::size_t nReceived = 0;
        // A time-out or a closed connection fails the step like any receive error.
        const platform::ESocketStatus eStatus =
            Stream().Receive(m_pReplyBuffer.get(), REPLY_BUFFER_BYTES, nReceived, until);
        if (eStatus == platform::ESocketStatus::TimedOut && until < deadline)
        {
            ReportProgress(false);
            continue;
        }
        if (eStatus != platform::ESocketStatus::Ok)
        {
            StreamFailed(eStatus);
            return -1;
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
        return -1;
    }
    // A reply to the data comes once the server has read all of it.
    if (m_eStage == ESmtpStage::EndOfData)
        ReportProgress(false);
    // Whatever came after this reply belongs to the next one.
    m_strLastReply = m_strPending.substr(0, reply.m_nLength);
    m_strPending.erase(0, reply.m_nLength);
    m_nLastCode = reply.m_nCode;
    return m_nLastCode;
}

bool CSmtpLink::ReadReply(int nExpected)
{
    if (nExpected < 0 || nExpected > SMTP_REPLY_QUIT)
    {
        m_strError = SOCKET_ERROR;
        return false;
    }
    if (ReceiveReply() < 0)
        return false;
    const SExpectedReply& expected = EXPECTED_REPLIES[nExpected];
    if (m_nLastCode == expected.m_nCode)
        return true;
    SetReplyError(m_nLastCode, expected.m_pszFailure);
    return false;
}

std::string SizeLimitText(std::uint64_t nSize, std::uint64_t nLimit)
{
    std::string strSize = platform::ByteSizeText(nSize);
    std::string strLimit = platform::ByteSizeText(nLimit);
    // Sizes that round alike would read as no reason at all: then the bytes say it.
    if (strSize == strLimit)
    {
        strSize = std::to_string(nSize) + " bytes";
        strLimit = std::to_string(nLimit) + " bytes";
    }
    return "The message is " + strSize + "; the SMTP server takes at most " + strLimit;
}

std::uint64_t CSmtpLink::DataSize(const CPlainMail& message) const
{
    return message.GetHeader().size() + StuffDots(message).size() + 2;
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
