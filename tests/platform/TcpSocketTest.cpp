#include "platform/TcpSocket.h"

#include "platform/CancelSignal.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

using namespace std::chrono_literals;
using platform::CCancelSignal;
using platform::CTcpSocket;
using platform::EConnectStatus;
using platform::ESocketStatus;

// A listening socket on a loopback address with a port chosen by the system.
class CListener
{
public:
    explicit CListener(int nFamily)
    {
        m_fd = ::socket(nFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address = {};
        socklen_t nLen = 0;
        if (nFamily == AF_INET6)
        {
            auto* pV6 = reinterpret_cast<sockaddr_in6*>(&address);
            pV6->sin6_family = AF_INET6;
            pV6->sin6_addr = in6addr_loopback;
            nLen = sizeof(sockaddr_in6);
        }
        else
        {
            auto* pV4 = reinterpret_cast<sockaddr_in*>(&address);
            pV4->sin_family = AF_INET;
            pV4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            nLen = sizeof(sockaddr_in);
        }
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), nLen) != 0 ||
            ::listen(m_fd, 4) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nLen) != 0)
            return;
        m_nPort = ntohs(nFamily == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~CListener()
    {
        if (m_peer >= 0)
            ::close(m_peer);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Port() const { return m_nPort; }
    int Accept() { return m_peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }
    void ClosePeer()
    {
        ::close(m_peer);
        m_peer = -1;
    }

private:
    int m_fd = -1;
    int m_peer = -1;
    int m_nPort = 0;
};

TEST(TcpSocketTest, ConnectsToAHostNameAndToIpv6AndNamesTheLocalEnd)
{
    CListener v4(AF_INET);
    ASSERT_NE(v4.Port(), 0);
    CTcpSocket socket;
    ASSERT_EQ(socket.Connect("localhost", v4.Port(), 10s), EConnectStatus::Connected);
    EXPECT_EQ(socket.LocalAddressLiteral(), "[127.0.0.1]");

    CListener v6(AF_INET6);
    if (v6.Port() == 0)
        GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_EQ(socket.Connect("::1", v6.Port(), 10s), EConnectStatus::Connected);
    EXPECT_EQ(socket.LocalAddressLiteral(), "[IPv6:::1]");
}

TEST(TcpSocketTest, ReceiveTellsDataFromSilenceFromAClosedPeer)
{
    CListener listener(AF_INET);
    CTcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", listener.Port(), 10s), EConnectStatus::Connected);
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);

    char buffer[16];
    std::size_t nReceived = 99;
    EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 100ms),
              ESocketStatus::TimedOut);
    EXPECT_EQ(nReceived, 0u);

    ASSERT_EQ(::send(peer, "220 hi\r\n", 8, 0), 8);
    ASSERT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 10s),
              ESocketStatus::Ok);
    EXPECT_EQ(std::string(buffer, nReceived), "220 hi\r\n");

    listener.ClosePeer();
    EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 10s),
              ESocketStatus::Closed);
}

TEST(TcpSocketTest, SendingToAPeerThatHasGoneFailsWithoutSigpipe)
{
    CListener listener(AF_INET);
    CTcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", listener.Port(), 10s), EConnectStatus::Connected);
    ASSERT_GE(listener.Accept(), 0);
    listener.ClosePeer();
    // The first sends may still land in the buffers; the peer's reset then fails a later one.
    const std::string strChunk(1 << 20, 'x');
    ESocketStatus eStatus = ESocketStatus::Ok;
    for (int i = 0; i < 64 && eStatus == ESocketStatus::Ok; ++i)
        eStatus = socket.SendAll(strChunk, 10s);
    EXPECT_EQ(eStatus, ESocketStatus::Closed);
}

TEST(TcpSocketTest, StalledPeerTimesTheSendOut)
{
    CListener listener(AF_INET);
    CTcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", listener.Port(), 10s), EConnectStatus::Connected);
    ASSERT_GE(listener.Accept(), 0); // accepted, never read: the buffers fill and stay full
    const std::string strChunk(64 << 20, 'x');
    EXPECT_EQ(socket.SendAll(strChunk, 200ms), ESocketStatus::TimedOut);
}

TEST(TcpSocketTest, RefusedPortDoesNotConnectAndAClosedSocketDoesNothing)
{
    int nPort = 0;
    {
        CListener closed(AF_INET);
        nPort = closed.Port();
    }
    CTcpSocket socket;
    EXPECT_EQ(socket.Connect("127.0.0.1", nPort, 10s), EConnectStatus::CannotConnect);
    EXPECT_FALSE(socket.IsOpen());
    char buffer[4];
    std::size_t nReceived = 0;
    EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now()),
              ESocketStatus::Failed);
    EXPECT_EQ(socket.SendAll("x", 1s), ESocketStatus::Failed);
}

// A raise from another thread ends a wait in progress (the limits are long enough that only the
// signal can end them in time), and a raised signal ends every later wait before it begins.
TEST(TcpSocketTest, CancelSignalEndsReceiveAndSendWaits)
{
    CListener listener(AF_INET);
    CCancelSignal cancel;
    CTcpSocket socket;
    socket.SetCancelSignal(&cancel);
    ASSERT_EQ(socket.Connect("127.0.0.1", listener.Port(), 10s), EConnectStatus::Connected);
    ASSERT_GE(listener.Accept(), 0); // accepted, silent and never reading

    char buffer[16];
    std::size_t nReceived = 0;
    {
        std::thread raiser(
            [&cancel]
            {
                std::this_thread::sleep_for(100ms);
                cancel.Raise();
            });
        EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 60s),
                  ESocketStatus::Cancelled);
        raiser.join();
    }
    cancel.Clear();
    {
        std::thread raiser(
            [&cancel]
            {
                std::this_thread::sleep_for(100ms);
                cancel.Raise();
            });
        EXPECT_EQ(socket.SendAll(std::string(64 << 20, 'x'), 60s), ESocketStatus::Cancelled);
        raiser.join();
    }
    EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 60s),
              ESocketStatus::Cancelled);
    EXPECT_EQ(socket.SendAll("x", 60s), ESocketStatus::Cancelled);
    // The signal goes along when the connection is handed over.
    CTcpSocket taken(std::move(socket));
    EXPECT_EQ(taken.Receive(buffer, sizeof(buffer), nReceived, CTcpSocket::Clock::now() + 60s),
              ESocketStatus::Cancelled);
}

} // namespace
