#pragma once

#include <string_view>

namespace driver
{

// Tells plain text from other files, piece by piece as a file is read: valid UTF-8 (ASCII
// included) without a NUL byte. Such a file goes to the printer's text filter.
class CPlainTextCheck
{
public:
    // False from the first piece on that breaks the rule.
    bool Feed(std::string_view piece);
    // After the last piece: true when all of it was plain text and no character was cut off.
    bool Finish() const { return m_bPlain && m_nDue == 0; }

private:
    bool m_bPlain = true;
    // The continuation bytes that the current character still needs, and the range the next
    // one must fall in.
    int m_nDue = 0;
    unsigned char m_nLow = 0x80;
    unsigned char m_nHigh = 0xBF;
};

} // namespace driver
