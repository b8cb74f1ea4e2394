#pragma once

// The e-mail-to-fax gateway: its mail domain receives the fax mails, its web host answers
// the coverage query. A fax to 12345678901 for Acme goes to
// remote-printer.Acme@12345678901 followed by the mail domain suffix.
inline constexpr const char* kGatewayMailDomainSuffix = ".fax.vellum-gateway.example";
inline constexpr const char* kGatewayWebHost = "fax.vellum-gateway.example";
