#pragma once

#include <cstddef>

// The e-mail-to-fax gateway: its mail domain receives the fax mails, its web host answers
// the coverage query. A fax to 12345678901 for Acme goes to
// remote-printer.Acme@12345678901 followed by the mail domain suffix.
inline constexpr const char* GATEWAY_MAIL_DOMAIN_SUFFIX = ".fax.vellum-gateway.example";
inline constexpr const char* GATEWAY_WEB_HOST = "fax.vellum-gateway.example";

// The longest name and number whose gateway address the mail system takes. RFC 5321
// 4.5.3.1.1: a local part holds at most 64 octets, and "remote-printer." takes 15 of them
// before the name (its blanks and dots made underscores, one octet each).
inline constexpr std::size_t MAX_RECIPIENT_NAME_BYTES = 49;
// RFC 1035 2.3.4: a label holds at most 63 octets, and the number is one label of the domain.
inline constexpr std::size_t MAX_FAX_NUMBER_DIGITS = 63;
