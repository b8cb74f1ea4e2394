#include "sender/mail/PlainTextAgent.h"
#include "sender/mail/TiffAttachmentAgent.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

const std::string LINE1 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1";
const std::string LINE2 = "Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWpr";

class TiffAttachmentAgentTest : public CTempFolderTest
{
protected:
    // A file of the bytes 0, 1, 2, ... and its path.
    std::string CountingFile(std::size_t nBytes)
    {
        std::string strData;
        for (std::size_t i = 0; i < nBytes; ++i)
            strData += static_cast<char>(i);
        const fs::path path = m_dir / ("quill" + std::to_string(nBytes) + ".tif");
        std::ofstream(path, std::ios::binary) << strData;
        return path.string();
    }
};

std::string HeaderFor(const std::string& strName)
{
    return "Content-Type: image/tiff; file=" + strName + "\r\nContent-Transfer-Encoding: base64\r\n" +
           "Content-Disposition: attachment; filename=" + strName + "\r\n\r\n";
}

TEST_F(TiffAttachmentAgentTest, WritesFiftyFourBytesALineAndEndsWithAnEmptyLine)
{
    const struct
    {
        std::size_t m_nBytes;
        std::string m_strContent;
    } cases[] = {
        {0, "\r\n\r\n"},
        {1, "AA==\r\n\r\n"},
        {2, "AAE=\r\n\r\n"},
        {3, "AAEC\r\n\r\n"},
        // A full last read is followed by a read of nothing, which gives an empty line of its own.
        {54, LINE1 + "\r\n\r\n\r\n"},
        {55, LINE1 + "\r\nNg==\r\n\r\n"},
        {108, LINE1 + "\r\n" + LINE2 + "\r\n\r\n\r\n"},
    };
    CTiffAttachmentAgent agent;
    for (const auto& test : cases)
    {
        const std::string strPath = CountingFile(test.m_nBytes);
        std::string strBody = "before\r\n";
        EXPECT_TRUE(agent.AppendPart(strPath.c_str(), "", strBody));
        EXPECT_EQ(strBody, "before\r\n" + HeaderFor("quill" + std::to_string(test.m_nBytes) + ".tif") +
                               test.m_strContent)
            << test.m_nBytes << " bytes";
    }
}

TEST_F(TiffAttachmentAgentTest, HeaderNamesTheFileWithoutDriveOrFolders)
{
    CTiffAttachmentAgent agent;
    const std::string strExpected = HeaderFor("quill1.tif");
    EXPECT_EQ(agent.BuildPartHeader("c:\\quill1.tif", ""), strExpected);
    EXPECT_EQ(agent.BuildPartHeader("quill1.tif", "ignored"), strExpected);
    EXPECT_EQ(agent.BuildPartHeader("/home/me/.local/share/vellum/c/quill1.tif", nullptr), strExpected);
    EXPECT_EQ(agent.BuildPartHeader(("/x/" + std::string(300, 'n') + ".tif").c_str(), ""),
              HeaderFor(std::string(255, 'n') + ".tif"));
    EXPECT_EQ(agent.GetContentType(), "image/tiff");
    EXPECT_TRUE(agent.Matches(AGENT_TIFF_ATTACHMENT));
    EXPECT_FALSE(agent.Matches(AGENT_PLAIN_TEXT));
}

TEST_F(TiffAttachmentAgentTest, FileThatCannotBeAttachedLeavesTheBodyAsItWas)
{
    CTiffAttachmentAgent agent;
    std::string strBody = "kept";
    EXPECT_FALSE(agent.AppendPart(nullptr, "", strBody));
    EXPECT_FALSE(agent.AppendPart((m_dir / "missing.tif").c_str(), "", strBody));
    EXPECT_FALSE(agent.AppendPart(m_dir.c_str(), "", strBody)); // a folder
    // A name with a line break would start a header line of its own.
    const fs::path evil = m_dir / "a\r\nContent-Type: text/html.tif";
    std::ofstream(evil) << "x";
    EXPECT_FALSE(agent.AppendPart(evil.c_str(), "", strBody));
    EXPECT_EQ(strBody, "kept");
}

TEST(PlainTextAgentTest, WritesASevenBitTextPartWithoutAFinalLineBreak)
{
    CPlainTextAgent agent(AGENT_PLAIN_TEXT, 76);
    std::string strBody;
    EXPECT_TRUE(agent.AppendPart("Hello there", "", strBody));
    EXPECT_EQ(strBody, "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\nHello there");
    EXPECT_EQ(agent.BuildPartHeader("", "; charset=us-ascii"),
              "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n");
    EXPECT_EQ(agent.GetContentType(), "text/plain");
    EXPECT_TRUE(agent.Matches(AGENT_PLAIN_TEXT));
    EXPECT_FALSE(agent.Matches(AGENT_TIFF_ATTACHMENT));
}

TEST(PlainTextAgentTest, WrapTextBreaksAtTheLastSpaceBeforeTheLimit)
{
    CPlainTextAgent agent(AGENT_PLAIN_TEXT, 76);
    EXPECT_EQ(agent.WrapText(nullptr), "");
    EXPECT_EQ(agent.WrapText("short words"), "short words");

    // Words of 9 letters and a space: the 78th character is inside the eighth word, so the
    // break replaces the space after the seventh (at position 69).
    std::string strWords;
    for (int i = 0; i < 10; ++i)
        strWords += std::string(9, static_cast<char>('a' + i)) + " ";
    strWords.pop_back();
    const std::string strWrapped = agent.WrapText(strWords.c_str());
    EXPECT_EQ(strWrapped, strWords.substr(0, 69) + "\r\n" + strWords.substr(70));

    // A line of exactly 77 characters stays whole; one more character breaks it.
    const std::string str77 = std::string(40, 'x') + " " + std::string(36, 'y');
    EXPECT_EQ(agent.WrapText(str77.c_str()), str77);
    EXPECT_EQ(agent.WrapText((str77 + "z").c_str()),
              std::string(40, 'x') + "\r\n" + std::string(36, 'y') + "z");

    // No space among the first 78 characters: a line break goes in front and the run stays whole.
    const std::string strRun(100, 'r');
    EXPECT_EQ(agent.WrapText((strRun + " tail").c_str()), "\r\n" + strRun + " tail");

    // White space around a break gives way to it.
    const std::string strSpaced = std::string(70, 'p') + "   \t  " + std::string(10, 'q');
    EXPECT_EQ(agent.WrapText(strSpaced.c_str()), std::string(70, 'p') + "\r\n" + std::string(10, 'q'));
}

TEST(PlainTextAgentTest, WrapTextRestartsTheCountAfterALineBreakInTheText)
{
    CPlainTextAgent agent(AGENT_PLAIN_TEXT, 10);
    // The CR LF of a break in the text counts, so the next line of 11 characters is broken although
    // it would fit.
    EXPECT_EQ(agent.WrapText("aaaa bbbb\r\ncc dd ee ff"), "aaaa bbbb\r\ncc dd ee\r\nff");
    // A negative length counts as a huge one: nothing is broken.
    CPlainTextAgent unlimited(AGENT_PLAIN_TEXT, -1);
    const std::string strLong = std::string(500, 'a') + " b";
    EXPECT_EQ(unlimited.WrapText(strLong.c_str()), strLong);
}

} // namespace
