#pragma once

#include <cstddef>

// The e-mail-to-fax gateway: its mail domain receives the fax mails, its web host answers
// the coverage query. A fax to 12345678901 for Acme goes to
// remote-printer.Acme@12345678901 followed by the mail domain suffix.
inline constexpr const char* GATEWAY_MAIL_DOMAIN_SUFFIX = ".fax.vellum-gateway.example";
inline constexpr const char* GATEWAY_WEB_HOST = "fax.vellum-gateway.example";

// The gateway address as a template (sender/send/GatewayTemplate.h): the fields stand for the
// recipient name, its blanks and dots made underscores, and the fax number. The default is
// the address above; a user whose gateway wants another form writes theirs in Config.
inline constexpr const char* GATEWAY_NAME_FIELD = "<name>";
inline constexpr const char* GATEWAY_NUMBER_FIELD = "<number>";
inline constexpr const char* DEFAULT_GATEWAY_TEMPLATE =
    "remote-printer.<name>@<number>.fax.vellum-gateway.example";

// The longest name and number kept in the address book and put in a gateway address. With
// the default template these are exactly what the mail system takes: RFC 5321 4.5.3.1.1, a
// local part holds at most 64 octets, and "remote-printer." takes 15 of them before the name
// (its blanks and dots made underscores, one octet each); RFC 1035 2.3.4, a label holds at
// most 63 octets, and the number is one label of the domain. Other templates may allow less.
inline constexpr std::size_t MAX_RECIPIENT_NAME_BYTES = 49;
inline constexpr std::size_t MAX_FAX_NUMBER_DIGITS = 63;
