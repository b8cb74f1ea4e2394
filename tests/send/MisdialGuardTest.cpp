#include "sender/send/MisdialGuard.h"

#include "platform/Text.h"

#include <gtest/gtest.h>

namespace
{

// Entry i of 500 is "Customer_i" at "4930" and i in three digits twice: any two entries differ in
// two digits of each half, so no number of the book is close to another.
std::string NumberOf(int nEntry)
{
    const std::string strDigits = std::to_string(1000 + nEntry).substr(1);
    return "4930" + strDigits + strDigits;
}

TEST(MisdialGuardTest, JudgesEachKindOfNumberAgainstABookOf500)
{
    std::vector<SAddressEntry> aBook;
    for (int n = 0; n < 500; ++n)
        aBook.push_back({"Customer_" + std::to_string(n), NumberOf(n)});
    aBook[7].m_strName = "Customer\x1b[2J\n_7"; // a damaged book's name reaches the question filtered
    struct SCase
    {
        std::string m_strName, m_strNumber;
        std::optional<EMisdial> m_eExpected;
        int m_nEntry = -1; // the entry named in the question
    };
    // clang-format off
    const SCase aCases[] = {
        {"Customer_123", "4930123123", std::nullopt},                           // the exact pair
        {"Stranger",     "4930007017", EMisdial::OneDigitOff, 7},               // one digit off
        {"Stranger",     "4930123132", EMisdial::SwappedDigits, 123},           // two neighbours swapped
        {"Stranger",     "4930123145", std::nullopt},                           // two neighbours changed
        {"Stranger",     "493012312", std::nullopt},                            // a prefix
        {"Stranger",     "49301231234", std::nullopt},                          // a longer number
        {"Stranger",     "4930123123", std::nullopt},                           // the same number, another name
        {"Stranger",     "4412345678", std::nullopt},                           // nothing close
        {"Customer_499", "4930200200", EMisdial::KnownNameOtherNumber, 499},    // a known name, another's number
    };
    // clang-format on
    for (const SCase& test : aCases)
    {
        SCOPED_TRACE(test.m_strName + " " + test.m_strNumber);
        const auto misdial = FindLikelyMisdial(aBook, test.m_strName, test.m_strNumber);
        ASSERT_EQ(misdial.has_value(), test.m_eExpected.has_value());
        if (!misdial)
            continue;
        const SAddressEntry& entry = aBook[static_cast<std::size_t>(test.m_nEntry)];
        EXPECT_EQ(misdial->m_eKind, *test.m_eExpected);
        EXPECT_EQ(misdial->m_strBookName, entry.m_strName);
        EXPECT_EQ(misdial->m_strBookNumber, entry.m_strNumber);
        const std::string strQuestion = MisdialQuestion(*misdial, test.m_strName, test.m_strNumber);
        const std::string strName = platform::PrintableUtf8(entry.m_strName);
        EXPECT_TRUE(strQuestion.ends_with("Did you mean " + entry.m_strNumber + " (" + strName + ")?"))
            << strQuestion;
        EXPECT_FALSE(platform::HoldsControlCharacter(strQuestion)) << strQuestion;
    }
}

} // namespace
