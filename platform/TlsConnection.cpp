#include "platform/TlsConnection.h"

#include "platform/CancelSignal.h"
#include "platform/Text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

namespace platform
{

namespace
{

using std::chrono::milliseconds;

// The longest piece of certificate text (a name, an issuer) that goes into a message.
constexpr std::size_t CERTIFICATE_TEXT_MAX = 64;

std::string Asn1Text(const ASN1_STRING* pText)
{
    unsigned char* pUtf8 = nullptr;
    const int nLength = ::ASN1_STRING_to_UTF8(&pUtf8, pText);
    if (nLength < 0)
        return "?";
    std::string strText = PrintableText(
        std::string_view(reinterpret_cast<const char*>(pUtf8), static_cast<std::size_t>(nLength)),
        CERTIFICATE_TEXT_MAX);
    ::OPENSSL_free(pUtf8);
    return strText;
}

std::string NameEntry(const X509_NAME* pName, int nNid)
{
    const int nIndex = ::X509_NAME_get_index_by_NID(pName, nNid, -1);
    if (nIndex < 0)
        return {};
    return Asn1Text(::X509_NAME_ENTRY_get_data(::X509_NAME_get_entry(pName, nIndex)));
}

std::string IpAddressText(const ASN1_OCTET_STRING* pAddress)
{
    char text[INET6_ADDRSTRLEN] = {};
    const int nLength = ::ASN1_STRING_length(pAddress);
    const int nFamily = nLength == 4 ? AF_INET : nLength == 16 ? AF_INET6 : AF_UNSPEC;
    if (nFamily == AF_UNSPEC ||
        ::inet_ntop(nFamily, ::ASN1_STRING_get0_data(pAddress), text, sizeof(text)) == nullptr)
        return "?";
    return text;
}

// The first DNS name or IP address among the subject alternative names, which are what a
// client checks the host against; empty if there is none.
std::string FirstAltName(const X509* pCertificate)
{
    auto* pNames =
        static_cast<GENERAL_NAMES*>(::X509_get_ext_d2i(pCertificate, NID_subject_alt_name, nullptr, nullptr));
    if (pNames == nullptr)
        return {};
    std::string strName;
    for (int i = 0; i < sk_GENERAL_NAME_num(pNames) && strName.empty(); ++i)
    {
        const GENERAL_NAME* pName = sk_GENERAL_NAME_value(pNames, i);
        if (pName->type == GEN_DNS)
            strName = Asn1Text(pName->d.dNSName);
        else if (pName->type == GEN_IPADD)
            strName = IpAddressText(pName->d.iPAddress);
    }
    ::GENERAL_NAMES_free(pNames);
    return strName;
}

std::string TimeText(const ASN1_TIME* pTime)
{
    std::tm when = {};
    char text[32] = {};
    if (::ASN1_TIME_to_tm(pTime, &when) != 1 ||
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M UTC", &when) == 0)
        return "?";
    return text;
}

// The start of the validity is named only where it is the point.
enum class EValidity
{
    End,
    StartAndEnd,
};

std::string DescribeCertificate(const X509* pCertificate, EValidity eValidity)
{
    std::string strName = FirstAltName(pCertificate);
    if (strName.empty())
        strName = NameEntry(::X509_get_subject_name(pCertificate), NID_commonName);
    const X509_NAME* pIssuer = ::X509_get_issuer_name(pCertificate);
    std::string strIssuer = NameEntry(pIssuer, NID_commonName);
    if (strIssuer.empty())
        strIssuer = NameEntry(pIssuer, NID_organizationName);
    return "the server presented a certificate for " + (strName.empty() ? "no name" : strName) +
           ", issued by " + (strIssuer.empty() ? "no name" : strIssuer) + ", valid " +
           (eValidity == EValidity::StartAndEnd
                ? "from " + TimeText(::X509_get0_notBefore(pCertificate)) + " "
                : "") +
           "until " + TimeText(::X509_get0_notAfter(pCertificate));
}

bool IsAddressLiteral(const std::string& strHost)
{
    unsigned char address[sizeof(in6_addr)] = {};
    return ::inet_pton(AF_INET, strHost.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, strHost.c_str(), address) == 1;
}

// The session's record layer reads and writes the socket through this small BIO instead of
// OpenSSL's socket BIO, whose write() would raise SIGPIPE on a connection the peer has reset.
CTlsConnection::STransport* TransportOf(BIO* pBio)
{
    return static_cast<CTlsConnection::STransport*>(::BIO_get_data(pBio));
}

int TransportWrite(BIO* pBio, const char* pData, int nLength)
{
    CTlsConnection::STransport* pTransport = TransportOf(pBio);
    BIO_clear_retry_flags(pBio);
    for (;;)
    {
        const ssize_t nSent =
            ::send(pTransport->m_fd, pData, static_cast<std::size_t>(nLength), MSG_NOSIGNAL);
        if (nSent >= 0)
        {
            pTransport->m_nWritten += static_cast<std::uint64_t>(nSent);
            return static_cast<int>(nSent);
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(pBio);
        else
            pTransport->m_nErrno = errno;
        return -1;
    }
}

int TransportRead(BIO* pBio, char* pData, int nLength)
{
    CTlsConnection::STransport* pTransport = TransportOf(pBio);
    BIO_clear_retry_flags(pBio);
    if (pData == nullptr || nLength <= 0)
        return 0;
    for (;;)
    {
        const ssize_t nGot = ::recv(pTransport->m_fd, pData, static_cast<std::size_t>(nLength), 0);
        if (nGot > 0)
            return static_cast<int>(nGot);
        if (nGot == 0)
        {
            pTransport->m_bEof = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(pBio);
        else
            pTransport->m_nErrno = errno;
        return -1;
    }
}

long TransportControl(BIO* pBio, int nCommand, long /*nArgument*/, void* /*pArgument*/)
{
    switch (nCommand)
    {
    case BIO_CTRL_FLUSH:
        return 1; // nothing is buffered here
    case BIO_CTRL_EOF:
        return TransportOf(pBio)->m_bEof ? 1 : 0; // lets OpenSSL tell an unexpected end from other errors
    default:
        return 0;
    }
}

BIO_METHOD* TransportMethod()
{
    static BIO_METHOD* const pMethod = []() -> BIO_METHOD*
    {
        const int nIndex = ::BIO_get_new_index();
        BIO_METHOD* pNew =
            nIndex < 0 ? nullptr : ::BIO_meth_new(nIndex | BIO_TYPE_SOURCE_SINK, "vellum socket");
        if (pNew != nullptr && (::BIO_meth_set_write(pNew, TransportWrite) != 1 ||
                                ::BIO_meth_set_read(pNew, TransportRead) != 1 ||
                                ::BIO_meth_set_ctrl(pNew, TransportControl) != 1))
        {
            ::BIO_meth_free(pNew);
            pNew = nullptr;
        }
        return pNew;
    }();
    return pMethod;
}

// The reason code of the oldest error in this thread's OpenSSL queue (the cause; later ones
// follow from it), or 0.
int FirstErrorReason()
{
    const unsigned long nCode = ::ERR_peek_error();
    return nCode == 0 ? 0 : ERR_GET_REASON(nCode);
}

STlsResult Refusal(ETlsStatus eStatus, std::string strDetail)
{
    return {eStatus, std::move(strDetail)};
}

// True when the folder holds a certificate under the name OpenSSL looks it up by: the hash of
// its subject, a dot and a number ("9d6523ce.0").
bool HoldsHashedCertificates(const std::filesystem::path& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    {
        const std::string strName = entry.path().filename().string();
        if (strName.size() > 9 && strName[8] == '.' && strName.find_first_not_of("0123456789abcdef") == 8 &&
            strName.find_first_not_of("0123456789", 9) == std::string::npos)
            return true;
    }
    return false;
}

// True when the system's certificate folder is one of those read, and holds hashed certificates.
bool ReadsTheSystemFolder(const std::string& strFolders)
{
    const std::filesystem::path systemFolder = ::X509_get_default_cert_dir();
    std::size_t nStart = 0;
    while (nStart <= strFolders.size())
    {
        const std::size_t nEnd = std::min(strFolders.find(':', nStart), strFolders.size());
        std::error_code error;
        if (nEnd > nStart &&
            std::filesystem::equivalent(strFolders.substr(nStart, nEnd - nStart), systemFolder, error))
            return HoldsHashedCertificates(systemFolder);
        nStart = nEnd + 1;
    }
    return false;
}

// The authorities of OpenSSL's default paths: the file SSL_CERT_FILE and the folders SSL_CERT_DIR
// when set, the system's file and folder otherwise. A folder costs nothing up front: it is
// searched by name hash for the one authority a certificate needs. A file is read whole, and
// OpenSSL 3 takes tens of milliseconds for a system bundle of some 140 authorities, at every
// connection. The system's folder holds the same authorities as its file (Debian's
// update-ca-certificates writes both), so where that folder is read the system's file is left
// out; a file that SSL_CERT_FILE names is always read. False when no lookup can be set up.
bool LoadTrustedAuthorities(SSL_CTX* pContext)
{
    X509_STORE* pStore = ::SSL_CTX_get_cert_store(pContext);
    X509_LOOKUP* pFolders = ::X509_STORE_add_lookup(pStore, ::X509_LOOKUP_hash_dir());
    if (pFolders == nullptr)
        return false;
    // A folder or file that is not there is no error here, as with OpenSSL's own defaults: a
    // certificate it would have vouched for is then not trusted.
    (void)::X509_LOOKUP_add_dir(pFolders, nullptr, X509_FILETYPE_DEFAULT);
    const char* pszFile = std::getenv(::X509_get_default_cert_file_env());
    const char* pszFolders = std::getenv(::X509_get_default_cert_dir_env());
    if (pszFile != nullptr || !ReadsTheSystemFolder(pszFolders ? pszFolders : ::X509_get_default_cert_dir()))
    {
        X509_LOOKUP* pFile = ::X509_STORE_add_lookup(pStore, ::X509_LOOKUP_file());
        if (pFile == nullptr)
            return false;
        (void)::X509_LOOKUP_load_file(pFile, nullptr, X509_FILETYPE_DEFAULT);
    }
    ::ERR_clear_error();
    return true;
}

} // namespace

void CTlsConnection::SSslDeleter::operator()(ssl_st* pSsl) const
{
    ::SSL_free(pSsl);
}
void CTlsConnection::SSslDeleter::operator()(ssl_ctx_st* pContext) const
{
    ::SSL_CTX_free(pContext);
}
void CTlsConnection::SSslDeleter::operator()(x509_st* pCertificate) const
{
    ::X509_free(pCertificate);
}

CTlsConnection::CTlsConnection(CTcpSocket&& socket, const CCancelSignal* pCancel)
    : m_socket(std::move(socket)), m_pCancel(pCancel)
{
    m_transport.m_fd = m_socket.Descriptor();
    m_transport.m_nWritten = m_socket.BytesWritten();
}

CTlsConnection::~CTlsConnection()
{
    Close();
}

bool CTlsConnection::IsOpen() const
{
    return m_bEstablished && !m_bBroken && m_socket.IsOpen();
}

void CTlsConnection::Close()
{
    if (m_pSsl && m_bEstablished && !m_bBroken)
    {
        // RFC 8446 6.1: the closing alert tells the server that nothing was cut off. One try
        // only: a server that does not take it at once gets the connection's end instead.
        ::ERR_clear_error();
        ::SSL_shutdown(m_pSsl.get());
    }
    ::ERR_clear_error();
    m_pSsl.reset();
    m_pContext.reset();
    m_pPresented.reset();
    m_bEstablished = false;
    m_socket.Close();
    m_transport.m_fd = -1;
}

void CTlsConnection::Abort()
{
    m_bBroken = true;
    m_socket.Abort();
    Close();
}

std::uint64_t CTlsConnection::BytesAcknowledged() const
{
    // The socket's send queue holds records as this session wrote them.
    const std::uint64_t nWritten = m_transport.m_nWritten;
    return nWritten - std::min(nWritten, m_socket.BytesQueued());
}

std::string CTlsConnection::ProtocolVersion() const
{
    return m_bEstablished && m_pSsl ? ::SSL_get_version(m_pSsl.get()) : "";
}

bool CTlsConnection::IsCancelled() const
{
    return m_pCancel != nullptr && m_pCancel->IsRaised();
}

bool CTlsConnection::PeerHasGone() const
{
    const int nErrno = m_transport.m_nErrno;
    return m_transport.m_bEof || nErrno == ECONNRESET || nErrno == EPIPE || nErrno == ECONNABORTED;
}

int CTlsConnection::VerifyCallback(int nPreverifyOk, x509_store_ctx_st* pStore)
{
    // Only to keep the server's own certificate for the message that explains a refusal: the
    // verifier's verdict stands as it is. On a refusal OpenSSL keeps no peer certificate.
    auto* pSsl =
        static_cast<SSL*>(::X509_STORE_CTX_get_ex_data(pStore, ::SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* pThis = pSsl != nullptr ? static_cast<CTlsConnection*>(SSL_get_app_data(pSsl)) : nullptr;
    X509* pLeaf = ::X509_STORE_CTX_get0_cert(pStore);
    if (pThis != nullptr && !pThis->m_pPresented && pLeaf != nullptr && ::X509_up_ref(pLeaf) == 1)
        pThis->m_pPresented.reset(pLeaf);
    return nPreverifyOk;
}

std::optional<STlsResult> CTlsConnection::SetUp(const std::string& strHost)
{
    if (!m_socket.IsOpen())
        return Refusal(ETlsStatus::Failed, "there is no connection to secure");
    if (strHost.empty() || strHost.find('\0') != std::string::npos)
        return Refusal(ETlsStatus::Failed, "there is no server name to check the certificate against");

    m_pContext.reset(::SSL_CTX_new(::TLS_client_method()));
    SSL_CTX* pContext = m_pContext.get();
    if (pContext == nullptr || ::SSL_CTX_set_min_proto_version(pContext, TLS1_2_VERSION) != 1)
        return Refusal(ETlsStatus::Failed, "TLS could not be set up (out of memory?)");
    // Reads SSL_CERT_FILE and SSL_CERT_DIR when set, the system's store otherwise.
    if (!LoadTrustedAuthorities(pContext))
        return Refusal(ETlsStatus::Failed, "the system's trusted certificates could not be loaded");
    ::SSL_CTX_set_verify(pContext, SSL_VERIFY_PEER, &CTlsConnection::VerifyCallback);
    // A mail server has no reason to renegotiate, and refusing keeps the session's states few.
    ::SSL_CTX_set_options(pContext, SSL_OP_NO_RENEGOTIATION);
    // SendAll hands over what is left of its data after each partial write.
    ::SSL_CTX_set_mode(pContext, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    m_pSsl.reset(::SSL_new(pContext));
    BIO_METHOD* pMethod = TransportMethod();
    BIO* pBio = (m_pSsl && pMethod != nullptr) ? ::BIO_new(pMethod) : nullptr;
    if (pBio == nullptr)
        return Refusal(ETlsStatus::Failed, "TLS could not be set up (out of memory?)");
    ::BIO_set_data(pBio, &m_transport);
    ::BIO_set_init(pBio, 1);
    SSL* pSsl = m_pSsl.get();
    ::SSL_set_bio(pSsl, pBio, pBio);
    SSL_set_app_data(pSsl, this);

    bool bNamed = false;
    if (IsAddressLiteral(strHost))
    {
        // RFC 6066 3: an address is never sent as the server name; it must be among the
        // certificate's IP addresses.
        bNamed = ::X509_VERIFY_PARAM_set1_ip_asc(::SSL_get0_param(pSsl), strHost.c_str()) == 1;
    }
    else
    {
        ::SSL_set_hostflags(pSsl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        bNamed = ::SSL_set1_host(pSsl, strHost.c_str()) == 1 &&
                 SSL_set_tlsext_host_name(pSsl, strHost.c_str()) == 1;
    }
    if (!bNamed)
        return Refusal(ETlsStatus::Failed, "the server name " + PrintableText(strHost, CERTIFICATE_TEXT_MAX) +
                                               " cannot be checked against a certificate");
    ::SSL_set_connect_state(pSsl);
    return std::nullopt;
}

STlsResult CTlsConnection::HandshakeFailure(int nSslError, const std::string& strHost) const
{
    const long nVerify = ::SSL_get_verify_result(m_pSsl.get());
    if (m_pPresented && nVerify != X509_V_OK)
    {
        const std::string strPresented =
            "; " + DescribeCertificate(m_pPresented.get(), nVerify == X509_V_ERR_CERT_NOT_YET_VALID
                                                               ? EValidity::StartAndEnd
                                                               : EValidity::End);
        switch (nVerify)
        {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return Refusal(ETlsStatus::CertificateForAnotherHost,
                           "the server's certificate is not for " +
                               PrintableText(strHost, CERTIFICATE_TEXT_MAX) + strPresented);
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return Refusal(ETlsStatus::CertificateExpired,
                           "the server's certificate has expired" + strPresented);
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return Refusal(ETlsStatus::CertificateNotYetValid,
                           "the server's certificate is not valid yet (is this computer's clock right?)" +
                               strPresented);
        default:
            return Refusal(ETlsStatus::CertificateNotTrusted,
                           std::string("the server's certificate is not trusted (") +
                               ::X509_verify_cert_error_string(nVerify) + ")" + strPresented);
        }
    }

    const int nReason = FirstErrorReason();
    if (PeerHasGone() || nReason == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return Refusal(ETlsStatus::PeerClosed, "the server closed the connection during the TLS handshake");
    if (nSslError == SSL_ERROR_SYSCALL)
        return Refusal(
            ETlsStatus::CannotConnectSecurely,
            std::string("the connection failed during the TLS handshake (") +
                (m_transport.m_nErrno != 0 ? std::strerror(m_transport.m_nErrno) : "no reason given") + ")");
    switch (nReason)
    {
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_WRONG_SSL_VERSION:
        return Refusal(ETlsStatus::CannotConnectSecurely, "the server offers no TLS version from 1.2 on");
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
        // What a server sends that does not speak TLS on this port, a plain mail server's
        // greeting above all, is not a TLS record.
        return Refusal(ETlsStatus::CannotConnectSecurely, "the server does not answer in TLS on this port");
    default:
    {
        const char* pszReason = nReason != 0 ? ::ERR_reason_error_string(::ERR_peek_error()) : nullptr;
        return Refusal(ETlsStatus::CannotConnectSecurely,
                       std::string("the TLS handshake failed (") +
                           (pszReason != nullptr ? PrintableText(pszReason, 2 * CERTIFICATE_TEXT_MAX)
                                                 : std::string("no reason given")) +
                           ")");
    }
    }
}

STlsResult CTlsConnection::Handshake(const std::string& strHost, milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    if (m_bStarted)
        return Refusal(ETlsStatus::Failed, "this connection has had its TLS handshake already");
    m_bStarted = true;

    STlsResult result = {ETlsStatus::Established, {}};
    if (IsCancelled())
        result = Refusal(ETlsStatus::Cancelled, "the TLS handshake was cancelled");
    else if (auto failure = SetUp(strHost))
        result = std::move(*failure);
    while (result.m_eStatus == ETlsStatus::Established)
    {
        ::ERR_clear_error();
        const int nResult = ::SSL_connect(m_pSsl.get());
        if (nResult == 1)
        {
            m_bEstablished = true;
            return result;
        }
        const int nError = ::SSL_get_error(m_pSsl.get(), nResult);
        if (nError != SSL_ERROR_WANT_READ && nError != SSL_ERROR_WANT_WRITE)
        {
            result = HandshakeFailure(nError, strHost);
            break;
        }
        switch (WaitFor(nError, deadline))
        {
        case ESocketStatus::Ok:
            break;
        case ESocketStatus::TimedOut:
            result = Refusal(ETlsStatus::TimedOut, "the server did not complete the TLS handshake in time");
            break;
        case ESocketStatus::Cancelled:
            result = Refusal(ETlsStatus::Cancelled, "the TLS handshake was cancelled");
            break;
        case ESocketStatus::Closed:
        case ESocketStatus::Failed:
            result = Refusal(ETlsStatus::Failed,
                             std::string("waiting for the server failed (") + std::strerror(errno) + ")");
            break;
        }
    }
    m_bBroken = true;
    Close();
    return result;
}

ESocketStatus CTlsConnection::WaitFor(int nSslError, Clock::time_point deadline) const
{
    const short nEvents = nSslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    return WaitForDescriptor(m_transport.m_fd, nEvents, m_pCancel, deadline);
}

ESocketStatus CTlsConnection::SendAll(std::string_view data, milliseconds idleLimit)
{
    if (!IsOpen())
        return ESocketStatus::Failed;
    if (IsCancelled())
        return ESocketStatus::Cancelled;
    while (!data.empty())
    {
        ::ERR_clear_error();
        std::size_t nWritten = 0;
        const int nResult = ::SSL_write_ex(m_pSsl.get(), data.data(), data.size(), &nWritten);
        if (nResult == 1)
        {
            data.remove_prefix(nWritten);
            continue;
        }
        const int nError = ::SSL_get_error(m_pSsl.get(), nResult);
        // From here on a record may be half sent: the session cannot carry anything more.
        if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE)
        {
            const ESocketStatus eWait = WaitFor(nError, Clock::now() + idleLimit);
            if (eWait == ESocketStatus::Ok)
                continue;
            m_bBroken = true;
            return eWait;
        }
        m_bBroken = true;
        return (nError == SSL_ERROR_ZERO_RETURN || PeerHasGone()) ? ESocketStatus::Closed
                                                                  : ESocketStatus::Failed;
    }
    return ESocketStatus::Ok;
}

ESocketStatus CTlsConnection::Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                      Clock::time_point deadline)
{
    nReceived = 0;
    if (!IsOpen() || nCapacity == 0)
        return ESocketStatus::Failed;
    if (IsCancelled())
        return ESocketStatus::Cancelled;
    for (;;)
    {
        ::ERR_clear_error();
        const int nResult = ::SSL_read_ex(m_pSsl.get(), pBuffer, nCapacity, &nReceived);
        if (nResult == 1)
            return ESocketStatus::Ok;
        nReceived = 0;
        const int nError = ::SSL_get_error(m_pSsl.get(), nResult);
        if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE)
        {
            // A record that is only partly here stays buffered, so a later call can go on with it.
            switch (WaitFor(nError, deadline))
            {
            case ESocketStatus::Ok:
                continue;
            case ESocketStatus::TimedOut:
                return ESocketStatus::TimedOut;
            case ESocketStatus::Cancelled:
                return ESocketStatus::Cancelled;
            case ESocketStatus::Closed:
            case ESocketStatus::Failed:
                m_bBroken = true;
                return ESocketStatus::Failed;
            }
        }
        // The server's closing alert: the session itself is sound, and Close() answers it.
        if (nError == SSL_ERROR_ZERO_RETURN)
            return ESocketStatus::Closed;
        m_bBroken = true;
        return (PeerHasGone() || FirstErrorReason() == SSL_R_UNEXPECTED_EOF_WHILE_READING)
                   ? ESocketStatus::Closed
                   : ESocketStatus::Failed;
    }
}

} // namespace platform
