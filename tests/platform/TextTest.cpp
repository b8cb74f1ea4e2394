#include "platform/Text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

namespace
{

using platform::Trim;
using platform::TrimEnd;
using platform::TrimStart;

TEST(TextTest, TrimTakesEveryBlankOffBothEndsAndKeepsTheInside)
{
    EXPECT_EQ(Trim(" \t\r\n\v\fa b\tc\f\v\n\r\t "), "a b\tc");
    EXPECT_EQ(Trim("abc"), "abc");
    EXPECT_EQ(Trim(" \t\n "), "");
    EXPECT_EQ(Trim(""), "");
    // A one-character text is its own first and last character.
    EXPECT_EQ(Trim(" x "), "x");
}

TEST(TextTest, TrimTakesOffOnlyTheCharactersOfItsSetAndOnlyAtItsSide)
{
    // A line of a desktop entry keeps a form feed or a line feed that is not one of its blanks.
    EXPECT_EQ(Trim(" \fkey\n\t", " \t\r"), "\fkey\n");
    EXPECT_EQ(TrimStart("** Error **  ", "* "), "Error **  ");
    EXPECT_EQ(TrimEnd("** Error **  ", "* "), "** Error");
    EXPECT_EQ(TrimStart("***", "*"), "");
    EXPECT_EQ(TrimEnd("***", "*"), "");
}

TEST(TextTest, PrintableUtf8KeepsPrintableCharactersAndReplacesEverythingElse)
{
    const std::string strFffd = "\xEF\xBF\xBD";
    // Plain text, two-, three- and four-byte characters stay as they are.
    EXPECT_EQ(platform::PrintableUtf8("Error: /undefined in foo"), "Error: /undefined in foo");
    EXPECT_EQ(platform::PrintableUtf8("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x93\xA0"),
              "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x93\xA0");
    // Control characters (a line feed would end the log line), DEL and C1 controls.
    EXPECT_EQ(platform::PrintableUtf8(std::string("a\x01\nb\x7F\0c", 7)),
              "a" + strFffd + strFffd + "b" + strFffd + strFffd + "c");
    EXPECT_EQ(platform::PrintableUtf8("\xC2\x85x"), strFffd + strFffd + "x");
    // Broken, cut off, overlong and surrogate sequences, and bytes that never start one.
    EXPECT_EQ(platform::PrintableUtf8("\xFE\xFF"), strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xE4\xB8"), strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xC0\xAF"), strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xE0\x80\xAF"), strFffd + strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xED\xA0\x80"), strFffd + strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xF4\x90\x80\x80"), strFffd + strFffd + strFffd + strFffd);
    EXPECT_EQ(platform::PrintableUtf8("\xE4x"), strFffd + "x");
}

TEST(TextTest, ErrnoTextNamesWhatFailedAndTheSystemsReason)
{
    EXPECT_EQ(platform::ErrnoText("cannot open /x", ENOENT),
              std::string("cannot open /x: ") + std::strerror(ENOENT));
    errno = EACCES;
    EXPECT_EQ(platform::ErrnoText("pipe"), std::string("pipe: ") + std::strerror(EACCES));
}

TEST(TextTest, PrintableTextKeepsPrintableAsciiAndCutsAtItsBound)
{
    // Control characters and an escape sequence become '?'; "é" (two bytes in UTF-8) is one '?'.
    EXPECT_EQ(platform::PrintableText("a\tb\x1b[31mc\r\nd\xc3\xa9!", 100), "a?b?[31mc??d?!");
    EXPECT_EQ(platform::PrintableText("abcdef", 6), "abcdef");
    EXPECT_EQ(platform::PrintableText("abcdefg", 6), "abcdef...");
    EXPECT_EQ(platform::PrintableText("", 6), "");
}

TEST(TextTest, ByteSizeTextRoundsToTheUnitAPersonReads)
{
    // clang-format off
    const std::pair<std::uint64_t, const char*> aCases[] = {
        {0, "0 bytes"},          {1, "1 byte"},            {999, "999 bytes"},
        {1000, "1.0 kB"},        {12'449, "12.4 kB"},      {12'450, "12.5 kB"},
        {99'949, "99.9 kB"},     {99'950, "100 kB"},       {186'000, "186 kB"},
        {999'499, "999 kB"},     {999'500, "1.0 MB"},      {10'240'000, "10.2 MB"},
        {52'428'800, "52.4 MB"}, {2'147'483'647, "2.1 GB"}, {UINT64_MAX, "18.4 EB"},
    };
    // clang-format on
    for (const auto& [nBytes, pszText] : aCases)
        EXPECT_EQ(platform::ByteSizeText(nBytes), pszText) << nBytes;
}

} // namespace
