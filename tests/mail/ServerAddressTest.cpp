#include "sender/mail/ServerAddress.h"

#include <gtest/gtest.h>

namespace
{

TEST(ServerAddressTest, HostMayCarryAPortAfterAColonOrAfterBrackets)
{
    const struct
    {
        const char* m_pszText;
        const char* m_pszHost;
        int m_nPort;
    } cases[] = {
        {"mail.example.com", "mail.example.com", 25},
        {" mail.example.com:587 ", "mail.example.com", 587},
        {"192.0.2.7:2525", "192.0.2.7", 2525},
        {"[2001:db8::1]:26", "2001:db8::1", 26},
        {"[::1]", "::1", 25},
        {"2001:db8::1", "2001:db8::1", 25}, // a bare IPv6 address has no port
        {"h:65535", "h", 65535},
    };
    for (const auto& test : cases)
    {
        const auto address = ParseServerAddress(test.m_pszText);
        ASSERT_TRUE(address) << test.m_pszText;
        EXPECT_EQ(address->m_strHost, test.m_pszHost);
        EXPECT_EQ(address->m_nPort, test.m_nPort);
    }
    EXPECT_EQ(ParseServerAddress("h", 2525)->m_nPort, 2525);
}

TEST(ServerAddressTest, MalformedSettingsGiveNoAddress)
{
    for (const char* pszText : {"", "  ", "h:", "h:0", "h:65536", "h:25x", "h:-1", ":25", "[::1", "[::1]25",
                                "[]:25", "[::1]:", "two words", "h:1234567"})
        EXPECT_FALSE(ParseServerAddress(pszText)) << pszText;
}

} // namespace
