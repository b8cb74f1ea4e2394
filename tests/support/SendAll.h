#pragma once

#include <cerrno>
#include <string_view>
#include <sys/socket.h>

// Sends every byte to a connected socket, continuing partial sends; false once the peer
// is gone (no SIGPIPE).
inline bool SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty())
    {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
