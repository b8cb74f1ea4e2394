#pragma once

#include "platform/ByteStream.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A TCP client connection for line protocols (the mail link). Blocking in use, but every
// wait is bounded: connecting, each send and each receive take a time limit, so a peer
// that stops answering can never hold the caller forever. A peer that has gone away makes
// the call fail; it never raises SIGPIPE.
namespace platform
{

class CCancelSignal;

enum class EConnectStatus
{
    Connected,
    CannotResolve, // the host name has no address
    CannotCreate,  // no socket could be made (out of descriptors, no IP stack)
    CannotConnect, // every address refused or was unreachable
    TimedOut,
    Cancelled, // the socket's cancel signal was raised
};

// Waits until fd is ready for nEvents (poll() events), the deadline passes or the cancel signal
// (none when null) is raised: Ok, TimedOut, Cancelled or Failed. An error or a hang-up counts as
// ready: it shows in the next call on the descriptor. Shared by the plain and the TLS streams.
[[nodiscard]] ESocketStatus WaitForDescriptor(int fd, short nEvents, const CCancelSignal* pCancel,
                                              CByteStream::Clock::time_point deadline);

class CTcpSocket : public CByteStream
{
public:
    CTcpSocket() = default;
    // Moving hands the connection over (to a TLS session, say); the source is left closed.
    CTcpSocket(CTcpSocket&& other) noexcept;
    CTcpSocket& operator=(CTcpSocket&& other) noexcept;
    ~CTcpSocket() override;

    // Resolves the host (name, IPv4 or IPv6 address) and tries its addresses in order
    // until one accepts; the limit covers all of them together.
    [[nodiscard]] EConnectStatus Connect(const std::string& strHost, int nPort,
                                         std::chrono::milliseconds limit);

    // Sends every byte or fails. The limit bounds each wait for room in the send buffer,
    // so a slow but moving peer is fine and a stalled one is not.
    [[nodiscard]] ESocketStatus SendAll(std::string_view data, std::chrono::milliseconds idleLimit) override;

    // Receives at least one byte (up to nCapacity) unless the deadline passes first.
    [[nodiscard]] ESocketStatus Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                        Clock::time_point deadline) override;

    // The local end as an address literal for a mail greeting: "[192.0.2.1]" or "[IPv6:::1]".
    std::string LocalAddressLiteral() const;

    std::uint64_t BytesWritten() const override { return m_nWritten; }
    std::uint64_t BytesAcknowledged() const override;
    // The bytes the kernel holds for the peer that it has not acknowledged (Linux SIOCOUTQ),
    // whoever wrote them to the descriptor; 0 when closed or when the kernel cannot tell.
    std::uint64_t BytesQueued() const;

    bool IsOpen() const override { return m_fd >= 0; }
    void Close() override;
    void Abort() override;

    // With a cancel signal (it must outlive the socket, or be taken away first), every wait ends
    // as soon as it is raised: a send or receive with Cancelled, a connect with Cancelled too.
    void SetCancelSignal(const CCancelSignal* pCancel) { m_pCancel = pCancel; }
    const CCancelSignal* GetCancelSignal() const { return m_pCancel; }

    // The connected descriptor (non-blocking), or -1; it stays owned by this object.
    int Descriptor() const { return m_fd; }

private:
    bool IsCancelled() const;

    int m_fd = -1;
    std::uint64_t m_nWritten = 0;
    const CCancelSignal* m_pCancel = nullptr;
};

} // namespace platform
