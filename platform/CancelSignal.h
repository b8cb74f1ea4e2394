#pragma once

#include <atomic>

namespace platform
{

// Lets one thread stop another's network waits: a stream given this signal polls its
// descriptor beside the socket, so a wait that is in progress ends as soon as Raise() is
// called, and every later wait ends at once until Clear(). This is how the user's Cancel
// ends a dialogue with a server that has gone silent.
class CCancelSignal
{
public:
    CCancelSignal();
    CCancelSignal(const CCancelSignal&) = delete;
    CCancelSignal& operator=(const CCancelSignal&) = delete;
    ~CCancelSignal();

    // Safe from any thread, and from a signal handler.
    void Raise();
    bool IsRaised() const { return m_bRaised.load(std::memory_order_acquire); }
    // For the owner, between dialogues, when no wait is using the signal.
    void Clear();

    // Readable while raised; -1 when no descriptor could be made (out of descriptors), in which
    // case waiters look at IsRaised() between short polls instead.
    int Descriptor() const { return m_fd; }

private:
    std::atomic<bool> m_bRaised = false;
    int m_fd = -1;
};

} // namespace platform
