#pragma once

#include <optional>
#include <string>
#include <string_view>

// An http URL split into what a request needs: the server, its port and the object path
// (path and query, without any fragment).
struct SHttpUrl
{
    static constexpr int HTTP_DEFAULT_PORT = 80;

    // As written in the URL, lower-cased; an IPv6 literal keeps its brackets.
    std::string m_strHost;
    int m_nPort = HTTP_DEFAULT_PORT;
    // Never empty: starts with '/'.
    std::string m_strObject;

    // The URL handed to the transfer: scheme, host, explicit port and object path.
    [[nodiscard]] std::string ToString() const;
    // Same host name and port: where credentials given for one may also be sent to the other.
    [[nodiscard]] bool SameServer(const SHttpUrl& other) const;
};

// Splits an http URL. Blanks and control characters at either end are dropped, so that a
// redirect target cut from a header line with its CR still splits; one inside the URL makes
// it invalid, as does any scheme but http (https included), an empty or malformed host, or a
// port outside 1 to 65535. User information before '@' is ignored: credentials are never
// taken from a URL. Bytes above 0x7F in the object path are percent-encoded.
[[nodiscard]] std::optional<SHttpUrl> ParseHttpUrl(std::string_view strUrl);
