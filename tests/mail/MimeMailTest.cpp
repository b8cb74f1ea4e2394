#include "sender/mail/MimeMail.h"

#include "sender/mail/ContentAgentRegistry.h"
#include "sender/mail/PlainTextAgent.h"
#include "sender/mail/TiffAttachmentAgent.h"
#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

constexpr std::time_t FIXED_TIME = 1'800'000'000; // Fri, 15 Jan 2027 08:00:00 UTC

void SetZone(const char* pszZone)
{
    ::setenv("TZ", pszZone, 1);
    ::tzset();
}

void FixClock(CPlainMail& mail)
{
    mail.SetTimeSource([] { return FIXED_TIME; });
    mail.SetMessageIdSource([](const CPlainMail&) { return std::string("<fixed.1@example.com>"); });
}

std::vector<std::pair<std::string, std::string>> Recipients(const CPlainMail& mail)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < mail.GetRecipientCount(); ++i)
    {
        std::string strAddress;
        std::string strName;
        EXPECT_TRUE(mail.GetRecipient(i, strAddress, strName));
        entries.emplace_back(strAddress, strName);
    }
    return entries;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(PlainMailTest, AddRecipientsSplitsAtSemicolonsAndTakesAddressesFromAngleBrackets)
{
    const struct
    {
        const char* m_pszList;
        bool m_bResult;
        Entries m_entries;
    } cases[] = {
        {"a@example.com", true, {{"a@example.com", ""}}},
        {"Bob Smith <bob@example.com>", true, {{"bob@example.com", "Bob Smith "}}},
        {"<a@x>;b@y;C <c@z>", true, {{"a@x", ""}, {"b@y", ""}, {"c@z", "C "}}},
        {"a@x;", true, {{"a@x", ""}, {"", ""}}},
        {"", true, {{"", ""}}},
        {"a@x; b@y", true, {{"a@x", ""}, {" b@y", ""}}}, // nothing is trimmed
        {"a@x;Eve <e@y;c@z", false, {{"a@x", ""}}},
        {"a>b<c", false, {}},
    };
    for (const auto& test : cases)
    {
        CPlainMail mail;
        EXPECT_EQ(mail.AddRecipients(test.m_pszList), test.m_bResult) << test.m_pszList;
        EXPECT_EQ(Recipients(mail), test.m_entries) << test.m_pszList;
    }
    CPlainMail mail;
    EXPECT_FALSE(mail.AddRecipients(nullptr));
    EXPECT_EQ(mail.GetRecipientCount(), 0);
}

TEST(PlainMailTest, GetRecipientOutsideTheEntriesLeavesTheOutputs)
{
    CPlainMail mail;
    mail.AddRecipient("a@x", "A");
    std::string strAddress = "unchanged";
    std::string strName = "unchanged";
    EXPECT_FALSE(mail.GetRecipient(1, strAddress, strName));
    EXPECT_FALSE(mail.GetRecipient(-1, strAddress, strName));
    EXPECT_EQ(strAddress + strName, "unchangedunchanged");
}

TEST(PlainMailTest, ToLineJoinsBracketedAddressesWithoutSpaces)
{
    SetZone("UTC0");
    const struct
    {
        const char* m_pszList;
        const char* m_pszLine;
    } cases[] = {
        {"a@x", "To: <a@x>\r\n"},
        {"a@x;b@y", "To: <a@x>,<b@y>\r\n"},
        {"Bob <b@y>", "To: Bob <b@y>\r\n"},
        {nullptr, "To: \r\n"},
    };
    for (const auto& test : cases)
    {
        CPlainMail mail;
        FixClock(mail);
        if (test.m_pszList != nullptr)
            mail.AddRecipients(test.m_pszList);
        mail.Build();
        EXPECT_NE(mail.GetHeader().find(std::string("\r\n") + test.m_pszLine), std::string::npos)
            << mail.GetHeader();
    }
}

TEST(PlainMailTest, DateHasEnglishNamesAFourDigitYearAndANumericZone)
{
    const struct
    {
        const char* m_pszZone;
        const char* m_pszDate;
    } cases[] = {
        {"UTC0", "Fri, 15 Jan 2027 08:00:00 +0000"},    {"IST-5:30", "Fri, 15 Jan 2027 13:30:00 +0530"},
        {"NST3:30", "Fri, 15 Jan 2027 04:30:00 -0330"}, {"XYZ-14", "Fri, 15 Jan 2027 22:00:00 +1400"},
        {"ABC12", "Thu, 14 Jan 2027 20:00:00 -1200"},
    };
    for (const auto& test : cases)
    {
        SetZone(test.m_pszZone);
        EXPECT_EQ(FormatMailDate(FIXED_TIME), test.m_pszDate) << test.m_pszZone;
    }
    SetZone("UTC0");
    EXPECT_EQ(FormatMailDate(0), "Thu, 01 Jan 1970 00:00:00 +0000");
    EXPECT_EQ(FormatMailDate(951'782'400), "Tue, 29 Feb 2000 00:00:00 +0000");
}

TEST(PlainMailTest, PlainBodyEndsWithALineBreak)
{
    SetZone("UTC0");
    CPlainMail mail;
    FixClock(mail);
    mail.m_strFrom = "me@example.com";
    mail.AddRecipient("a@x", "");
    mail.m_strSubject = "S";
    mail.m_strBody = "text";
    mail.Build();
    EXPECT_EQ(mail.GetHeader(),
              "From: me@example.com\r\nTo: <a@x>\r\nDate: Fri, 15 Jan 2027 08:00:00 +0000\r\n"
              "Message-ID: <fixed.1@example.com>\r\nSubject: S\r\nX-Mailer: ZR Mail\r\n\r\n");
    EXPECT_EQ(mail.m_strBody, "text\r\n");
    EXPECT_EQ(mail.GetDate(), FIXED_TIME);
}

TEST(PlainMailTest, MessageIdIsUniqueAndNamesTheSendersDomain)
{
    const std::regex idForm(R"(<[0-9a-f]+\.[0-9a-f]+\.[0-9a-f]{16}@([A-Za-z0-9.-]+)>)");
    CPlainMail mail;
    mail.m_strFrom = "me@mail.example.com";
    std::string strFirst = MakeMessageId(mail);
    const std::string strSecond = MakeMessageId(mail);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(strFirst, match, idForm)) << strFirst;
    EXPECT_EQ(match[1], "mail.example.com");
    EXPECT_NE(strFirst, strSecond);

    // A sender without a usable domain: the host name or "localhost", never the sender's text.
    mail.m_strFrom = "me@bad domain>";
    ASSERT_TRUE(std::regex_match(strFirst = MakeMessageId(mail), match, idForm)) << strFirst;
    EXPECT_EQ(std::string(match[1]).find("bad"), std::string::npos);

    mail.AddRecipient("a@x", "");
    mail.Build();
    EXPECT_TRUE(
        std::regex_search(mail.GetHeader(), std::regex("\r\nDate: [^\r]+\r\nMessage-ID: <[^>]+>\r\n")))
        << mail.GetHeader();
}

class MimeMailTest : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        SetZone("IST-5:30");
    }

    std::string File(const std::string& strName, const std::string& strData)
    {
        const fs::path path = m_dir / strName;
        std::ofstream(path, std::ios::binary) << strData;
        return path.string();
    }
};

std::string CountingBytes(std::size_t nBytes)
{
    std::string strData;
    for (std::size_t i = 0; i < nBytes; ++i)
        strData += static_cast<char>(i);
    return strData;
}

TEST_F(MimeMailTest, BuildsTheWholeFaxMessage)
{
    CMimeMail mail;
    FixClock(mail);
    mail.m_strFrom = "me@example.com";
    mail.AddRecipients("remote-printer.Bob@4930123.fax.example");
    mail.m_strSubject = "Hi! I am: test";
    mail.m_strBody = "";
    mail.AddPart(File("quill1.tif", "abc").c_str(), AGENT_TIFF_ATTACHMENT, "");
    mail.AddPart(("  " + File("quill2.tif", CountingBytes(55)) + "\r\n").c_str(), AGENT_TIFF_ATTACHMENT, "");
    mail.Build();

    EXPECT_EQ(mail.GetHeader(), "From: me@example.com\r\n"
                                "To: <remote-printer.Bob@4930123.fax.example>\r\n"
                                "Date: Fri, 15 Jan 2027 13:30:00 +0530\r\n"
                                "Message-ID: <fixed.1@example.com>\r\n"
                                "Subject: Hi! I am: test\r\n"
                                "X-Mailer: ZR Mail\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed; boundary=ZR_MAIL_PaRt_BoUnDaRy_05151998\r\n"
                                "\r\n");
    EXPECT_EQ(mail.m_strBody, "This is a multi-part message in MIME format.\r\n"
                              "\r\n"
                              "--ZR_MAIL_PaRt_BoUnDaRy_05151998\r\n"
                              "Content-Type: image/tiff; file=quill1.tif\r\n"
                              "Content-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=quill1.tif\r\n"
                              "\r\n"
                              "YWJj\r\n"
                              "\r\n"
                              "--ZR_MAIL_PaRt_BoUnDaRy_05151998\r\n"
                              "Content-Type: image/tiff; file=quill2.tif\r\n"
                              "Content-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=quill2.tif\r\n"
                              "\r\n"
                              "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
                              "Ng==\r\n"
                              "\r\n"
                              "--ZR_MAIL_PaRt_BoUnDaRy_05151998--\r\n");
}

TEST_F(MimeMailTest, TextPartComesFirstAndEveryBoundaryStartsALine)
{
    CMimeMail mail;
    FixClock(mail);
    mail.SetBoundary("B");
    mail.AddRecipient("a@x", "");
    mail.AddPart(File("one.tif", "").c_str(), AGENT_TIFF_ATTACHMENT, "");
    mail.AddPart((m_dir / "missing.tif").c_str(), AGENT_TIFF_ATTACHMENT, "");
    mail.AddPart("unknown kind", 7, "");
    mail.AddPart(File("two.tif", "ab").c_str(), AGENT_TIFF_ATTACHMENT, "");
    mail.m_strBody = "\t Hello\r\n";
    mail.Build();
    EXPECT_NE(mail.GetHeader().find("\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(mail.m_strBody,
              "This is a multi-part message in MIME format.\r\n\r\n"
              "--B\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\nHello\r\n"
              "--B\r\nContent-Type: image/tiff; file=one.tif\r\nContent-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=one.tif\r\n\r\n\r\n\r\n"
              "--B\r\n" // the missing file: a boundary with nothing behind it
              "--B\r\nContent-Type: image/tiff; file=two.tif\r\nContent-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=two.tif\r\n\r\nYWI=\r\n\r\n"
              "--B--\r\n");
}

TEST_F(MimeMailTest, MessageWithoutPartsHasPreambleAndClosingBoundary)
{
    CMimeMail mail;
    FixClock(mail);
    mail.Build();
    EXPECT_EQ(mail.m_strBody,
              "This is a multi-part message in MIME format.\r\n\r\n--ZR_MAIL_PaRt_BoUnDaRy_05151998--\r\n");
    EXPECT_NE(mail.GetHeader().find("\r\nTo: \r\n"), std::string::npos);
}

TEST(ContentAgentRegistryTest, FindsTheEarliestAgentOfAKind)
{
    CContentAgentRegistry registry;
    auto* pFirst = new CPlainTextAgent(AGENT_PLAIN_TEXT, 76);
    auto* pSecond = new CPlainTextAgent(AGENT_PLAIN_TEXT, 10);
    auto* pTiff = new CTiffAttachmentAgent;
    registry.RegisterAgent(nullptr);
    registry.RegisterAgent(pFirst);
    registry.RegisterAgent(pTiff);
    registry.RegisterAgent(pSecond);
    EXPECT_EQ(registry.FindAgent(AGENT_PLAIN_TEXT), pFirst);
    EXPECT_EQ(registry.FindAgent(AGENT_TIFF_ATTACHMENT), pTiff);
    EXPECT_EQ(registry.FindAgent(2), nullptr);

    // Every message registers a pair with the process-wide registry; the first pair serves them all.
    CMimeMail first;
    CContentAgent* pShared = CContentAgentRegistry::Instance().FindAgent(AGENT_TIFF_ATTACHMENT);
    CMimeMail second;
    EXPECT_NE(pShared, nullptr);
    EXPECT_EQ(CContentAgentRegistry::Instance().FindAgent(AGENT_TIFF_ATTACHMENT), pShared);
}

} // namespace
