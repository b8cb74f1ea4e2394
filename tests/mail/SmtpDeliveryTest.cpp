// Delivery to a real SMTP server (aiosmtpd, run by the system Python) on loopback, whose
// stored message Python's email package must parse strictly, attachments byte for byte.
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/mail/MimeMail.h"
#include "sender/mail/SmtpLink.h"
#include "tests/support/SmtpPeer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const FROM = "me@example.com";
const char* const GATEWAY = "remote-printer.Bob_Smith@4930123456.fax.example";

class SmtpDeliveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("delivery-" + std::to_string(::getpid()));
        fs::create_directories(m_root / "c");
    }
    void TearDown() override { fs::remove_all(m_root); }

    // Starts the peer and returns its port, or 0.
    int StartPeer(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--from", FROM, "--to", GATEWAY});
        return m_peer.Start(args);
    }

    // Sends the message as the send operation does: connect, send, and QUIT whatever happened.
    void Deliver(CPlainMail& mail, int nPort)
    {
        CSmtpLink link("", 25);
        link.SetServer(("127.0.0.1:" + std::to_string(nPort)).c_str(), 25);
        ASSERT_TRUE(link.Connect()) << link.m_strError;
        EXPECT_TRUE(link.SendMail(mail)) << link.m_strError;
        EXPECT_TRUE(link.Disconnect()) << link.m_strError;
        EXPECT_EQ(link.m_strError, "OK");
    }

    void ExpectPeerSatisfied()
    {
        std::string strReport;
        EXPECT_TRUE(m_peer.Finish(strReport)) << strReport;
    }

    fs::path m_root;
    CSmtpPeer m_peer;
};

std::string Raster(const std::function<bool(int nX, int nY)>& fnBlack)
{
    std::string strRaster(std::size_t{platform::RASTER_ROW_BYTES} * platform::RASTER_ROWS, '\0');
    for (int y = 0; y < platform::RASTER_ROWS; ++y)
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            if (fnBlack(x, y))
                strRaster[std::size_t(y) * platform::RASTER_ROW_BYTES + x] = 1;
    return strRaster;
}

TEST_F(SmtpDeliveryTest, FaxPagesFromPagemillArriveByteForByteInPageOrder)
{
    // Three pages as the printer leaves them: a framed page with blocks of "text", one-pixel
    // stripes, and a white page. Pagemill turns them into c/quill1.tif to c/quill3.tif.
    const std::string pages[] = {
        Raster(
            [](int x, int y)
            {
                const bool bFrame = x < 20 || x >= platform::RASTER_ROW_BYTES - 20 || y < 20 ||
                                    y >= platform::RASTER_ROWS - 20;
                const bool bText =
                    y > 200 && y < 1800 && (y / 30) % 2 == 0 && (x / 7) % 5 != 0 && x > 150 && x < 1500;
                return bFrame || bText;
            }),
        Raster([](int x, int) { return x % 2 == 0; }),
        Raster([](int, int) { return false; }),
    };
    std::vector<std::string> files;
    for (std::size_t i = 0; i < std::size(pages); ++i)
    {
        std::ofstream(m_root / "c" / ("quill." + std::to_string(i + 1)), std::ios::binary) << pages[i];
        files.push_back((m_root / "c" / ("quill" + std::to_string(i + 1) + ".tif")).string());
    }
    std::ofstream(m_root / "c" / "Page.tmp", std::ios::binary) << static_cast<char>(std::size(pages) + 1);
    platform::SRunOptions pagemill;
    pagemill.m_aEnvironment = platform::EnvironmentWith(
        {"VELLUM_ROOT=" + m_root.string(), "VELLUM_MESSAGE_LOG=" + (m_root / "log").string()});
    pagemill.m_durTimeout = 120s;
    const auto converted = platform::RunProgram({PAGEMILL_PROGRAM}, pagemill);
    ASSERT_TRUE(converted.Succeeded()) << converted.Describe();
    for (const std::string& strFile : files)
        ASSERT_TRUE(fs::exists(strFile)) << strFile;

    const int nPort = StartPeer(files);
    ASSERT_NE(nPort, 0);
    CMimeMail mail;
    mail.m_strFrom = FROM;
    mail.AddRecipients(GATEWAY);
    mail.m_strSubject = "Hi! I am: Vellum Zeru 3.1";
    mail.m_strBody = "";
    for (const std::string& strFile : files)
        mail.AddPart(strFile.c_str(), AGENT_TIFF_ATTACHMENT, "");
    Deliver(mail, nPort);
    ExpectPeerSatisfied();
}

TEST_F(SmtpDeliveryTest, LinesBeginningWithADotArriveUnchanged)
{
    CPlainMail mail;
    mail.m_strFrom = FROM;
    mail.AddRecipient(GATEWAY, "");
    mail.m_strSubject = "dots";
    mail.m_strBody = ".\r\nline\r\n.hidden\r\n..two\r\n. \r\nend .\r\n.";
    // What the server keeps: the built body and the empty line in front of the end-of-data line.
    const fs::path expected = m_root / "expected";
    std::ofstream(expected, std::ios::binary) << mail.m_strBody << "\r\n\r\n";

    const int nPort = StartPeer({"--body", expected.string()});
    ASSERT_NE(nPort, 0);
    Deliver(mail, nPort);
    ExpectPeerSatisfied();
}

} // namespace
