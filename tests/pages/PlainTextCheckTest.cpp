#include "pages/PlainTextCheck.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

using driver::CPlainTextCheck;

// Whether the whole text counts as plain, fed in one piece and byte by byte (a character
// split between two reads of a file is still whole).
bool IsPlain(const std::string& strText)
{
    CPlainTextCheck whole;
    const bool bWhole = whole.Feed(strText) && whole.Finish();
    CPlainTextCheck bytes;
    bool bFed = true;
    for (const char ch : strText)
        bFed = bytes.Feed(std::string_view(&ch, 1)) && bFed;
    EXPECT_EQ(bWhole, bFed && bytes.Finish()) << strText;
    return bWhole;
}

TEST(PlainTextCheck, TakesUtf8TextAndRefusesEverythingElse)
{
    struct SCase
    {
        std::string m_strText;
        bool m_bPlain;
    };
    // clang-format off
    const SCase aCases[] = {
        {"Dear Ada,\r\n\tthe pages follow.\f\x1b[1mbold\x1b[0m\n", true}, // controls other than NUL are text
        {"\xC3\xA9 \xE2\x82\xAC \xE4\xBC\xA0\xE7\x9C\x9F \xF0\x9F\x93\xA0", true},   // 2, 3 and 4 bytes
        {"\xEF\xBB\xBFwith a byte order mark", true},
        {"\xF4\x8F\xBF\xBF", true},                  // U+10FFFF, the last code point
        {std::string("a\0b", 3), false},             // NUL
        {"caf\xE9", false},                          // Latin-1
        {"\xC0\xAF", false},                         // overlong '/'
        {"\xE0\x80\xAF", false},                     // overlong, 3 bytes
        {"\xF0\x80\x80\xAF", false},                 // overlong, 4 bytes
        {"\xED\xA0\x80", false},                     // a surrogate
        {"\xF4\x90\x80\x80", false},                 // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\x80 stray continuation", false},
        {"\xE2\x82 cut short", false},
        {"ends in the middle \xE2\x82", false},
    };
    // clang-format on
    for (const SCase& test : aCases)
        EXPECT_EQ(IsPlain(test.m_strText), test.m_bPlain) << test.m_strText;
}

} // namespace
