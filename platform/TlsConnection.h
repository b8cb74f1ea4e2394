#pragma once

#include "platform/ByteStream.h"
#include "platform/TcpSocket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;
struct x509_st;
struct x509_store_ctx_st;

namespace platform
{

class CCancelSignal;

// How a TLS handshake ended, in the kinds that a message to the user tells apart.
enum class ETlsStatus
{
    Established,
    CannotConnectSecurely, // no common protocol version or cipher, no TLS on that port, a broken handshake
    CertificateNotTrusted, // its chain leads to no trusted authority (self-signed, unknown issuer, ...)
    CertificateForAnotherHost,
    CertificateExpired,
    CertificateNotYetValid, // most often this computer's clock is wrong
    PeerClosed,             // the server ended the connection in the middle of the handshake
    TimedOut,
    Cancelled,
    Failed, // a failure here: no connected socket, no memory, an unusable host name
};

struct STlsResult
{
    ETlsStatus m_eStatus = ETlsStatus::Failed;
    // What went wrong in a short sentence of printable ASCII and, when the server presented a
    // certificate that was refused, what it names: the certificate's first subject alternative
    // name (else its common name), its issuer and the end of its validity. Every piece that
    // comes from the server is filtered and cut to a bounded length, so the text is safe to
    // show, log or put into a protocol line. Empty when established.
    std::string m_strDetail;
};

// A TLS client session (OpenSSL; TLS 1.2 or newer) over a connected TCP socket, which it takes
// over: closing the session closes the socket. The server's certificate must lead to an
// authority in the system's trust store (OpenSSL's default paths, which honour SSL_CERT_FILE
// and SSL_CERT_DIR) and name the host that was asked for. As with the socket, every wait is
// bounded (the handshake by its limit, each send by an idle limit, each receive by a deadline),
// a peer that has gone away makes the call fail without raising SIGPIPE, and a cancel signal,
// if given, ends any wait at once.
class CTlsConnection : public CByteStream
{
public:
    // pCancel, if given, must outlive this object.
    explicit CTlsConnection(CTcpSocket&& socket, const CCancelSignal* pCancel = nullptr);
    CTlsConnection(const CTlsConnection&) = delete;
    CTlsConnection& operator=(const CTlsConnection&) = delete;
    ~CTlsConnection() override;

    // Runs the client handshake for strHost, the name (or IPv4 / IPv6 address, unbracketed)
    // that the user gave for the server: a name is sent as SNI and must match the certificate's
    // DNS names, an address must match its IP addresses. Anything but Established closes the
    // connection. Once only.
    [[nodiscard]] STlsResult Handshake(const std::string& strHost, std::chrono::milliseconds limit);

    [[nodiscard]] ESocketStatus SendAll(std::string_view data, std::chrono::milliseconds idleLimit) override;
    [[nodiscard]] ESocketStatus Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                        Clock::time_point deadline) override;

    // Counted on the socket underneath, from its start: records and their overhead, the
    // handshake, and whatever went in plain text before it.
    std::uint64_t BytesWritten() const override { return m_transport.m_nWritten; }
    std::uint64_t BytesAcknowledged() const override;

    // True from a successful handshake until Close() or a failure that ends the session.
    bool IsOpen() const override;
    // Sends the closing alert if the session is sound (one try, no waiting) and closes the socket.
    void Close() override;
    void Abort() override;

    // The negotiated protocol ("TLSv1.3") once established; empty before.
    std::string ProtocolVersion() const;
    // The socket underneath, for its local address.
    const CTcpSocket& Socket() const { return m_socket; }

    // Where the session's record layer reads and writes; used by the socket glue in the source.
    struct STransport
    {
        int m_fd = -1;
        int m_nErrno = 0;             // the last error of a read or write other than "would block"
        bool m_bEof = false;          // the peer has closed its side
        std::uint64_t m_nWritten = 0; // every byte written to the socket, before TLS too
    };

private:
    struct SSslDeleter
    {
        void operator()(ssl_st* pSsl) const;
        void operator()(ssl_ctx_st* pContext) const;
        void operator()(x509_st* pCertificate) const;
    };

    static int VerifyCallback(int nPreverifyOk, x509_store_ctx_st* pStore);

    // A failure, or none when the session is ready for its handshake.
    std::optional<STlsResult> SetUp(const std::string& strHost);
    STlsResult HandshakeFailure(int nSslError, const std::string& strHost) const;
    // Waits for the socket to be ready for what the last call said it wants (SSL_ERROR_WANT_READ
    // or _WRITE), for the deadline, or for the cancel signal: Ok, TimedOut, Cancelled or Failed.
    ESocketStatus WaitFor(int nSslError, Clock::time_point deadline) const;
    bool IsCancelled() const;
    bool PeerHasGone() const;

    CTcpSocket m_socket;
    const CCancelSignal* m_pCancel = nullptr;
    STransport m_transport;
    std::unique_ptr<ssl_ctx_st, SSslDeleter> m_pContext;
    std::unique_ptr<ssl_st, SSslDeleter> m_pSsl;
    // The server's own certificate as the verifier saw it, kept to describe a refusal.
    std::unique_ptr<x509_st, SSslDeleter> m_pPresented;
    bool m_bStarted = false;
    bool m_bEstablished = false;
    // A fatal error, or a send cut short: the session must not be used again, not even for
    // its closing alert.
    bool m_bBroken = false;
};

} // namespace platform
