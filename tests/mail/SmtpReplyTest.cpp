#include "sender/mail/SmtpReply.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

TEST(SmtpReplyTest, OnlyTheFinalLineEndsAReplyAndGivesItsCode)
{
    const std::string strReply = "220-mx.example ESMTP\r\n220-second\r\n221 last\r\n";
    const SSmtpReply reply = ParseSmtpReply(strReply + "250 next reply\r\n");
    EXPECT_EQ(reply.m_eStatus, EReplyStatus::Complete);
    EXPECT_EQ(reply.m_nCode, 221);
    EXPECT_EQ(reply.m_nLength, strReply.size());

    EXPECT_EQ(ParseSmtpReply("250\r\n").m_nCode, 250);   // a code alone is a final line
    EXPECT_EQ(ParseSmtpReply("354 go\n").m_nLength, 7u); // bare LF ends a line too
}

TEST(SmtpReplyTest, ReplyIsIncompleteAtEverySplitBeforeItsFinalLineEnd)
{
    const std::string strReply = "250-mx.example\r\n250-SIZE 100\r\n250 HELP\r\n";
    for (std::size_t nCut = 0; nCut < strReply.size(); ++nCut)
    {
        const SSmtpReply reply = ParseSmtpReply(std::string_view(strReply).substr(0, nCut));
        EXPECT_EQ(reply.m_eStatus, EReplyStatus::Incomplete) << "cut at " << nCut;
    }
    const SSmtpReply whole = ParseSmtpReply(strReply);
    EXPECT_EQ(whole.m_eStatus, EReplyStatus::Complete);
    EXPECT_EQ(whole.m_nCode, 250);
}

TEST(SmtpReplyTest, FinalLineWithoutThreeDigitsHasCodeZero)
{
    for (const char* pszReply : {"ok\r\n", "25\r\n", "2x0 ok\r\n", "\r\n", " 250 ok\r\n"})
    {
        const SSmtpReply reply = ParseSmtpReply(pszReply);
        EXPECT_EQ(reply.m_eStatus, EReplyStatus::Complete) << pszReply;
        EXPECT_EQ(reply.m_nCode, 0) << pszReply;
    }
}

TEST(SmtpReplyTest, OverlongLineOrReplyIsRefusedEvenBeforeItEnds)
{
    const std::string strLongLine = "250 " + std::string(MAX_REPLY_LINE_BYTES, 'x');
    EXPECT_EQ(ParseSmtpReply(strLongLine).m_eStatus, EReplyStatus::TooLong);
    EXPECT_EQ(ParseSmtpReply(strLongLine + "\r\n").m_eStatus, EReplyStatus::TooLong);
    const std::string strFitting = "250 " + std::string(MAX_REPLY_LINE_BYTES - 6, 'x') + "\r\n";
    EXPECT_EQ(ParseSmtpReply(strFitting).m_eStatus, EReplyStatus::Complete);

    std::string strEndless;
    while (strEndless.size() <= MAX_REPLY_BYTES)
        strEndless += "250-" + std::string(100, 'y') + "\r\n";
    EXPECT_EQ(ParseSmtpReply(strEndless).m_eStatus, EReplyStatus::TooLong);
    EXPECT_EQ(ParseSmtpReply(strEndless.substr(0, MAX_REPLY_BYTES - 200)).m_eStatus,
              EReplyStatus::Incomplete);
}

TEST(SmtpReplyTest, ShownReplyIsPrintableOneLineAndBounded)
{
    EXPECT_EQ(PrintableReplyText("535-5.7.8 no\r\n535 5.7.8 go away\r\n"), "535-5.7.8 no 535 5.7.8 go away");
    EXPECT_EQ(PrintableReplyText("550 \x1b[31mred\x7f\xc3\xa9\tx\rY\n"), "550 ?[31mred????x?Y");
    EXPECT_EQ(PrintableReplyText(""), "");
    const std::string strLong = "554 " + std::string(1000, 'a') + "\r\n";
    const std::string strShown = PrintableReplyText(strLong);
    EXPECT_EQ(strShown.size(), MAX_SHOWN_REPLY_BYTES);
    EXPECT_EQ(strShown, strLong.substr(0, MAX_SHOWN_REPLY_BYTES - 3) + "...");
    // Exactly at the limit nothing is cut.
    const std::string strFits = "554 " + std::string(MAX_SHOWN_REPLY_BYTES - 4, 'b');
    EXPECT_EQ(PrintableReplyText(strFits + "\r\n"), strFits);
}

TEST(SmtpReplyTest, WholeReplyKeepsEveryLineAndShowsOnlyPrintableBytes)
{
    EXPECT_EQ(WholeReplyText("250-2.0.0 Ok\r\n250 queued as AB12\r\n"), "250-2.0.0 Ok\n250 queued as AB12");
    EXPECT_EQ(WholeReplyText("250 a\x1b\xc3\xa9\tb\rc\nd\r\n"), "250 a????b?c\nd");
    const std::string strLong = "250 " + std::string(1000, 'q');
    EXPECT_EQ(WholeReplyText(strLong + "\r\n"), strLong);
}

} // namespace
