#include "platform/Text.h"

#include <cerrno>
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

} // namespace
