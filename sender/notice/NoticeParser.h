#pragma once

#include "sender/notice/Notice.h"

#include <cstdint>
#include <string_view>

// Reads a notice with GMime from the start of its header and of its text, as fetched: either may
// be cut off anywhere, which leaves the parts that did arrive usable. nArrival (seconds since
// 1970, 0 when unknown) stands in for a missing or broken Date.
SNotice ParseNotice(std::string_view strHeader, std::string_view strText, std::int64_t nArrival);

// The text made fit for a line on the screen: control characters and runs of blanks become one
// blank, what is not UTF-8 becomes U+FFFD, and it is cut at a character's end to nMaxBytes.
std::string FilterLine(std::string_view strText, std::size_t nMaxBytes);
