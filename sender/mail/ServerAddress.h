#pragma once

#include <optional>
#include <string>
#include <string_view>

// The mail server setting names a host and, optionally, a port:
//   "mail.example.com"   "mail.example.com:587"   "192.0.2.7:2525"   "[2001:db8::1]:25"
// A bare IPv6 address ("2001:db8::1") is a host without a port; only the bracketed form
// can carry one, because its colons would be ambiguous otherwise.
constexpr int SMTP_DEFAULT_PORT = 25;

struct SServerAddress
{
    std::string m_strHost;
    int m_nPort = SMTP_DEFAULT_PORT;
};

// Blanks around the text are ignored. Empty hosts, unclosed brackets and ports that are
// not 1 to 65535 in decimal give no result.
[[nodiscard]] std::optional<SServerAddress> ParseServerAddress(std::string_view strText,
                                                               int nDefaultPort = SMTP_DEFAULT_PORT);
