#include "platform/TlsConnection.h"

#include "platform/CancelSignal.h"
#include "platform/Process.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnusedPort.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform
{

// Names instead of bytes in the messages of failed expectations.
void PrintTo(ETlsStatus eStatus, std::ostream* pOut)
{
    constexpr const char* NAMES[] = {"Established",
                                     "CannotConnectSecurely",
                                     "CertificateNotTrusted",
                                     "CertificateForAnotherHost",
                                     "CertificateExpired",
                                     "CertificateNotYetValid",
                                     "PeerClosed",
                                     "TimedOut",
                                     "Cancelled",
                                     "Failed"};
    const auto nIndex = static_cast<std::size_t>(eStatus);
    *pOut << (nIndex < std::size(NAMES) ? NAMES[nIndex] : "?");
}

} // namespace platform

namespace
{

using namespace std::chrono_literals;
using platform::CByteStream;
using platform::CCancelSignal;
using platform::CTcpSocket;
using platform::CTlsConnection;
using platform::EConnectStatus;
using platform::ESocketStatus;
using platform::ETlsStatus;
using platform::STlsResult;

// Reads until nBytes have come or the descriptor ends or the limit passes.
std::string ReadBytes(int fd, std::size_t nBytes, std::chrono::milliseconds limit)
{
    const auto deadline = CByteStream::Clock::now() + limit;
    std::string strGot;
    char buffer[16384];
    while (strGot.size() < nBytes && CByteStream::Clock::now() < deadline)
    {
        pollfd pfd = {fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0)
            continue;
        const ssize_t nGot = ::read(fd, buffer, std::min(sizeof(buffer), nBytes - strGot.size()));
        if (nGot <= 0)
            break;
        strGot.append(buffer, static_cast<std::size_t>(nGot));
    }
    return strGot;
}

std::string Pattern(std::size_t nBytes, int nSeed)
{
    std::string strData(nBytes, '\0');
    for (std::size_t i = 0; i < nBytes; ++i)
        strData[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(nSeed)) % 251);
    return strData;
}

// What a message may show: printable ASCII, bounded.
bool IsSafeText(const std::string& strText)
{
    return strText.size() <= 400 &&
           std::all_of(strText.begin(), strText.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; });
}

// OpenSSL's own test server on 127.0.0.1 for one connection. What the client sends comes out of
// its standard output; what is written to its standard input goes to the client, and the end of
// that input makes it close the session.
class CTlsServer
{
public:
    CTlsServer(const std::filesystem::path& certs, const std::string& strLeaf,
               const std::vector<std::string>& aOptions = {})
    {
        int aFds[2] = {-1, -1};
        // A socket pair rather than a pipe: writing to a server that has gone fails quietly.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, aFds) != 0)
            return;
        m_inputFd = aFds[1];
        std::vector<std::string> aArgs = {"openssl",  "s_server",
                                          "-cert",    (certs / (strLeaf + ".pem")).string(),
                                          "-key",     (certs / (strLeaf + ".key")).string(),
                                          "-accept",  "127.0.0.1:" + std::to_string(m_nPort),
                                          "-naccept", "1",
                                          "-quiet",   "-no_ign_eof"};
        aArgs.insert(aArgs.end(), aOptions.begin(), aOptions.end());
        platform::SSpawnOptions options;
        options.m_eInput = platform::EChildStream::Descriptor;
        options.m_nInputFd = aFds[0];
        options.m_eOutput = platform::EChildStream::Pipe;
        options.m_eErrors = platform::EChildStream::Inherit; // its complaints land in the test's log
        m_bStarted = m_process.Start(aArgs, options);
        ::close(aFds[0]);
    }
    ~CTlsServer() { EndInput(); }

    // A TCP connection to the server, once it listens.
    std::optional<CTcpSocket> Connect()
    {
        const auto deadline = CByteStream::Clock::now() + 10s;
        while (m_bStarted && CByteStream::Clock::now() < deadline && !m_process.Poll())
        {
            CTcpSocket socket;
            if (socket.Connect("127.0.0.1", m_nPort, 5s) == EConnectStatus::Connected)
                return socket;
            std::this_thread::sleep_for(20ms); // not listening yet: look again
        }
        ADD_FAILURE() << "openssl s_server did not listen on port " << m_nPort;
        return std::nullopt;
    }

    bool Write(std::string_view data) const
    {
        return ::send(m_inputFd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
    }
    void EndInput()
    {
        if (m_inputFd >= 0)
            ::close(m_inputFd);
        m_inputFd = -1;
    }
    std::string ReadOutput(std::size_t nBytes) { return ReadBytes(m_process.OutputFd(), nBytes, 20s); }
    platform::CProcess& Process() { return m_process; }

private:
    int m_nPort = UnusedPort();
    int m_inputFd = -1;
    bool m_bStarted = false;
    platform::CProcess m_process;
};

// The certificates come from the test CA script, and the test CA is the only authority trusted:
// OpenSSL's default verify paths read SSL_CERT_FILE, and SSL_CERT_DIR names an empty folder.
class TlsConnectionTest : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        m_certs = m_dir / "certs";
        platform::SRunOptions options;
        options.m_durTimeout = 60s;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        const auto made = platform::RunProgram({VELLUM_TEST_CA_SCRIPT, m_certs.string()}, options);
        ASSERT_TRUE(made.Succeeded()) << made.Describe() << "\n" << made.m_strOutput;
        std::filesystem::create_directories(m_dir / "no-certs");
        Remember("SSL_CERT_FILE", (m_certs / "ca.pem").string());
        Remember("SSL_CERT_DIR", (m_dir / "no-certs").string());
    }
    void TearDown() override
    {
        for (const auto& [strName, value] : m_aSavedEnvironment)
            value ? ::setenv(strName.c_str(), value->c_str(), 1) : ::unsetenv(strName.c_str());
        CTempFolderTest::TearDown();
    }

    std::filesystem::path m_certs;

private:
    void Remember(const std::string& strName, const std::string& strValue)
    {
        const char* pszOld = std::getenv(strName.c_str());
        m_aSavedEnvironment.emplace_back(strName, pszOld ? std::optional<std::string>(pszOld) : std::nullopt);
        ::setenv(strName.c_str(), strValue.c_str(), 1);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_aSavedEnvironment;
};

TEST_F(TlsConnectionTest, CarriesBytesBothWaysUntilTheServerCloses)
{
    CTlsServer server(m_certs, "good");
    auto socket = server.Connect();
    ASSERT_TRUE(socket);
    CTlsConnection tls(std::move(*socket));
    EXPECT_FALSE(socket->IsOpen()); // the session has taken the connection over
    const STlsResult result = tls.Handshake("localhost", 10s);
    ASSERT_EQ(result.m_eStatus, ETlsStatus::Established) << result.m_strDetail;
    EXPECT_EQ(tls.ProtocolVersion(), "TLSv1.3");

    // The server says nothing yet: the session tickets it sends after the handshake are no data.
    char buffer[4096];
    std::size_t nReceived = 99;
    EXPECT_EQ(tls.Receive(buffer, sizeof(buffer), nReceived, CByteStream::Clock::now() + 200ms),
              ESocketStatus::TimedOut);
    EXPECT_EQ(nReceived, 0u);

    // More than the socket buffers hold, so the send has to wait for room on the way.
    const std::string strUp = Pattern(4 << 20, 1);
    auto arrived = std::async(std::launch::async, [&] { return server.ReadOutput(strUp.size()); });
    EXPECT_EQ(tls.SendAll(strUp, 10s), ESocketStatus::Ok);
    EXPECT_TRUE(arrived.get() == strUp);

    const std::string strDown = Pattern(64 << 10, 2);
    ASSERT_TRUE(server.Write(strDown));
    std::string strGot;
    while (strGot.size() < strDown.size() &&
           tls.Receive(buffer, sizeof(buffer), nReceived, CByteStream::Clock::now() + 10s) ==
               ESocketStatus::Ok)
        strGot.append(buffer, nReceived);
    EXPECT_TRUE(strGot == strDown) << strGot.size() << " of " << strDown.size() << " bytes";

    server.EndInput(); // s_server then sends its closing alert and ends
    EXPECT_EQ(tls.Receive(buffer, sizeof(buffer), nReceived, CByteStream::Clock::now() + 10s),
              ESocketStatus::Closed);
    ASSERT_EQ(server.Process().Wait(10s), platform::EWaitResult::Ended);

    // The first sends may still land in the buffers; the reset of the closed port fails a later
    // one, and SIGPIPE would end this test program.
    ESocketStatus eStatus = ESocketStatus::Ok;
    const std::string strChunk(1 << 20, 'x');
    for (int i = 0; i < 64 && eStatus == ESocketStatus::Ok; ++i)
        eStatus = tls.SendAll(strChunk, 10s);
    EXPECT_EQ(eStatus, ESocketStatus::Closed);
    EXPECT_FALSE(tls.IsOpen());
}

TEST_F(TlsConnectionTest, ChecksTheCertificateAgainstTheTrustedAuthorityAndTheHost)
{
    struct SCase
    {
        const char* pszLeaf;
        std::vector<std::string> aOptions;
        const char* pszHost;
        ETlsStatus eStatus;
        const char* pszDetail; // a piece of the explanation
    };
    const std::string strGood = (m_certs / "good").string();
    const SCase aCases[] = {
        {"good", {}, "localhost", ETlsStatus::Established, ""},
        {"good", {}, "127.0.0.1", ETlsStatus::Established, ""},
        // This server shows the other host's certificate unless the client names localhost (SNI).
        {"other",
         {"-servername", "localhost", "-cert2", strGood + ".pem", "-key2", strGood + ".key"},
         "localhost",
         ETlsStatus::Established,
         ""},
        {"other",
         {},
         "localhost",
         ETlsStatus::CertificateForAnotherHost,
         "not for localhost; the server presented a certificate for mail.another.example?[2Jxxx"},
        {"other", {}, "127.0.0.1", ETlsStatus::CertificateForAnotherHost, "issued by Vellum Test CA"},
        {"self", {}, "localhost", ETlsStatus::CertificateNotTrusted, "for localhost, issued by localhost"},
        {"expired", {}, "localhost", ETlsStatus::CertificateExpired, "valid until 2021-01-01 00:00 UTC"},
        {"future",
         {},
         "localhost",
         ETlsStatus::CertificateNotYetValid,
         "valid from 2090-01-01 00:00 UTC until 2091-01-01 00:00 UTC"},
    };
    for (const SCase& test : aCases)
    {
        SCOPED_TRACE(std::string(test.pszLeaf) + " as " + test.pszHost);
        CTlsServer server(m_certs, test.pszLeaf, test.aOptions);
        auto socket = server.Connect();
        ASSERT_TRUE(socket);
        CTlsConnection tls(std::move(*socket));
        const STlsResult result = tls.Handshake(test.pszHost, 10s);
        EXPECT_EQ(result.m_eStatus, test.eStatus) << result.m_strDetail;
        EXPECT_NE(result.m_strDetail.find(test.pszDetail), std::string::npos) << result.m_strDetail;
        EXPECT_TRUE(IsSafeText(result.m_strDetail)) << result.m_strDetail;
        EXPECT_EQ(tls.IsOpen(), test.eStatus == ETlsStatus::Established);
    }
}

// Without SSL_CERT_FILE, and with the system's folder among those in SSL_CERT_DIR, the system's
// bundle file is left unread; an authority is then found only by its name hash in the folders.
TEST_F(TlsConnectionTest, FindsTheAuthorityByNameHashInTheFoldersWhenNoFileIsNamed)
{
    platform::SRunOptions options;
    options.m_durTimeout = 60s;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    const auto hash = platform::RunProgram(
        {"openssl", "x509", "-hash", "-noout", "-in", (m_certs / "ca.pem").string()}, options);
    ASSERT_TRUE(hash.Succeeded()) << hash.m_strOutput;
    const std::filesystem::path hashed = m_dir / "hashed";
    std::filesystem::create_directories(hashed);
    std::filesystem::create_symlink(m_certs / "ca.pem", hashed / (hash.m_strOutput.substr(0, 8) + ".0"));
    ::unsetenv("SSL_CERT_FILE");
    ::setenv("SSL_CERT_DIR", (std::string(::X509_get_default_cert_dir()) + ":" + hashed.string()).c_str(), 1);

    for (const auto& [strLeaf, eStatus] :
         {std::pair{"good", ETlsStatus::Established}, std::pair{"self", ETlsStatus::CertificateNotTrusted}})
    {
        SCOPED_TRACE(strLeaf);
        CTlsServer server(m_certs, strLeaf);
        auto socket = server.Connect();
        ASSERT_TRUE(socket);
        CTlsConnection tls(std::move(*socket));
        const STlsResult result = tls.Handshake("127.0.0.1", 10s);
        EXPECT_EQ(result.m_eStatus, eStatus) << result.m_strDetail;
    }
}

TEST_F(TlsConnectionTest, RefusesAServerOlderThanTls12)
{
    struct SCase
    {
        const char* pszVersion;
        ETlsStatus eStatus;
        const char* pszDetail;
    };
    // The same server but for the version, with the security level down to where TLS 1.1 runs
    // at all: only the client's minimum can refuse it.
    const SCase aCases[] = {
        {"-tls1_2", ETlsStatus::Established, ""},
        {"-tls1_1", ETlsStatus::CannotConnectSecurely, "the server offers no TLS version from 1.2 on"},
    };
    for (const SCase& test : aCases)
    {
        SCOPED_TRACE(test.pszVersion);
        CTlsServer server(m_certs, "good", {test.pszVersion, "-cipher", "DEFAULT@SECLEVEL=0"});
        auto socket = server.Connect();
        ASSERT_TRUE(socket);
        CTlsConnection tls(std::move(*socket));
        const STlsResult result = tls.Handshake("localhost", 10s);
        EXPECT_EQ(result.m_eStatus, test.eStatus) << result.m_strDetail;
        EXPECT_NE(result.m_strDetail.find(test.pszDetail), std::string::npos) << result.m_strDetail;
        if (test.eStatus == ETlsStatus::Established)
        {
            EXPECT_EQ(tls.ProtocolVersion(), "TLSv1.2");
        }
    }
}

// A server of our own that takes the connection and then misbehaves.
class CBadPeer
{
public:
    enum class EBehaviour
    {
        Silent,            // reads the client's hello and says nothing
        ClosesAfterHello,  // reads the client's hello and closes
        GreetsInPlainText, // a plain mail server on the port the client thought was TLS
    };

    explicit CBadPeer(EBehaviour eBehaviour)
    {
        m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof(address);
        if (m_listenFd < 0 ||
            ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(m_listenFd, 1) != 0 ||
            ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &nLength) != 0)
            return;
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this, eBehaviour] { Serve(eBehaviour); });
    }
    ~CBadPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listenFd);
    }

    int Port() const { return m_nPort; }
    // Becomes ready when the client's hello has come, that is, when the client waits for the server.
    std::future<void> HelloRead() { return m_helloRead.get_future(); }

private:
    void Serve(EBehaviour eBehaviour)
    {
        pollfd pfd = {m_listenFd, POLLIN, 0};
        const int fd =
            ::poll(&pfd, 1, 20000) == 1 ? ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (fd < 0)
            return;
        if (eBehaviour == EBehaviour::GreetsInPlainText)
            ::send(fd, "220 mail.example.org ESMTP\r\n", 28, MSG_NOSIGNAL);
        // The hello is one record: a 5-byte header whose last two bytes give the length of the rest.
        const std::string strHeader = ReadBytes(fd, 5, 20s);
        if (strHeader.size() == 5)
        {
            const std::size_t nLength =
                (static_cast<unsigned char>(strHeader[3]) << 8) | static_cast<unsigned char>(strHeader[4]);
            ReadBytes(fd, nLength, 20s);
        }
        m_helloRead.set_value();
        if (eBehaviour != EBehaviour::ClosesAfterHello)
            ReadBytes(fd, 1, 60s); // until the client gives up and closes
        ::close(fd);
    }

    int m_listenFd = -1;
    int m_nPort = 0;
    std::promise<void> m_helloRead;
    std::thread m_thread;
};

TEST_F(TlsConnectionTest, EndsTheHandshakeWithAPeerThatMisbehaves)
{
    struct SCase
    {
        CBadPeer::EBehaviour eBehaviour;
        std::chrono::milliseconds limit;
        bool bCancel; // raised once the client waits for the server
        ETlsStatus eStatus;
        const char* pszDetail;
    };
    using EBehaviour = CBadPeer::EBehaviour;
    const SCase aCases[] = {
        {EBehaviour::Silent, 300ms, false, ETlsStatus::TimedOut,
         "did not complete the TLS handshake in time"},
        // Far longer than the test waits below: only the cancel can end it in time.
        {EBehaviour::Silent, 30s, true, ETlsStatus::Cancelled, "cancelled"},
        {EBehaviour::ClosesAfterHello, 20s, false, ETlsStatus::PeerClosed, "closed the connection"},
        {EBehaviour::GreetsInPlainText, 20s, false, ETlsStatus::CannotConnectSecurely,
         "does not answer in TLS"},
    };
    for (const SCase& test : aCases)
    {
        SCOPED_TRACE(static_cast<int>(&test - aCases));
        CBadPeer peer(test.eBehaviour);
        ASSERT_NE(peer.Port(), 0);
        auto helloRead = peer.HelloRead();
        CTcpSocket socket;
        ASSERT_EQ(socket.Connect("127.0.0.1", peer.Port(), 10s), EConnectStatus::Connected);
        CCancelSignal cancel;
        CTlsConnection tls(std::move(socket), &cancel);
        auto handshake =
            std::async(std::launch::async, [&] { return tls.Handshake("localhost", test.limit); });
        if (test.bCancel)
        {
            ASSERT_EQ(helloRead.wait_for(20s), std::future_status::ready);
            cancel.Raise();
        }
        ASSERT_EQ(handshake.wait_for(20s), std::future_status::ready);
        const STlsResult result = handshake.get();
        EXPECT_EQ(result.m_eStatus, test.eStatus) << result.m_strDetail;
        EXPECT_NE(result.m_strDetail.find(test.pszDetail), std::string::npos) << result.m_strDetail;
        EXPECT_FALSE(tls.IsOpen());
    }
}

} // namespace
