#pragma once

#include <unistd.h>
#include <utility>

namespace platform
{

// Owns one file descriptor and closes it when it goes, so that no early return leaks it.
// -1 stands for none.
class CDescriptor
{
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    CDescriptor(CDescriptor&& other) noexcept : m_fd(other.Release()) {}
    CDescriptor& operator=(CDescriptor&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~CDescriptor() { Reset(); }

    // Closes the one held, if any, and takes fd instead.
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int Get() const { return m_fd; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace platform
