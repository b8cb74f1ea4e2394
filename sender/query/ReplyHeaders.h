#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reading the header block of a reply: its lines as received, status line first, each
// ending in CR LF (or LF from a careless server), and the empty line at the end.

// The status code of a status line such as "HTTP/1.1 302 Found"; 0 when it is not one.
[[nodiscard]] int StatusOfLine(std::string_view strLine);

// The redirect target: the text after the first "Location: " (case-sensitive, capital L,
// one blank) up to the first line feed. A line feed right after the prefix does not cut,
// so such a target runs to the end of the block and does not split as a URL. The carriage
// return before the line feed stays; the URL splitter drops it with the other blanks and
// control characters at the ends.
[[nodiscard]] std::optional<std::string> LocationFromHeaders(std::string_view strHeaders);

// The realm a 401 reply names in its WWW-Authenticate header, printable characters only,
// for the question that asks for a user name and password; empty when there is none.
[[nodiscard]] std::string RealmFromHeaders(std::string_view strHeaders);
