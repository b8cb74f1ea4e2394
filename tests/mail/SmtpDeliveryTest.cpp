// Delivery to a real SMTP server (aiosmtpd, run by the system Python) on loopback, whose
// stored message Python's email package must parse strictly, attachments byte for byte.
#include "platform/CancelSignal.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/mail/MimeMail.h"
#include "sender/mail/SmtpLink.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TrustedTestCa.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
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
    int StartPeer(std::vector<std::string> args, const std::vector<std::string>& environment = {})
    {
        args.insert(args.begin(), {"--from", FROM, "--to", GATEWAY});
        return m_peer.Start(args, environment);
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

// The same server behind STARTTLS or TLS from the first byte, with a test-CA certificate for
// 127.0.0.1, requiring sign-in as USER with the password it finds in its environment.
class SmtpSecureDeliveryTest : public SmtpDeliveryTest
{
protected:
    static constexpr const char* USER = "fax.user@example.org";
    static constexpr const char* PASSWORD = "pa55 w0rd:\xc3\xa9";

    static void SetUpTestSuite()
    {
        s_pCa = new CTrustedTestCa(VELLUM_TEST_CA_SCRIPT, "smtp-secure-delivery");
    }
    static void TearDownTestSuite()
    {
        delete s_pCa;
        s_pCa = nullptr;
    }
    void SetUp() override
    {
        ASSERT_EQ(s_pCa->Failure(), "");
        SmtpDeliveryTest::SetUp();
    }

    int StartSecurePeer(const char* pszSecurity, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--security", pszSecurity, "--cert", s_pCa->Certificate("good"), "--key",
                                   s_pCa->Key("good"), "--user", USER});
        return StartPeer(args, {std::string("SMTP_PEER_PASSWORD=") + PASSWORD});
    }

    static CTrustedTestCa* s_pCa;
};

CTrustedTestCa* SmtpSecureDeliveryTest::s_pCa = nullptr;

void FillDottedMail(CPlainMail& mail, const fs::path& expected)
{
    mail.m_strFrom = FROM;
    mail.AddRecipient(GATEWAY, "");
    mail.m_strSubject = "secure";
    mail.m_strBody = ".first\r\nmiddle\r\n..second\r\n.";
    std::ofstream(expected, std::ios::binary) << mail.m_strBody << "\r\n\r\n";
}

TEST_F(SmtpSecureDeliveryTest, StartTlsWithSignInAndSizeDeliversByteForByte)
{
    CPlainMail mail;
    FillDottedMail(mail, m_root / "expected");
    const int nPort =
        StartSecurePeer("starttls", {"--size-limit", "10000000", "--body", (m_root / "expected").string()});
    ASSERT_NE(nPort, 0);
    CSmtpLink link(("127.0.0.1:" + std::to_string(nPort)).c_str(), 25);
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, PASSWORD);
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_EQ(link.GetExtensions().m_nSizeLimit, 10000000u);
    EXPECT_TRUE(link.SendMail(mail)) << link.m_strError;
    EXPECT_TRUE(link.Disconnect()) << link.m_strError;
    ExpectPeerSatisfied();
}

TEST_F(SmtpSecureDeliveryTest, TlsFromTheFirstByteDeliversByteForByte)
{
    CPlainMail mail;
    FillDottedMail(mail, m_root / "expected");
    const int nPort = StartSecurePeer("tls", {"--body", (m_root / "expected").string()});
    ASSERT_NE(nPort, 0);
    CSmtpLink link(("127.0.0.1:" + std::to_string(nPort)).c_str(), 25);
    link.SetSecurity(ESmtpSecurity::Tls);
    link.SetCredentials(USER, PASSWORD);
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_TRUE(link.SendMail(mail)) << link.m_strError;
    EXPECT_TRUE(link.Disconnect()) << link.m_strError;
    ExpectPeerSatisfied();
}

TEST_F(SmtpSecureDeliveryTest, WrongPasswordIsRefusedAsSuch)
{
    const int nPort = StartSecurePeer("starttls", {"--timeout", "30"});
    ASSERT_NE(nPort, 0);
    CSmtpLink link(("127.0.0.1:" + std::to_string(nPort)).c_str(), 25);
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, "not the password");
    EXPECT_FALSE(link.Connect());
    EXPECT_EQ(link.m_strError, "535:The SMTP server refused the user name or password");
    EXPECT_EQ(link.GetServerReply().rfind("535 ", 0), 0u) << link.GetServerReply();
}

// The server takes the data and never answers; the cancel from another thread ends the wait
// (whose limit is ten minutes) and says that the message may have gone through.
TEST_F(SmtpSecureDeliveryTest, CancelWhileTheServerIsSilentAfterTheData)
{
    CPlainMail mail;
    FillDottedMail(mail, m_root / "expected");
    const int nPort = StartSecurePeer("starttls", {"--stall", "--timeout", "30"});
    ASSERT_NE(nPort, 0);
    platform::CCancelSignal cancel;
    std::thread raiser;
    CSmtpLink link(("127.0.0.1:" + std::to_string(nPort)).c_str(), 25);
    link.SetSecurity(ESmtpSecurity::StartTls);
    link.SetCredentials(USER, PASSWORD);
    link.SetCancelSignal(&cancel);
    link.SetProgress(
        [&](std::uint64_t nSent, std::uint64_t nTotal)
        {
            if (nSent == nTotal)
                raiser = std::thread(
                    [&cancel]
                    {
                        std::this_thread::sleep_for(300ms);
                        cancel.Raise();
                    });
        });
    ASSERT_TRUE(link.Connect()) << link.m_strError;
    EXPECT_FALSE(link.SendMail(mail));
    if (raiser.joinable())
        raiser.join();
    EXPECT_EQ(link.GetCancel(), ESmtpCancel::AfterEndOfData);
    EXPECT_EQ(link.m_strError, "Cancelled after the message was sent: the server may have accepted it");
    EXPECT_FALSE(link.Disconnect());
}

} // namespace
