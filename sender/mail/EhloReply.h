#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a server offers in its reply to EHLO (RFC 5321 4.1.1.1): the first line greets, each
// further line names one extension keyword with its parameters. Only the extensions this
// client uses are kept; keywords are case-insensitive.

// A hostile or broken server cannot make the client look at more than this.
constexpr std::size_t MAX_EHLO_LINES = 100;
constexpr std::size_t MAX_EHLO_LINE_BYTES = 1000;

struct SSmtpExtensions
{
    bool m_bStartTls = false; // RFC 3207
    bool m_bAuth = false;     // RFC 4954
    // The mechanisms after AUTH, upper case, in the server's order.
    std::vector<std::string> m_aAuthMechanisms;
    bool m_bSize = false; // RFC 1870
    // The largest message the server takes; 0 when it names no fixed limit.
    std::uint64_t m_nSizeLimit = 0;

    bool OffersMechanism(std::string_view mechanism) const;
};

// Reads the extensions from one complete reply (the bytes as received, lines ending in CR LF
// or LF). Lines beyond MAX_EHLO_LINES and the part of a line beyond MAX_EHLO_LINE_BYTES are
// not looked at; a SIZE whose number is not a plain decimal counts as SIZE without a limit.
SSmtpExtensions ParseEhloReply(std::string_view reply);
