#include "sender/store/ArchiveString.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

std::string Encoded(std::string_view strText)
{
    return EncodeArchiveString(strText).value();
}

EArchiveRead Decode(const std::string& strBytes, std::string& strText)
{
    CArchiveIn in(strBytes);
    return ReadArchiveString(in, strText);
}

std::string Decoded(const std::string& strBytes)
{
    std::string strText;
    EXPECT_EQ(Decode(strBytes, strText), EArchiveRead::Ok);
    return strText;
}

// The wide form: FF FE FF, a length prefix in code units, the code units little-endian.
std::string Wide(const std::u16string& strUnits, const std::string& strPrefix)
{
    std::string strBytes = "\xFF\xFE\xFF" + strPrefix;
    for (char16_t unit : strUnits)
    {
        strBytes += static_cast<char>(unit & 0xFF);
        strBytes += static_cast<char>(unit >> 8);
    }
    return strBytes;
}

} // namespace

TEST(ArchiveString, PicksTheLengthFormByLength)
{
    EXPECT_EQ(Encoded(""), std::string(1, '\0'));
    EXPECT_EQ(Encoded("Acme_Co"), "\x07"
                                  "Acme_Co");

    const std::string str254(254, 'n');
    EXPECT_EQ(Encoded(str254), "\xFE" + str254);
    const std::string str255(255, 'n');
    EXPECT_EQ(Encoded(str255), std::string("\xFF\xFF\x00", 3) + str255);

    const std::string str65533(65533, 'w');
    EXPECT_EQ(Encoded(str65533), "\xFF\xFD\xFF" + str65533);
    const std::string str65534(65534, 'w');
    EXPECT_EQ(Encoded(str65534), std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7) + str65534);
    const std::string str70000(70000, 'd');
    EXPECT_EQ(Encoded(str70000).substr(0, 7), std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7));
}

TEST(ArchiveString, RoundTripsEveryLengthForm)
{
    for (std::size_t nLength : {0, 1, 254, 255, 256, 65533, 65534, 65535, 200000})
    {
        std::string strText(nLength, '\0');
        for (std::size_t i = 0; i < nLength; ++i)
            strText[i] = static_cast<char>(i * 7 + 3);
        EXPECT_EQ(Decoded(Encoded(strText)), strText) << nLength;
    }
    EXPECT_EQ(Decoded(Encoded("Zoë 李")), "Zoë 李");
}

TEST(ArchiveString, ReadsForeignForms)
{
    // A writer may use a longer length form than needed.
    EXPECT_EQ(Decoded(std::string("\xFF\x03\x00"
                                  "abc",
                                  6)),
              "abc");
    EXPECT_EQ(Decoded(std::string("\xFF\xFF\xFF\x02\x00\x00\x00"
                                  "ab",
                                  9)),
              "ab");
    // Text after the string belongs to the next one.
    CArchiveIn in(std::string_view("\x01x\x01y", 4));
    std::string strFirst, strSecond;
    ASSERT_EQ(ReadArchiveString(in, strFirst), EArchiveRead::Ok);
    ASSERT_EQ(ReadArchiveString(in, strSecond), EArchiveRead::Ok);
    EXPECT_EQ(strFirst + strSecond, "xy");
}

TEST(ArchiveString, ConvertsWideStringsToUtf8)
{
    EXPECT_EQ(Decoded(Wide(u"Acme", "\x04")), "Acme");
    EXPECT_EQ(Decoded(Wide(u"", std::string(1, '\0'))), "");
    EXPECT_EQ(Decoded(Wide(u"传真", "\x02")), "传真");
    // A pair of surrogates is one character; a lone one becomes U+FFFD.
    EXPECT_EQ(Decoded(Wide(u"\U0001F4E0", "\x02")), "\U0001F4E0");
    EXPECT_EQ(Decoded(Wide(std::u16string{u'a', char16_t(0xD800), u'b'}, "\x03")), "a\xEF\xBF\xBD"
                                                                                   "b");
    EXPECT_EQ(Decoded(Wide(std::u16string{char16_t(0xDC00)}, "\x01")), "\xEF\xBF\xBD");
    // The wide length in its longer forms.
    const std::u16string str300(300, u'é');
    std::string strUtf8;
    for (int i = 0; i < 300; ++i)
        strUtf8 += "é";
    EXPECT_EQ(Decoded(Wide(str300, std::string("\xFF\x2C\x01", 3))), strUtf8);
    EXPECT_EQ(Decoded(Wide(u"xy", std::string("\xFF\xFF\xFF\x02\x00\x00\x00", 7))), "xy");
}

TEST(ArchiveString, RefusesEveryTruncation)
{
    const std::string samples[] = {Encoded("Bolt"), Encoded(std::string(300, 'b')),
                                   Encoded(std::string(70000, 'c')), Wide(u"传真机", "\x03"),
                                   Wide(u"ab", std::string("\xFF\xFF\xFF\x02\x00\x00\x00", 7))};
    for (const auto& strWhole : samples)
    {
        for (std::size_t nCut = 0; nCut < strWhole.size(); ++nCut)
        {
            std::string strText = "left over";
            const EArchiveRead eResult = Decode(strWhole.substr(0, nCut), strText);
            EXPECT_NE(eResult, EArchiveRead::Ok) << nCut;
            EXPECT_TRUE(strText.empty());
        }
    }
}

TEST(ArchiveString, RefusesALengthBeyondTheSourceBeforeReadingIt)
{
    std::string strText;
    EXPECT_EQ(Decode(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                 "abc",
                                 10),
                     strText),
              EArchiveRead::TooLong);
    EXPECT_EQ(Decode(std::string("\x05"
                                 "abc"),
                     strText),
              EArchiveRead::TooLong);
    EXPECT_EQ(Decode(Wide(u"ab", "\x03"), strText), EArchiveRead::TooLong);
    EXPECT_EQ(Decode(std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10), strText),
              EArchiveRead::TooLong);
}
