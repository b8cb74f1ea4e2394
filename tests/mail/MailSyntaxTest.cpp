#include "sender/mail/MailSyntax.h"

#include <gtest/gtest.h>

namespace
{

TEST(MailSyntaxTest, OnlyAPlainAddressMaySend)
{
    EXPECT_TRUE(IsPlainAddress("ann@example.org"));
    EXPECT_TRUE(IsPlainAddress("a.b+c@[127.0.0.1]"));
    for (const char* pszBad : {"", "ann", "@example.org", "ann@", "a@b@c", "Ann <ann@example.org>",
                               "ann @x.org", "ann@x.org\r\nRCPT TO:<y@z>", "ann@x.org\t", "ann@x.org\x7F"})
        EXPECT_FALSE(IsPlainAddress(pszBad)) << pszBad;
    EXPECT_FALSE(IsPlainAddress(std::string_view("ann@x.org\0", 10)));
}

} // namespace
