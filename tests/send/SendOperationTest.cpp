// The send operation without its window: the checks of what the user typed, and the part
// that runs while the dialog waits, against a scripted SMTP peer and a real one (aiosmtpd).

#include "sender/send/SendOperation.h"

#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/common/Branding.h"
#include "sender/common/Gateway.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TrustedTestCa.h"
#include "tests/support/UnusedPort.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SendChecksTest, TheFaxNumberThenTheNameAreCheckedAndTheNameBecomesAMailbox)
{
    struct SCase
    {
        std::string m_strName;
        std::string m_strNumber;
        ERecipientCheck m_eExpected;
        std::string m_strMailbox; // the name afterwards
    };
    const SCase cases[] = {
        {"Ann", "", ERecipientCheck::FaxNumberBlank, "Ann"},
        {"", "", ERecipientCheck::FaxNumberBlank, ""},
        {"Ann", "+4930123", ERecipientCheck::FaxNumberNotDigits, "Ann"},
        {"Ann", " 4930123", ERecipientCheck::FaxNumberNotDigits, "Ann"},
        {"Ann", "49-30", ERecipientCheck::FaxNumberNotDigits, "Ann"},
        {"Ann", "\xEF\xBC\x91\xEF\xBC\x92", ERecipientCheck::FaxNumberNotDigits, "Ann"}, // full-width digits
        {"", "0049", ERecipientCheck::RecipientMissing, ""},
        {"X. Y", "0049", ERecipientCheck::Ok, "X__Y"},
        {"Acme Trading Co.", "12345678901", ERecipientCheck::Ok, "Acme_Trading_Co_"},
        {"o'brien+fax/{x}~", "0", ERecipientCheck::Ok, "o'brien+fax/{x}~"},
        {"a;evil@example.org", "1", ERecipientCheck::RecipientNotMailbox, "a;evil@example.org"},
        {"<a>", "1", ERecipientCheck::RecipientNotMailbox, "<a>"},
        {"Ann\r\nRCPT TO:<x@y>", "1", ERecipientCheck::RecipientNotMailbox, "Ann\r\nRCPT TO:<x@y>"},
        {"\xE5\xBC\xA0\xE4\xB8\x89", "1", ERecipientCheck::RecipientNotMailbox, "\xE5\xBC\xA0\xE4\xB8\x89"},
        {std::string("A\0B", 3), "1", ERecipientCheck::RecipientNotMailbox, std::string("A\0B", 3)},
        // The gateway address holds a name of 49 characters and a number of 63 digits at most.
        {"Ann", std::string(63, '9'), ERecipientCheck::Ok, "Ann"},
        {"Ann", std::string(64, '9'), ERecipientCheck::FaxNumberTooLong, "Ann"},
        {"", std::string(64, '9'), ERecipientCheck::FaxNumberTooLong, ""},
        {"X. Y" + std::string(45, 'z'), "1", ERecipientCheck::Ok, "X__Y" + std::string(45, 'z')},
        {"X. Y" + std::string(46, 'z'), "1", ERecipientCheck::RecipientTooLong,
         "X. Y" + std::string(46, 'z')},
        {std::string(10000, 'N'), "1", ERecipientCheck::RecipientTooLong, std::string(10000, 'N')},
    };
    for (const SCase& c : cases)
    {
        std::string strName = c.m_strName;
        EXPECT_EQ(CheckRecipient(strName, c.m_strNumber), c.m_eExpected)
            << c.m_strName << " / " << c.m_strNumber;
        EXPECT_EQ(strName, c.m_strMailbox);
    }
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::FaxNumberBlank), "Sorry, fax number shoud not be blank");
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::FaxNumberNotDigits),
              "Sorry, only number is adopted for fax number");
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::RecipientMissing), "Sorry, recipient name is required");
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::FaxNumberTooLong),
              "Sorry, the fax number may be at most 63 digits long");
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::RecipientTooLong),
              "Sorry, the recipient name may be at most 49 characters long");
}

TEST(SendChecksTest, TheGatewayAddressIsPlainConcatenation)
{
    EXPECT_EQ(GatewayAddress("Acme_Trading_Co_", "0012345678901"),
              std::string("remote-printer.Acme_Trading_Co_@0012345678901") + GATEWAY_MAIL_DOMAIN_SUFFIX);
    EXPECT_EQ(GATEWAY_MAIL_DOMAIN_SUFFIX[0], '.');
}

TEST(GatewayTemplateTest, TemplatesThatCannotGiveAnAddressAreRefused)
{
    using enum EGatewayTemplateCheck;
    const std::pair<std::string, EGatewayTemplateCheck> cases[] = {
        {DEFAULT_GATEWAY_TEMPLATE, Ok},
        {"<number>@fax.provider.example", Ok},
        {"fax+<number>.<name>@Provider-1.example", Ok},
        {"<number>@<number>.example", Ok},
        {"", NotOneAt},
        {"<number>.fax.example", NotOneAt},
        {"<number>@a@b.example", NotOneAt},
        {"<name>@fax.example", NoNumberField},
        {"<Number>@fax.example", UnknownField},
        {"<number>>@fax.example", UnknownField},
        {"<num<number>@fax.example", UnknownField},
        {"fax <number>@fax.example", BadLocalPart},
        {".<number>@fax.example", BadLocalPart},
        {"a..<number>@fax.example", BadLocalPart},
        {"<number>\r\nRCPT@fax.example", BadLocalPart},
        {"<number>@fax..example", BadDomain},
        {"<number>@localhost", BadDomain},
        {"<number>@-fax.example", BadDomain},
        {"<number>@fax_1.example", BadDomain},
        {"<number>@[127.0.0.1]", BadDomain},
        {"<number>@" + std::string(64, 'a') + ".example", BadDomain},
        {"<number>@<name>.example", NameInDomain},
        {std::string(63, 'x') + "<number><name>@fax.example", TooLong},
        {"<number>@" + std::string(63, 'a') + "<number>.example", BadDomain},
    };
    for (const auto& [strTemplate, eExpected] : cases)
        EXPECT_EQ(CGatewayTemplate::Check(strTemplate), eExpected) << strTemplate;
    // A template that would be refused gives the default: a damaged setting does not stop a send.
    EXPECT_EQ(CGatewayTemplate("no-at-sign").Text(), DEFAULT_GATEWAY_TEMPLATE);
}

TEST(GatewayTemplateTest, TheLimitsOfNameAndNumberFollowTheTemplate)
{
    const CGatewayTemplate defaults;
    EXPECT_EQ(defaults.MaxNumberDigits(), MAX_FAX_NUMBER_DIGITS);
    EXPECT_EQ(defaults.MaxNameBytes(MAX_FAX_NUMBER_DIGITS), MAX_RECIPIENT_NAME_BYTES);

    // Name and number share the 64 octets of the local part: "fax." takes 4 and the dot 1.
    const CGatewayTemplate shared("fax.<name>.<number>@gw.example");
    EXPECT_EQ(shared.MaxNumberDigits(), 58u); // beside a one-character name
    EXPECT_EQ(shared.MaxNameBytes(20), 39u);
    std::string strName = std::string(39, 'n');
    EXPECT_EQ(CheckRecipient(strName, std::string(20, '1'), shared), ERecipientCheck::Ok);
    EXPECT_EQ(shared.Address(strName, std::string(20, '1')).find('@'), 64u);
    strName += 'n';
    EXPECT_EQ(CheckRecipient(strName, std::string(20, '1'), shared), ERecipientCheck::RecipientTooLong);
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::RecipientTooLong, shared, 20),
              "Sorry, the recipient name may be at most 39 characters long");
    std::string strAnn = "Ann";
    EXPECT_EQ(CheckRecipient(strAnn, std::string(59, '1'), shared), ERecipientCheck::FaxNumberTooLong);
    EXPECT_EQ(RecipientCheckText(ERecipientCheck::FaxNumberTooLong, shared),
              "Sorry, the fax number may be at most 58 digits long");

    // A label holding the number twice, beside fixed text, and the domain's 255 in all.
    EXPECT_EQ(CGatewayTemplate("x@a<number>b<number>.example").MaxNumberDigits(), 30u);
    EXPECT_EQ(CGatewayTemplate("<number>@fax.example").MaxNameBytes(40), MAX_RECIPIENT_NAME_BYTES);
}

class SendJobTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("sendjob-" + std::to_string(::getpid()));
        fs::create_directories(m_root / "c");
        ::setenv("VELLUM_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VELLUM_ROOT");
        fs::remove_all(m_root);
    }

    void Write(const std::string& strName, const std::string& strData)
    {
        std::ofstream(m_root / "c" / strName, std::ios::binary) << strData;
    }
    bool Exists(const std::string& strName) const { return fs::exists(m_root / "c" / strName); }

    // A job whose converter leaves the given page files and reports the given result.
    SSendJob Job(int nPort, bool bConverterSucceeds = true)
    {
        SSendJob job;
        job.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
        job.m_strFrom = "ann@example.org";
        job.m_strRecipientAddress = GatewayAddress("Bob", "4930123");
        job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
        job.m_fnRunConverter = [bConverterSucceeds] {
            return SConverterRun{bConverterSucceeds, bConverterSucceeds ? "" : "exit code 1"};
        };
        job.m_timeouts.m_durConnect = job.m_timeouts.m_durGreeting = job.m_timeouts.m_durCommand = 5s;
        job.m_timeouts.m_durDataStart = job.m_timeouts.m_durSend = job.m_timeouts.m_durDataEnd = 5s;
        return job;
    }

    fs::path m_root;
};

TEST_F(SendJobTest, TheInstalledConverterIsRunFromTheSystemDirectory)
{
    // Not installed: a converter that cannot be started is a failed conversion.
    const SConverterRun missing = RunInstalledConverter();
    EXPECT_FALSE(missing.m_bSucceeded);
    EXPECT_FALSE(missing.m_strWhy.empty());

    fs::create_directories(m_root / "windows/system");
    fs::copy_file(PAGEMILL_PROGRAM, m_root / "windows/system/Pagemill");
    Write("Page.tmp", "\x02"); // one page whose raster is missing: Pagemill fails
    const SConverterRun failed = RunInstalledConverter();
    EXPECT_FALSE(failed.m_bSucceeded);
    EXPECT_EQ(failed.m_strWhy, "exit code 1");
    fs::remove(m_root / "c/Page.tmp");
    EXPECT_TRUE(RunInstalledConverter().m_bSucceeded); // nothing to do
}

TEST_F(SendJobTest, AFailedConversionSendsNothingAndKeepsThePageCountFile)
{
    Write("Page.tmp", "\x03");
    Write("quill1.tif", "an older fax's page");
    const SSendResult result = RunSendJob(Job(UnusedPort(), false));
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::ConverterFailed);
    EXPECT_EQ(result.m_strDetail, "exit code 1");
    EXPECT_TRUE(Exists("Page.tmp"));
    EXPECT_NE(SendOutcomeText(result).find("nothing was sent"), std::string::npos);
}

TEST_F(SendJobTest, WithoutAPageCountFileTheSendAsksForTheDocumentAgain)
{
    const SSendResult result = RunSendJob(Job(UnusedPort()));
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::NoPageCountFile);
    EXPECT_TRUE(PagesAreGone(result));
    EXPECT_EQ(SendOutcomeText(result),
              "Sorry, there are no fax pages to send; please print the document again");
    Write("Page.tmp", ""); // an empty one says no more
    EXPECT_EQ(RunSendJob(Job(UnusedPort())).m_eOutcome, ESendOutcome::NoPageCountFile);
    EXPECT_FALSE(Exists("Page.tmp"));
}

TEST_F(SendJobTest, APageCountOfOneIsReportedAndTheFileDeleted)
{
    Write("Page.tmp", "\x01");
    const SSendResult result = RunSendJob(Job(UnusedPort()));
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::NoPages);
    EXPECT_EQ(SendOutcomeText(result), "Vellum Star3.0 could not run, Please install it again");
    EXPECT_FALSE(Exists("Page.tmp"));
}

TEST_F(SendJobTest, AMissingOrEmptyPageSendsNothing)
{
    for (const bool bEmpty : {false, true})
    {
        Write("Page.tmp", "\x04");
        Write("quill1.tif", "page one");
        fs::remove(m_root / "c" / "quill2.tif");
        if (bEmpty)
            Write("quill2.tif", "");
        Write("quill3.tif", "page three");
        // Nothing listens: a send attempt would fail differently.
        const SSendResult result = RunSendJob(Job(UnusedPort()));
        EXPECT_EQ(result.m_eOutcome, ESendOutcome::PageMissing);
        EXPECT_EQ(result.m_nMissingPage, 2);
        EXPECT_EQ(
            SendOutcomeText(result),
            "Sorry, page 2 of the fax is missing, so nothing was sent; please print the document again");
        EXPECT_TRUE(Exists("quill1.tif"));
        EXPECT_FALSE(Exists("Page.tmp")); // the fax can never be sent
        EXPECT_TRUE(PagesAreGone(result));
    }
}

TEST_F(SendJobTest, AServerThatCannotBeReachedIsAConnectionFailure)
{
    Write("Page.tmp", "\x02");
    Write("quill1.tif", "page one");
    const SSendResult result = RunSendJob(Job(UnusedPort()));
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::ConnectFailed);
    EXPECT_EQ(
        SendOutcomeText(result),
        "There some error when connecting internet, please check  the internet configure and connection");
    EXPECT_TRUE(Exists("quill1.tif"));
    EXPECT_TRUE(Exists("Page.tmp"));

    // The plain dialogue sends no login; the settings' one is named as no help.
    Write("Page.tmp", "\x02");
    SSendJob job = Job(UnusedPort());
    job.m_strLogin = "ann@example.org";
    EXPECT_EQ(SendOutcomeText(RunSendJob(job)),
              "There some error when connecting internet, please check  the internet configure and "
              "connection\nThe Login in Config is only used with the security STARTTLS or TLS");
}

// A send that did not go out keeps the page count and the fax pages; the next one sends those
// pages as they are, without the converter, whose rasters are gone. Only pages made for the
// waiting page count pass: with a raster there, a page missing, empty or older than the count,
// the converter runs.
TEST_F(SendJobTest, PagesKeptFromAFailedSendGoWithoutTheConverter)
{
    const auto made = fs::file_time_type::clock::now() - 1h;
    const auto waitingPages = [this, made]
    {
        Write("Page.tmp", "\x03");
        Write("quill1.tif", "page one");
        Write("quill2.tif", "page two");
        fs::last_write_time(m_root / "c/Page.tmp", made);
    };
    waitingPages();
    int nConversions = 0;
    CSmtpPeer peer;
    SSendJob job = Job(peer.Start({"--from", "ann@example.org", "--to", GatewayAddress("Bob", "4930123"),
                                   (m_root / "c/quill1.tif").string(), (m_root / "c/quill2.tif").string()}));
    job.m_fnRunConverter = [&nConversions]
    {
        ++nConversions;
        return SConverterRun{false, "the rasters are gone"};
    };
    const SSendResult result = RunSendJob(job);
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::Sent) << result.m_strDetail;
    std::string strReport;
    EXPECT_TRUE(peer.Finish(strReport)) << strReport;
    EXPECT_EQ(nConversions, 0);
    EXPECT_FALSE(Exists("Page.tmp"));
    EXPECT_TRUE(Exists("quill1.tif") && Exists("quill2.tif"));

    const std::function<void()> aStale[] = {
        [this] { Write("quill.2", "a raster of a new job"); },
        [this] { fs::remove(m_root / "c/quill2.tif"); },
        [this] { Write("quill2.tif", ""); },
        [this, made] { fs::last_write_time(m_root / "c/quill2.tif", made - 1s); },
    };
    for (const auto& fnStale : aStale)
    {
        waitingPages();
        EXPECT_TRUE(WaitingFaxPagesAreMade());
        fnStale();
        EXPECT_FALSE(WaitingFaxPagesAreMade());
        fs::remove(m_root / "c/quill.2");
    }
}

TEST_F(SendJobTest, ARefusedRecipientIsASendFailureAndTheDialogueStillEnds)
{
    Write("Page.tmp", "\x02");
    Write("quill1.tif", "page one");
    const std::string strGateway = GatewayAddress("Bob", "4930123");
    CScriptedSmtpServer server(
        {"S: 220 peer ready", "C: HELO *", "S: 250 hello", "C: MAIL From: <ann@example.org>", "S: 250 ok",
         "C: RCPT TO: <" + strGateway + ">", "S: 550 no such fax", "C: QUIT", "S: 221 bye"});
    const SSendResult result = RunSendJob(Job(server.Port()));
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::SendFailed);
    EXPECT_EQ(SendOutcomeText(result),
              "The are some error when sending fax, please check the internet configure");
}

TEST_F(SendJobTest, APageCountOfZeroSendsAMessageWithoutAttachments)
{
    Write("Page.tmp", std::string(1, '\0'));
    const std::string strGateway = GatewayAddress("Bob", "4930123");
    CScriptedSmtpServer server({"S: 220 peer ready", "C: HELO *", "S: 250 hello",
                                "C: MAIL From: <ann@example.org>", "S: 250 ok",
                                "C: RCPT TO: <" + strGateway + ">", "S: 250 ok", "C: DATA", "S: 354 go on",
                                "C: <DATA>", "S: 250 queued", "C: QUIT", "S: 221 bye"});
    const SSendResult result = RunSendJob(Job(server.Port()));
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::Sent);
    ASSERT_EQ(server.Data().size(), 1u);
    EXPECT_NE(server.Data()[0].find("Subject: Hi! I am: Vellum Zeru 3.1\r\n"), std::string::npos);
    EXPECT_EQ(server.Data()[0].find("image/tiff"), std::string::npos);
    EXPECT_FALSE(Exists("Page.tmp"));
}

TEST_F(SendJobTest, ASentFaxReportsWhatItsRecordKeepsAndARefusedOneNothing)
{
    const std::string strGateway = GatewayAddress("Bob", "4930123");
    const auto script = [&strGateway](const std::string& strEnd)
    {
        return std::vector<std::string>{"S: 220 peer ready",
                                        "C: HELO *",
                                        "S: 250 hello",
                                        "C: MAIL From: <ann@example.org>",
                                        "S: 250 ok",
                                        "C: RCPT TO: <" + strGateway + ">",
                                        "S: 250 ok",
                                        "C: DATA",
                                        "S: 354 go on",
                                        "C: <DATA>",
                                        strEnd,
                                        "C: QUIT",
                                        "S: 221 bye"};
    };
    SSendJob job = Job(0);
    job.m_fnTime = [] { return std::time_t{1'800'000'000}; };
    job.m_fnMessageId = [](const CPlainMail&) { return std::string("<42@example.org>"); };

    CScriptedSmtpServer refusing(script("S: 554 5.7.1 no"));
    job.m_strSmtpServer = "127.0.0.1:" + std::to_string(refusing.Port());
    Write("Page.tmp", "\x03");
    Write("quill1.tif", "page one");
    Write("quill2.tif", "page two");
    const SSendResult refused = RunSendJob(job);
    EXPECT_EQ(refusing.Finish(), "");
    EXPECT_EQ(refused.m_eOutcome, ESendOutcome::SendFailed);
    EXPECT_EQ(refused.m_nPages, 0);
    EXPECT_EQ(refused.m_strDataReply, "");

    CScriptedSmtpServer server(script("S: 250-2.0.0 Ok\r\n250 2.0.0 queued as 9Z4"));
    job.m_strSmtpServer = "127.0.0.1:" + std::to_string(server.Port());
    Write("Page.tmp", "\x03");
    const SSendResult result = RunSendJob(job);
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(result.m_eOutcome, ESendOutcome::Sent);
    EXPECT_EQ(result.m_nPages, 2);
    EXPECT_EQ(result.m_nSentAt, 1'800'000'000);
    EXPECT_EQ(result.m_strMessageId, "<42@example.org>");
    EXPECT_EQ(result.m_strDataReply, "250-2.0.0 Ok\n250 2.0.0 queued as 9Z4");
    ASSERT_EQ(server.Data().size(), 1u);
    EXPECT_EQ(result.m_nMailBytes, server.Data()[0].size());
}

TEST_F(SendJobTest, PagesMadeByPagemillArriveAtARealServerInPageOrder)
{
    std::vector<std::string> files;
    for (int nPage = 1; nPage <= 3; ++nPage)
    {
        std::string strRaster(platform::RASTER_BYTES, '\0');
        for (std::size_t i = 0; i < platform::RASTER_BYTES; i += static_cast<std::size_t>(nPage) * 97)
            strRaster[i] = 1; // a different pattern on every page
        Write("quill." + std::to_string(nPage), strRaster);
        files.push_back((m_root / "c" / ("quill" + std::to_string(nPage) + ".tif")).string());
    }
    Write("Page.tmp", "\x04");

    const std::string strGateway = GatewayAddress("Bob", "4930123");
    std::vector<std::string> args = {"--from", "ann@example.org", "--to", strGateway};
    args.insert(args.end(), files.begin(), files.end());
    CSmtpPeer peer;
    const int nPort = peer.Start(args);
    ASSERT_NE(nPort, 0);

    SSendJob job = Job(nPort);
    job.m_fnRunConverter = [this]
    {
        platform::SRunOptions pagemill;
        pagemill.m_aEnvironment = platform::EnvironmentWith({"VELLUM_ROOT=" + m_root.string()});
        pagemill.m_durTimeout = 120s;
        const auto result = platform::RunProgram({PAGEMILL_PROGRAM}, pagemill);
        return SConverterRun{result.Succeeded(), result.Describe()};
    };
    const SSendResult result = RunSendJob(job);

    EXPECT_EQ(result.m_eOutcome, ESendOutcome::Sent) << result.m_strDetail;
    std::string strReport;
    EXPECT_TRUE(peer.Finish(strReport)) << strReport;
    EXPECT_FALSE(Exists("Page.tmp"));
    EXPECT_FALSE(Exists("quill.1"));
}

} // namespace

// A secure job carries its security, login and password to the link; a refused password is
// reported in the link's words with the server's reply and marked so that the caller can
// forget it; Config's test signs in and quits without sending anything.
TEST_F(SendJobTest, SecureJobsSignInAndSayWhatTheServerRefused)
{
    const CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "send-secure");
    ASSERT_EQ(ca.Failure(), "");
    CScriptedSmtpServer::SOptions options;
    options.m_strCertificate = ca.Certificate("good");
    options.m_strKey = ca.Key("good");
    const auto script = [](const std::string& strAuthReply, bool bQuit)
    {
        std::vector<std::string> lines = {
            "S: 220 mx.example ESMTP", "C: EHLO *", "S: 250-mx.example\r\n250 STARTTLS", "C: STARTTLS",
            "S: 220 go ahead", "T:", "C: EHLO *", "S: 250-mx.example\r\n250 AUTH PLAIN",
            // "ann@example.org", "s3cret" in the PLAIN token
            "C: AUTH PLAIN AGFubkBleGFtcGxlLm9yZwBzM2NyZXQ=", "S: " + strAuthReply};
        if (bQuit)
            lines.insert(lines.end(), {"C: QUIT", "S: 221 bye"});
        return lines;
    };
    const auto secureJob = [this](int nPort)
    {
        SSendJob job = Job(nPort);
        job.m_strSmtpServer = "localhost:" + std::to_string(nPort);
        job.m_eSecurity = ESmtpSecurity::StartTls;
        job.m_strLogin = "ann@example.org";
        job.m_strPassword = "s3cret";
        return job;
    };

    Write("Page.tmp", "\x02");
    Write("quill1.tif", "page one");
    {
        CScriptedSmtpServer server(script("535 5.7.8 bad credentials\x1b[2J", false), options);
        const SSendResult result = RunSendJob(secureJob(server.Port()));
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(result.m_eOutcome, ESendOutcome::ConnectFailed);
        EXPECT_TRUE(result.m_bCredentialsRefused);
        EXPECT_FALSE(result.m_bSignedIn);
        EXPECT_EQ(SendOutcomeText(result),
                  "Sorry, the fax was not sent: The SMTP server refused the user name "
                  "or password\nThe server said: 535 5.7.8 bad credentials?[2J\nPlease push the Config "
                  "button to correct the Login or the Password");
        EXPECT_TRUE(Exists("quill1.tif"));
    }
    {
        CScriptedSmtpServer server(script("535 5.7.8 bad credentials", false), options);
        const SServerTestResult result = TestMailServer(secureJob(server.Port()));
        EXPECT_EQ(server.Finish(), "");
        EXPECT_TRUE(result.m_bCredentialsRefused);
        EXPECT_EQ(result.m_strText, "Sorry, the test failed: The SMTP server refused the user name or "
                                    "password\nThe server said: 535 5.7.8 bad credentials");
    }
    {
        CScriptedSmtpServer server(script("235 2.7.0 accepted", true), options);
        const SServerTestResult result = TestMailServer(secureJob(server.Port()));
        EXPECT_EQ(server.Finish(), "");
        EXPECT_TRUE(result.m_bWorked);
        EXPECT_EQ(result.m_strText, "The SMTP server took the connection, protected by TLS with a trusted "
                                    "certificate, and the sign-in. Nothing was sent.");
        EXPECT_TRUE(server.Data().empty());
    }
}
