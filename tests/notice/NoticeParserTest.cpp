// Notices read with GMime from a header and the start of a text, as fetched.
#include "sender/notice/NoticeParser.h"

#include <gtest/gtest.h>

namespace
{

TEST(NoticeParserTest, DecodesAndFiltersTheSubjectAndTheText)
{
    const SNotice notice =
        ParseNotice("Subject: =?UTF-8?Q?Fax_=C3=BCbermittelt=07=1B[31m?=\r\n"
                    "Date: Wed, 09 Dec 2026 22:00:00 +0100\r\n"
                    "In-Reply-To: <fax1@a.example>\r\nReferences: <x@b.example>\r\n <fax1@a.example>\r\n"
                    "Content-Type: text/plain; charset=iso-8859-1\r\n"
                    "Content-Transfer-Encoding: quoted-printable\r\n\r\n",
                    "\r\nSeite 1 =FCbertragen\r\n\r\nLeitung\tfrei\r\n", 5);
    EXPECT_EQ(notice.m_strSubject, "Fax \xc3\xbc"
                                   "bermittelt [31m");
    EXPECT_EQ(notice.m_nDate, 1796850000);
    EXPECT_EQ(notice.m_strFirstLines, "Seite 1 \xc3\xbc"
                                      "bertragen / Leitung frei");
    EXPECT_EQ(notice.m_aReferences,
              (std::vector<std::string>{"fax1@a.example", "x@b.example", "fax1@a.example"}));
    EXPECT_FALSE(notice.m_bDeliveryReport);
}

struct SReportCase
{
    const char* m_pszName;
    std::string m_strReturned; // the returned part, cut where the fetch may have cut it
    std::vector<std::string> m_aReturnedIds;
};

TEST(NoticeParserTest, ReadsADeliveryReportEvenWhenCutOff)
{
    const std::string strHeader =
        "Subject: Undelivered Mail\r\nDate: Wed, 09 Dec 2026 22:00:00 +0000\r\n"
        "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n\r\n";
    const std::string strStart =
        "--B\r\nContent-Type: text/plain\r\n\r\nNot delivered.\r\n"
        "--B\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx\r\n\r\n"
        "Final-Recipient: rfc822; a@x.example\r\nAction: delayed\r\nStatus: 4.4.1\r\n\r\n"
        "Final-Recipient: rfc822; b@x.example\r\nAction: Failed\r\nStatus: 5.1.1\r\n"
        "Diagnostic-Code: smtp; 550 5.1.1\r\n User unknown\r\n";
    const SReportCase CASES[] = {
        {"returned headers",
         "--B\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: <fax1@a.example>\r\n--B--\r\n",
         {"fax1@a.example"}},
        {"returned message",
         "--B\r\nContent-Type: message/rfc822\r\n\r\nMessage-ID: <fax2@a.example>\r\n\r\nHi\r\n",
         {"fax2@a.example"}},
        {"cut before the Message-ID", "--B\r\nContent-Type: text/rfc822-headers\r\n\r\nFrom: ann@a.exa", {}},
    };
    for (const SReportCase& test : CASES)
    {
        const SNotice notice = ParseNotice(strHeader, strStart + test.m_strReturned, 0);
        EXPECT_TRUE(notice.m_bDeliveryReport) << test.m_pszName;
        EXPECT_EQ(notice.m_report.m_strAction, "failed") << test.m_pszName;
        EXPECT_EQ(notice.m_report.m_strStatus, "5.1.1") << test.m_pszName;
        EXPECT_EQ(notice.m_report.m_strDiagnostic, "smtp; 550 5.1.1 User unknown") << test.m_pszName;
        EXPECT_EQ(notice.m_report.m_aReturnedIds, test.m_aReturnedIds) << test.m_pszName;
    }
}

} // namespace
