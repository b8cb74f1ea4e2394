#pragma once

#include <optional>
#include <string>
#include <string_view>

// The request URL of a coverage query: "http://" + web host + this path + the fax number.
inline constexpr std::string_view QUERY_PATH = "/cgi-bin/tpcvrfy.pl?destnumber=";
// The longest request URL the gateway is asked with: 79 characters (an 80-character
// buffer with its terminator). With the gateway's own host this allows 15 digits, the
// longest international number there is (ITU-T E.164).
inline constexpr std::size_t QUERY_URL_MAX = 79;

// The fax number as typed goes into the URL with no escaping: the checks below let only
// digits through.
[[nodiscard]] std::string MakeQueryUrl(std::string_view strHost, std::string_view strNumber);

// The longest fax number whose query URL on this host still fits (0 when none does).
[[nodiscard]] std::size_t MaxQueryNumberLength(std::string_view strHost);

// The start checks of a query, in their order: the text of the message that refuses the
// number, or nothing when it may be queried. Nothing is stripped or converted first.
[[nodiscard]] std::optional<std::string> CheckQueryNumber(std::string_view strNumber,
                                                          std::string_view strHost);
