#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Small text helpers that several layers need alike.
namespace platform
{

// What isspace() takes for a blank in the C locale: space, tab, the line ends, vertical tab
// and form feed.
inline constexpr std::string_view WHITE_SPACE = " \t\r\n\v\f";

// The text without the characters of strSet at its start, at its end, or at both. The result
// points into strText, so it lives no longer than the text it was cut from.
std::string_view TrimStart(std::string_view strText, std::string_view strSet = WHITE_SPACE);
std::string_view TrimEnd(std::string_view strText, std::string_view strSet = WHITE_SPACE);
std::string_view Trim(std::string_view strText, std::string_view strSet = WHITE_SPACE);

// The text with every byte that is not part of a printable UTF-8 character (control characters,
// C1 controls, broken or overlong sequences, surrogates) replaced by U+FFFD, so that it may go
// into a log line or a protocol text value whatever a document or a peer put into it.
std::string PrintableUtf8(std::string_view strText);

// "what: the system's text for the error", for a failed system call. The error is errno at
// the call unless the caller kept it before doing anything else.
std::string ErrnoText(std::string_view strWhat, int nError = errno);

// Printable ASCII only, at most nMax characters (then "..."): for text from outside (a
// certificate, a keyring's error) that can hold anything, control characters and escape
// sequences included. A character outside ASCII becomes one '?' (the bytes that continue it in
// UTF-8 are dropped).
std::string PrintableText(std::string_view strText, std::size_t nMax);

// A size as a person reads it: "512 bytes", "12.5 kB", "186 kB", "1.2 MB" (kB = 1000 bytes,
// rounded to the nearest; one decimal below 100 of the unit, none from there on).
std::string ByteSizeText(std::uint64_t nBytes);

// Control characters (below 0x20, and DEL): none belongs in a header line, a command or a
// line of a settings file.
bool HoldsControlCharacter(std::string_view strText);

// Overwrites a secret before it is freed, in a way the compiler may not leave out, and empties
// it. The whole buffer is overwritten: a string that was moved from or shortened keeps bytes
// beyond its end.
void WipeSecret(std::string& strSecret);

} // namespace platform
