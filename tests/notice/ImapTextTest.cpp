// The IMAP texts the client writes and reads besides responses.
#include "sender/notice/ImapText.h"

#include <gtest/gtest.h>

namespace
{

TEST(ImapTextTest, WritesFolderNamesInModifiedUtf7)
{
    const std::pair<const char*, const char*> CASES[] = {
        {"INBOX", "\"INBOX\""},
        // RFC 3501 5.1.3's own example.
        {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
         "\"~peter/mail/&U,BTFw-/&ZeVnLIqe-\""},
        {"Faxes & \"Notices\"", "\"Faxes &- \\\"Notices\\\"\""},
        {"bad\xff", ""},
        {"line\r\nbreak", ""},
    };
    for (const auto& [pszFolder, pszName] : CASES)
        EXPECT_EQ(MailboxName(pszFolder), pszName) << pszFolder;
}

TEST(ImapTextTest, ReadsDatesAndWritesUidSets)
{
    EXPECT_EQ(ParseInternalDate("09-Dec-2026 23:07:35 +0100"), 1796854055);
    EXPECT_EQ(ParseInternalDate(" 9-Dec-2026 22:07:35 +0000"), 1796854055);
    EXPECT_EQ(ParseInternalDate("09-Dez-2026 22:07:35 +0000"), 0);
    EXPECT_EQ(SearchDate(1796854055), "9-Dec-2026");
    EXPECT_EQ(UidSet({3, 4, 5, 7, 9, 10}), "3:5,7,9:10");
}

} // namespace
