#include "sender/app/CommandSend.h"

#include <gtest/gtest.h>

namespace
{

TEST(CommandSendTest, RecipientsGoInPairsAndEveryOtherMistakeIsSaid)
{
    std::string strError;
    const auto options = ParseSendOptions({"--send", "--to", "Ann Smith", "--number", "4930111", "--cover",
                                           "--subject", "Invoice", "--to", "--number", "--number", "4930222",
                                           "--dry-run", "--yes", "--check", "a.pdf", "--", "--b.txt"},
                                          strError);
    ASSERT_TRUE(options) << strError;
    ASSERT_EQ(options->m_aRecipients.size(), 2u);
    EXPECT_EQ(options->m_aRecipients[0].m_strName, "Ann Smith");
    // A value is the next argument whatever it is: a name may be "--number".
    EXPECT_EQ(options->m_aRecipients[1].m_strName, "--number");
    EXPECT_EQ(options->m_aRecipients[1].m_strNumber, "4930222");
    EXPECT_TRUE(options->m_bCover && options->m_bDryRun && options->m_bYes && options->m_bCheck);
    EXPECT_EQ(options->m_strSubject, "Invoice");
    EXPECT_EQ(options->m_aFiles, (std::vector<std::string>{"a.pdf", "--b.txt"}));

    const std::pair<QStringList, const char*> aRefused[] = {
        {{"--send"}, "--send needs at least one --to NAME --number NUMBER."},
        {{"--to", "Ann"}, "each --to NAME is followed by --number NUMBER."},
        {{"--to", "Ann", "4930"}, "each --to NAME is followed by --number NUMBER."},
        {{"--number", "4930", "--to", "Ann"}, "--number follows the --to NAME it belongs to."},
        {{"--to", "Ann", "--number"}, "--number needs a value after it."},
        {{"--to", "A", "--number", "1", "--note", "hi"}, "--subject and --note are the cover page's"},
        {{"--to", "A", "--number", "1", "--password-fd", "1"}, "--password-fd takes the number of an open"},
        {{"--to", "A", "--number", "1", "--password-fd", "9999"},
         "--password-fd takes the number of an open"},
        {{"--to", "A", "--number", "1", "--password", "x\x1b"}, "there is no option --password"},
    };
    for (const auto& [aArgs, pszSays] : aRefused)
    {
        strError.clear();
        EXPECT_FALSE(ParseSendOptions(aArgs, strError)) << aArgs.join(' ').toStdString();
        EXPECT_TRUE(strError.starts_with(pszSays)) << strError;
        EXPECT_EQ(strError.find('\x1b'), std::string::npos);
    }

    char szProgram[] = "Sendwell", szSend[] = "--send", szEnd[] = "--";
    char* aSend[] = {szProgram, szSend};
    char* aFile[] = {szProgram, szEnd, szSend};
    EXPECT_TRUE(IsCommandLineSend(2, aSend));
    EXPECT_FALSE(IsCommandLineSend(3, aFile));
}

} // namespace
