#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform
{

enum class ESocketStatus
{
    Ok,
    Closed, // the peer ended the connection
    TimedOut,
    Failed,
    Cancelled, // another thread raised the stream's cancel signal (streams that take one)
};

// A connection that carries bytes both ways: a plain TCP socket, or a TLS session over one.
// A line protocol talks through this interface, so that it can switch from the plain socket
// to TLS in the middle of its dialogue. Every wait is bounded.
class CByteStream
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CByteStream() = default;

    // Sends every byte or fails. The limit bounds each wait for the peer to take more, so a
    // slow but moving peer is fine and a stalled one is not.
    [[nodiscard]] virtual ESocketStatus SendAll(std::string_view data,
                                                std::chrono::milliseconds idleLimit) = 0;

    // Receives at least one byte (up to nCapacity) unless the deadline passes first.
    [[nodiscard]] virtual ESocketStatus Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                                Clock::time_point deadline) = 0;

    // Bytes handed to the kernel on this connection since it was made: for TLS its records, with
    // their overhead and the handshake.
    virtual std::uint64_t BytesWritten() const = 0;
    // How many of those the peer has acknowledged, that is all but what this computer's send
    // queue still holds. Handed over is not arrived: a slow or stalled peer leaves megabytes
    // queued here. What the kernel cannot tell counts as acknowledged.
    virtual std::uint64_t BytesAcknowledged() const = 0;

    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // Ends the connection with a reset: what the kernel still holds for the peer is dropped
    // instead of going out after the close, and a TLS session sends no closing alert.
    virtual void Abort() = 0;

protected:
    CByteStream() = default;
    CByteStream(CByteStream&&) = default;
    CByteStream& operator=(CByteStream&&) = default;
};

} // namespace platform
