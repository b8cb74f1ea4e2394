#include "sender/mail/Base64Codec.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

std::string Encode(const std::string& strData)
{
    CBase64Codec codec;
    return codec.Encode(reinterpret_cast<const std::uint8_t*>(strData.data()),
                        static_cast<int>(strData.size()));
}

std::string Decode(const std::string& strText)
{
    CBase64Codec codec;
    std::vector<std::uint8_t> output(strText.size() + 1, 0xAA);
    const int nLength = codec.Decode(strText.c_str(), output.data());
    return std::string(reinterpret_cast<const char*>(output.data()), static_cast<std::size_t>(nLength));
}

// RFC 4648 section 10.
TEST(Base64CodecTest, EncodesTheTestVectorsOfRfc4648)
{
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encode(std::string("\xFB\xFF\xBF\x00", 4)), "+/+/AA==");

    CBase64Codec codec;
    EXPECT_EQ(codec.Encode(nullptr, 5), "");
    // The bit buffer starts empty at every call: the second result does not see the first's bits.
    const std::uint8_t bytes[] = {'f', 'o', 'o', 'b'};
    EXPECT_EQ(codec.Encode(bytes, 1), "Zg==");
    EXPECT_EQ(codec.Encode(bytes + 1, 3), "b29i");
}

TEST(Base64CodecTest, DecodesWhatItEncodesForEveryByteValueAndLength)
{
    std::string strAll;
    for (int i = 0; i < 256; ++i)
        strAll += static_cast<char>(i);
    for (std::size_t nLength = 0; nLength <= strAll.size(); nLength += 37)
        EXPECT_EQ(Decode(Encode(strAll.substr(0, nLength))), strAll.substr(0, nLength));
    EXPECT_EQ(Decode("Zm9vYmFy"), "foobar");
    EXPECT_EQ(Decode("Zm9vYg=="), "foob");
}

TEST(Base64CodecTest, DecodeStopsWithNothingAtACharacterOutsideTheAlphabet)
{
    EXPECT_EQ(Decode("Zm9v\r\nYmFy"), "");
    EXPECT_EQ(Decode("Zm9v*"), "");
    EXPECT_EQ(Decode(""), "");
    // Characters with the top bit set count as their low seven bits.
    EXPECT_EQ(Decode("\xDAm9v"), "foo");
    CBase64Codec codec;
    std::uint8_t output[4] = {};
    EXPECT_EQ(codec.Decode(nullptr, output), 0);
    EXPECT_EQ(codec.Decode("Zg==", nullptr), 0);
}

} // namespace
