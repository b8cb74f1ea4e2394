#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The few IMAP texts (RFC 3501 9) that this client writes and reads besides the responses.

// True when strText may go as a quoted string: 7-bit, no NUL, CR or LF.
bool CanQuote(std::string_view strText);
// strText quoted, its '"' and '\' escaped. Only for what CanQuote() takes.
std::string Quote(std::string_view strText);

// A folder name as the server knows it: UTF-8 turned into modified UTF-7 (RFC 3501 5.1.3), quoted.
// Empty when strFolder is empty or not UTF-8, or holds a control character.
std::string MailboxName(std::string_view strFolder);

// A set of UIDs for FETCH, runs written as ranges: "3:7,9,12:13". The UIDs must be sorted.
std::string UidSet(const std::vector<std::uint32_t>& aUids);

// The day of a time (seconds since 1970, UTC) as SEARCH SINCE takes it: "9-Dec-2026".
std::string SearchDate(std::int64_t nTime);

// An INTERNALDATE ("09-Dec-2026 22:07:35 +0100") in seconds since 1970, or 0 when it is not one.
std::int64_t ParseInternalDate(std::string_view strDate);
