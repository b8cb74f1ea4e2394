#pragma once

#include <optional>
#include <string_view>

// How the connection to the mail server is protected. None is the plain dialogue with HELO, for
// open relays; StartTls turns a plain connection into TLS with STARTTLS (RFC 3207); Tls speaks
// TLS from the first byte (RFC 8314). Only the last two send a password.
enum class ESmtpSecurity
{
    None,
    StartTls,
    Tls,
};

// The port used when the server setting names none: 25 for the plain dialogue, the submission
// ports 587 and 465 (RFC 6409, RFC 8314) for the secure ones.
constexpr int DefaultSmtpPort(ESmtpSecurity eSecurity)
{
    switch (eSecurity)
    {
    case ESmtpSecurity::StartTls:
        return 587;
    case ESmtpSecurity::Tls:
        return 465;
    case ESmtpSecurity::None:
        break;
    }
    return 25;
}

// The names shown in Config and kept in the settings: "STARTTLS", "TLS", "None".
constexpr const char* SmtpSecurityName(ESmtpSecurity eSecurity)
{
    switch (eSecurity)
    {
    case ESmtpSecurity::StartTls:
        return "STARTTLS";
    case ESmtpSecurity::Tls:
        return "TLS";
    case ESmtpSecurity::None:
        break;
    }
    return "None";
}

constexpr std::optional<ESmtpSecurity> SmtpSecurityFromName(std::string_view strName)
{
    for (ESmtpSecurity eSecurity : {ESmtpSecurity::None, ESmtpSecurity::StartTls, ESmtpSecurity::Tls})
        if (strName == SmtpSecurityName(eSecurity))
            return eSecurity;
    return std::nullopt;
}
