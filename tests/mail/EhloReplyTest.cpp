#include "sender/mail/EhloReply.h"

#include <gtest/gtest.h>

namespace
{

struct SEhloRow
{
    const char* m_pszName;
    std::string m_strReply;
    bool m_bStartTls;
    bool m_bAuth;
    std::vector<std::string> m_aMechanisms;
    bool m_bSize;
    std::uint64_t m_nSizeLimit;
};

void PrintTo(const SEhloRow& row, std::ostream* pOut)
{
    *pOut << row.m_pszName;
}

class EhloReplyTest : public ::testing::TestWithParam<SEhloRow>
{
};

TEST_P(EhloReplyTest, FindsTheExtensionsItUses)
{
    const SEhloRow& row = GetParam();
    const SSmtpExtensions extensions = ParseEhloReply(row.m_strReply);
    EXPECT_EQ(extensions.m_bStartTls, row.m_bStartTls);
    EXPECT_EQ(extensions.m_bAuth, row.m_bAuth);
    EXPECT_EQ(extensions.m_aAuthMechanisms, row.m_aMechanisms);
    EXPECT_EQ(extensions.m_bSize, row.m_bSize);
    EXPECT_EQ(extensions.m_nSizeLimit, row.m_nSizeLimit);
}

std::string ManyLines(std::size_t nLines, const std::string& strLast)
{
    std::string strReply = "250-mx.example\r\n";
    for (std::size_t i = 0; i < nLines; ++i)
        strReply += "250-X-FILLER" + std::to_string(i) + "\r\n";
    return strReply + "250 " + strLast + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EhloReplyTest,
    ::testing::Values(
        SEhloRow{"OneLineOffersNothing", "250 mx.example\r\n", false, false, {}, false, 0},
        SEhloRow{"Submission",
                 "250-mx.example Hello\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n250-STARTTLS\r\n"
                 "250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 8BITMIME\r\n",
                 true,
                 true,
                 {"PLAIN", "LOGIN", "CRAM-MD5"},
                 true,
                 10240000},
        SEhloRow{"KeywordsInAnyCase",
                 "250-mx\r\n250-starttls\r\n250-Auth login Plain\r\n250 size 99\r\n",
                 true,
                 true,
                 {"LOGIN", "PLAIN"},
                 true,
                 99},
        // The greeting line names the server; "STARTTLS" there is no offer.
        SEhloRow{
            "GreetingLineIsNoKeyword", "250-STARTTLS.example\r\n250 HELP\r\n", false, false, {}, false, 0},
        SEhloRow{"BareLineFeedsAndTabs",
                 "250-mx\n250-AUTH\tPLAIN\n250 SIZE\t5\n",
                 false,
                 true,
                 {"PLAIN"},
                 true,
                 5},
        SEhloRow{"OldStyleAuthEqualsMergesWithoutRepeats",
                 "250-mx\r\n250-AUTH=LOGIN PLAIN\r\n250 AUTH PLAIN LOGIN XOAUTH2\r\n",
                 false,
                 true,
                 {"LOGIN", "PLAIN", "XOAUTH2"},
                 false,
                 0},
        SEhloRow{"AuthWithoutMechanisms", "250-mx\r\n250 AUTH\r\n", false, true, {}, false, 0},
        SEhloRow{"SizeWithoutNumberHasNoLimit", "250-mx\r\n250 SIZE\r\n", false, false, {}, true, 0},
        SEhloRow{"SizeWithGarbageHasNoLimit", "250-mx\r\n250 SIZE 12x\r\n", false, false, {}, true, 0},
        SEhloRow{"SizeTooLargeForANumberHasNoLimit",
                 "250-mx\r\n250 SIZE 99999999999999999999999\r\n",
                 false,
                 false,
                 {},
                 true,
                 0},
        SEhloRow{"NegativeSizeHasNoLimit", "250-mx\r\n250 SIZE -1\r\n", false, false, {}, true, 0},
        SEhloRow{"PrefixOfAKeywordIsNotIt",
                 "250-mx\r\n250-STARTTLSX\r\n250-AUTHX PLAIN\r\n250 SIZES 3\r\n",
                 false,
                 false,
                 {},
                 false,
                 0},
        SEhloRow{"LastLineWithinTheLineCapCounts",
                 ManyLines(MAX_EHLO_LINES - 2, "STARTTLS"),
                 true,
                 false,
                 {},
                 false,
                 0},
        SEhloRow{"LinesBeyondTheCapAreNotRead",
                 ManyLines(MAX_EHLO_LINES - 1, "STARTTLS"),
                 false,
                 false,
                 {},
                 false,
                 0},
        SEhloRow{"PartOfALineBeyondTheCapIsNotRead",
                 "250-mx\r\n250 AUTH " + std::string(MAX_EHLO_LINE_BYTES, ' ') + "PLAIN\r\n",
                 false,
                 true,
                 {},
                 false,
                 0}),
    [](const ::testing::TestParamInfo<SEhloRow>& info) { return std::string(info.param.m_pszName); });

} // namespace
