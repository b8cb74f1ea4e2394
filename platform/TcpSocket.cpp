#include "platform/TcpSocket.h"

#include "platform/CancelSignal.h"
#include "platform/Deadline.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace platform
{

namespace
{

using std::chrono::milliseconds;

// With a cancel signal that has no descriptor, how often a wait looks at it.
constexpr int CANCEL_CHECK_MS = 50;

struct AddrInfoDeleter
{
    void operator()(addrinfo* p) const { ::freeaddrinfo(p); }
};

} // namespace

CTcpSocket::CTcpSocket(CTcpSocket&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_nWritten(std::exchange(other.m_nWritten, 0)),
      m_pCancel(other.m_pCancel)
{
}

CTcpSocket& CTcpSocket::operator=(CTcpSocket&& other) noexcept
{
    if (this != &other)
    {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_nWritten = std::exchange(other.m_nWritten, 0);
        m_pCancel = other.m_pCancel;
    }
    return *this;
}

CTcpSocket::~CTcpSocket()
{
    Close();
}

bool CTcpSocket::IsCancelled() const
{
    return m_pCancel != nullptr && m_pCancel->IsRaised();
}

ESocketStatus WaitForDescriptor(int fd, short nEvents, const CCancelSignal* pCancel,
                                CByteStream::Clock::time_point deadline)
{
    const int nCancelFd = pCancel != nullptr ? pCancel->Descriptor() : -1;
    for (;;)
    {
        // A signal raised before the call finds its descriptor readable at once.
        int nTimeout = PollTimeoutUntil(deadline);
        if (pCancel != nullptr && nCancelFd < 0)
            nTimeout = std::min(nTimeout, CANCEL_CHECK_MS);
        // poll() passes over an entry with a negative descriptor, so one list serves both cases.
        pollfd aFds[2] = {{fd, nEvents, 0}, {nCancelFd, POLLIN, 0}};
        const int nReady = ::poll(aFds, 2, nTimeout);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0)
            return ESocketStatus::Failed;
        if (aFds[1].revents != 0 || (pCancel != nullptr && pCancel->IsRaised()))
            return ESocketStatus::Cancelled;
        if (aFds[0].revents != 0)
            return ESocketStatus::Ok; // an error or hang-up shows in the next call
        // A poll may end short of the deadline (the cancel check, the longest single poll), so the
        // clock decides.
        if (CByteStream::Clock::now() >= deadline)
            return ESocketStatus::TimedOut;
    }
}

void CTcpSocket::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CTcpSocket::Abort()
{
    // A linger of zero makes close() reset the connection and drop the send queue.
    const linger abort = {1, 0};
    if (m_fd >= 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    Close();
}

std::uint64_t CTcpSocket::BytesQueued() const
{
    int nQueued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &nQueued) != 0 || nQueued < 0)
        return 0;
    return static_cast<std::uint64_t>(nQueued);
}

std::uint64_t CTcpSocket::BytesAcknowledged() const
{
    return m_nWritten - std::min(m_nWritten, BytesQueued());
}

EConnectStatus CTcpSocket::Connect(const std::string& strHost, int nPort, milliseconds limit)
{
    Close();
    m_nWritten = 0;
    const auto deadline = Clock::now() + limit;

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* pList = nullptr;
    const std::string strPort = std::to_string(nPort);
    if (::getaddrinfo(strHost.c_str(), strPort.c_str(), &hints, &pList) != 0 || pList == nullptr)
    {
        // AI_ADDRCONFIG hides loopback addresses on a host with no other interface; ask again without it.
        hints.ai_flags = AI_NUMERICSERV;
        if (::getaddrinfo(strHost.c_str(), strPort.c_str(), &hints, &pList) != 0 || pList == nullptr)
            return EConnectStatus::CannotResolve;
    }
    const std::unique_ptr<addrinfo, AddrInfoDeleter> list(pList);

    EConnectStatus eStatus = EConnectStatus::CannotCreate;
    for (const addrinfo* pAddr = list.get(); pAddr != nullptr; pAddr = pAddr->ai_next)
    {
        const int fd =
            ::socket(pAddr->ai_family, pAddr->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, pAddr->ai_protocol);
        if (fd < 0)
            continue;
        eStatus = EConnectStatus::CannotConnect;
        int nError = 0;
        if (::connect(fd, pAddr->ai_addr, pAddr->ai_addrlen) != 0)
        {
            nError = errno;
            if (nError == EINPROGRESS || nError == EINTR)
            {
                const ESocketStatus eReady = WaitForDescriptor(fd, POLLOUT, m_pCancel, deadline);
                socklen_t nLen = sizeof(nError);
                if (eReady == ESocketStatus::Cancelled)
                {
                    ::close(fd);
                    return EConnectStatus::Cancelled;
                }
                if (eReady == ESocketStatus::TimedOut)
                    nError = ETIMEDOUT;
                else if (eReady != ESocketStatus::Ok ||
                         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nLen) != 0)
                    nError = errno;
            }
        }
        if (nError == 0)
        {
            // Commands are small and each waits for its reply; sending them at once saves a round trip.
            const int nOn = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof(nOn));
            m_fd = fd;
            return EConnectStatus::Connected;
        }
        ::close(fd);
        if (Clock::now() >= deadline)
            return EConnectStatus::TimedOut;
    }
    return eStatus;
}

ESocketStatus CTcpSocket::SendAll(std::string_view data, milliseconds idleLimit)
{
    if (m_fd < 0)
        return ESocketStatus::Failed;
    if (IsCancelled())
        return ESocketStatus::Cancelled;
    while (!data.empty())
    {
        // MSG_NOSIGNAL: a peer that has closed gives EPIPE here instead of killing the process.
        const ssize_t nSent = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (nSent > 0)
        {
            data.remove_prefix(static_cast<std::size_t>(nSent));
            m_nWritten += static_cast<std::uint64_t>(nSent);
            continue;
        }
        if (nSent < 0 && errno == EINTR)
            continue;
        if (nSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            const ESocketStatus eReady =
                WaitForDescriptor(m_fd, POLLOUT, m_pCancel, Clock::now() + idleLimit);
            if (eReady != ESocketStatus::Ok)
                return eReady;
            continue; // POLLERR / POLLHUP show up as an error of the next send()
        }
        return (errno == EPIPE || errno == ECONNRESET) ? ESocketStatus::Closed : ESocketStatus::Failed;
    }
    return ESocketStatus::Ok;
}

ESocketStatus CTcpSocket::Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                  Clock::time_point deadline)
{
    nReceived = 0;
    if (m_fd < 0 || nCapacity == 0)
        return ESocketStatus::Failed;
    if (IsCancelled())
        return ESocketStatus::Cancelled;
    for (;;)
    {
        const ssize_t nGot = ::recv(m_fd, pBuffer, nCapacity, 0);
        if (nGot > 0)
        {
            nReceived = static_cast<std::size_t>(nGot);
            return ESocketStatus::Ok;
        }
        if (nGot == 0)
            return ESocketStatus::Closed;
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET)
            return ESocketStatus::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return ESocketStatus::Failed;
        const ESocketStatus eReady = WaitForDescriptor(m_fd, POLLIN, m_pCancel, deadline);
        if (eReady != ESocketStatus::Ok)
            return eReady;
    }
}

std::string CTcpSocket::LocalAddressLiteral() const
{
    sockaddr_storage local = {};
    socklen_t nLen = sizeof(local);
    char text[INET6_ADDRSTRLEN] = {};
    if (m_fd >= 0 && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &nLen) == 0)
    {
        if (local.ss_family == AF_INET &&
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof(text)))
            return std::string("[") + text + "]";
        // RFC 5321 4.1.3: an IPv6 address literal carries the tag "IPv6:".
        if (local.ss_family == AF_INET6 &&
            ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof(text)))
            return std::string("[IPv6:") + text + "]";
    }
    return "[127.0.0.1]";
}

} // namespace platform
