#include "platform/CancelSignal.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform
{

CCancelSignal::CCancelSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CCancelSignal::~CCancelSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CCancelSignal::Raise()
{
    m_bRaised.store(true, std::memory_order_release);
    if (m_fd >= 0)
    {
        const std::uint64_t nOne = 1;
        // The counter only fails to grow when it is already huge, and then it is readable anyway.
        [[maybe_unused]] const ssize_t nWritten = ::write(m_fd, &nOne, sizeof(nOne));
    }
}

void CCancelSignal::Clear()
{
    m_bRaised.store(false, std::memory_order_release);
    if (m_fd >= 0)
    {
        std::uint64_t nCount = 0;
        [[maybe_unused]] const ssize_t nRead = ::read(m_fd, &nCount, sizeof(nCount));
    }
}

} // namespace platform
