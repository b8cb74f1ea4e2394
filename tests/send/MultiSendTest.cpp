// One set of pages sent to several recipients through the real Pagemill: a refusal that goes on
// with the others, each with a cover of its own, the pages kept for a send again to the one
// refused; a server that cannot be reached and a cancel, which stop the rest.

#include "sender/send/MultiSend.h"

#include "platform/BinaryFile.h"
#include "platform/CancelSignal.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/faxpage/FaxPageReader.h"
#include "tests/support/MailDrop.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnusedPort.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;

SConverterRun RunPagemill(const fs::path& root)
{
    platform::SRunOptions options;
    options.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + root.string()});
    const auto run = platform::RunProgram({PAGEMILL_PROGRAM}, options);
    return SConverterRun{run.Succeeded(), run.Describe()};
}

class MultiSendTest : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        m_root = m_dir / "root";
        fs::create_directories(m_root / "c");
        ::setenv("VELLUM_ROOT", m_root.c_str(), 1);
        // Two printed pages.
        for (int nPage = 1; nPage <= 2; ++nPage)
            ASSERT_TRUE(platform::WriteWholeFile(m_root / "c" / platform::RasterFileName(nPage),
                                                 std::string(platform::RASTER_BYTES, char(nPage))));
        ASSERT_TRUE(platform::WriteWholeFile(m_root / "c/Page.tmp",
                                             std::string(1, char(platform::PageCountByte(2)))));
    }
    void TearDown() override
    {
        ::unsetenv("VELLUM_ROOT");
        CTempFolderTest::TearDown();
    }

    SSendJob Job(int nPort) const
    {
        SSendJob job;
        job.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
        job.m_strFrom = "ann@example.org";
        job.m_fnRunConverter = [this] { return RunPagemill(m_root); };
        job.m_fnRunConverterIn = RunPagemill;
        return job;
    }
    static SFaxRecipient Recipient(const std::string& strName, bool bCover = false)
    {
        SFaxRecipient recipient{strName, "4930", GatewayAddress(strName, "4930"), {}};
        if (bCover)
        {
            recipient.m_cover.emplace();
            recipient.m_cover->m_template = DEFAULT_TEMPLATE;
            recipient.m_cover->m_fields.m_strRecipient = strName;
        }
        return recipient;
    }
    bool PagesWait() const { return fs::exists(m_root / "c/Page.tmp"); }

    fs::path m_root;
};

TEST_F(MultiSendTest, ARefusalGoesOnWithTheOthersAndThePagesStayForASendAgain)
{
    CMailDrop drop;
    const int nPort =
        drop.Start(m_dir / "mail", {"--messages", "2", "--refuse", GatewayAddress("Bob", "4930")});
    ASSERT_NE(nPort, 0);
    const SMultiSendResult result = RunMultiSendJob(
        Job(nPort), {Recipient("Ann", true), Recipient("Bob", true), Recipient("Cleo", true)});
    ASSERT_TRUE(drop.Finish());
    ASSERT_FALSE(result.m_common);
    ASSERT_EQ(result.m_aOutcomes.size(), 3u);
    EXPECT_EQ(result.SentCount(), 2);
    EXPECT_NE(drop.Envelope(1).find(GatewayAddress("Ann", "4930")), std::string::npos);
    EXPECT_NE(drop.Envelope(2).find(GatewayAddress("Cleo", "4930")), std::string::npos);
    const SSendResult& ann = result.m_aOutcomes[0].m_result;
    const SSendResult& cleo = result.m_aOutcomes[2].m_result;
    EXPECT_EQ(result.m_aOutcomes[1].m_result.m_eOutcome, ESendOutcome::SendFailed);
    EXPECT_TRUE(result.m_aOutcomes[1].m_bTried);
    EXPECT_TRUE(RecipientOutcomeLine(result.m_aOutcomes[1]).starts_with("Bob (4930): not sent: "));
    EXPECT_EQ(MultiSendText(result).substr(0, 60),
              "The fax was sent to 2 of 3 recipients; its pages are kept fo");

    // Each has its own cover ahead of the same two pages.
    ASSERT_EQ(ann.m_aPageFiles.size(), 3u);
    ASSERT_EQ(cleo.m_aPageFiles.size(), 3u);
    EXPECT_TRUE(ann.m_bCoverSent);
    EXPECT_EQ(fs::path(ann.m_aPageFiles[1]), fs::path(cleo.m_aPageFiles[1]));
    std::string strError;
    const auto annCover = ReadFaxPage(ann.m_aPageFiles[0], strError);
    const auto cleoCover = ReadFaxPage(cleo.m_aPageFiles[0], strError);
    ASSERT_TRUE(annCover && cleoCover) << strError;
    EXPECT_NE(annCover->m_aBits, cleoCover->m_aBits);

    // The pages wait, made, for the one refused; once it has them they go.
    EXPECT_TRUE(PagesWait());
    CMailDrop again;
    const int nAgain = again.Start(m_dir / "again", {"--messages", "1"});
    const SMultiSendResult retry = RunMultiSendJob(Job(nAgain), {Recipient("Bob")});
    ASSERT_TRUE(again.Finish());
    EXPECT_TRUE(retry.AllSent());
    EXPECT_EQ(retry.m_aOutcomes[0].m_result.m_nPages, 2);
    EXPECT_FALSE(PagesWait());
}

TEST_F(MultiSendTest, NoServerOrACancelStopsTheRestAndKeepsThePages)
{
    platform::CCancelSignal cancel;
    cancel.Raise();
    struct SCase
    {
        const platform::CCancelSignal* m_pCancel;
        ESendOutcome m_eFirst;
        bool m_bFirstTried;
        std::string m_strSecondLine;
    } const cases[] = {
        {nullptr, ESendOutcome::ConnectFailed, true,
         "Bob (4930): not tried, as the mail server could not be used for the one before"},
        {&cancel, ESendOutcome::Cancelled, false, "Bob (4930): not sent, the send was cancelled"},
    };
    for (const SCase& c : cases)
    {
        SSendJob job = Job(UnusedPort());
        job.m_pCancel = c.m_pCancel;
        const SMultiSendResult result = RunMultiSendJob(job, {Recipient("Ann"), Recipient("Bob")});
        ASSERT_EQ(result.m_aOutcomes.size(), 2u);
        EXPECT_EQ(result.m_aOutcomes[0].m_result.m_eOutcome, c.m_eFirst);
        EXPECT_EQ(result.m_aOutcomes[0].m_bTried, c.m_bFirstTried);
        EXPECT_FALSE(result.m_aOutcomes[1].m_bTried);
        EXPECT_EQ(RecipientOutcomeLine(result.m_aOutcomes[1]), c.m_strSecondLine);
        EXPECT_TRUE(PagesWait());
    }
}

} // namespace
