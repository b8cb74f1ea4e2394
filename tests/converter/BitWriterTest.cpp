#include "converter/BitWriter.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

std::vector<std::uint8_t> Bytes(const converter::CBitWriter& bits)
{
    return {bits.Data(), bits.Data() + bits.Size()};
}

TEST(BitWriterTest, PacksMostSignificantBitFirstAndPadsWithZeros)
{
    converter::CBitWriter bits;
    bits.Reserve(16);
    bits.Put(0b101, 3);
    bits.Put(0b1, 1);
    bits.Put(0b0011, 4);
    bits.Put(0b1, 1);
    bits.AlignToByte();
    EXPECT_EQ(Bytes(bits), (std::vector<std::uint8_t>{0xB3, 0x80}));
    bits.AlignToByte(); // already aligned: adds nothing
    EXPECT_EQ(bits.Size(), 2u);
}

TEST(BitWriterTest, MatchesABitByBitModelForRandomCodesAcrossGrowth)
{
    std::mt19937 random(7);
    converter::CBitWriter bits;
    std::vector<bool> model;
    for (int nRound = 0; nRound < 3; ++nRound)
    {
        bits.Reset();
        model.clear();
        for (int i = 0; i < 100000; ++i)
        {
            const int nLength = 1 + static_cast<int>(random() % 32);
            const std::uint32_t nCode =
                static_cast<std::uint32_t>(random()) & (nLength == 32 ? ~0u : (1u << nLength) - 1);
            bits.Reserve(8);
            bits.Put(nCode, nLength);
            for (int b = nLength - 1; b >= 0; --b)
                model.push_back((nCode >> b) & 1);
            if (random() % 50 == 0)
            {
                bits.AlignToByte();
                while (model.size() % 8 != 0)
                    model.push_back(false);
            }
        }
        bits.AlignToByte();
        while (model.size() % 8 != 0)
            model.push_back(false);
        ASSERT_EQ(bits.Size(), model.size() / 8);
        for (std::size_t i = 0; i < bits.Size(); ++i)
        {
            std::uint8_t nExpected = 0;
            for (int b = 0; b < 8; ++b)
                nExpected = static_cast<std::uint8_t>(nExpected << 1 | model[i * 8 + b]);
            ASSERT_EQ(bits.Data()[i], nExpected) << "byte " << i << " round " << nRound;
        }
    }
}

} // namespace
