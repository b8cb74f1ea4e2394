// The Installer and the fax printer end to end: a private cupsd, the real Installer run from a
// distribution folder, real print jobs through lp, and the page files checked against
// Ghostscript's own rendering of the printed document.

#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "tests/installer/TestDocuments.h"
#include "tests/integration/TestCups.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto JOB_DEADLINE = 120s;
constexpr const char* QUEUE = "Vellum_Zeru_3.0";

const char* const DISTRIBUTION_FILES[] = {"vellumfax", "VellumZeru.ppd", "Pagemill",   "libvellum_msgbox.so",
                                          "Sendwell",  "Pagewatch",      "Sample.html"};

class InstallerCupsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("installer-cups");
        ASSERT_FALSE(m_base.empty());
        // The scheduler's filters run as its unprivileged user, who must reach the folders here.
        fs::permissions(m_base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        std::string strWhy;
        if (m_cups.Start(m_base / "cups", strWhy) != CTestCups::EStart::Running)
            GTEST_SKIP() << "cupsd cannot start here, so nothing can be printed: " << strWhy;

        // A blank in the root's name travels percent-encoded in the device URI.
        m_root = m_base / "fax root";
        m_dist = m_base / "dist";
        fs::create_directories(m_dist);
        // The build's programs; Sendwell and Pagemill may not be built yet, and stand-ins do for copying.
        for (const char* pszName : DISTRIBUTION_FILES)
        {
            const fs::path built = fs::path(VELLUM_BIN_DIR) / pszName;
            if (fs::exists(built))
                fs::copy_file(built, m_dist / pszName);
            else
                ASSERT_TRUE(
                    platform::WriteWholeFile(m_dist / pszName, std::string("stand-in for ") + pszName));
        }
    }

    void TearDown() override
    {
        m_cups.Stop();
        if (!m_base.empty() && !HasFailure())
            fs::remove_all(m_base);
        else if (!m_base.empty())
            std::cerr << "Kept for a look: " << m_base << std::endl;
    }

    platform::SRunResult Run(const std::vector<std::string>& args, const std::string& strFolder = {})
    {
        platform::SRunOptions options;
        options.m_aEnvironment = m_cups.Environment(
            {"VELLUM_ROOT=" + m_root.string(), "VELLUM_MESSAGE_LOG=" + (m_base / "messages.log").string(),
             "XDG_CONFIG_HOME=" + (m_base / "config").string()});
        options.m_strWorkingDirectory = strFolder;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        options.m_durTimeout = 120s;
        return platform::RunProgram(args, options);
    }

    void Install()
    {
        const auto result = Run({(fs::path(VELLUM_BIN_DIR) / "Installer").string()}, m_dist.string());
        ASSERT_TRUE(result.Succeeded()) << result.Describe() << "\n"
                                        << result.m_strOutput << "\n"
                                        << Messages();
    }

    std::string Messages() const
    {
        return platform::ReadWholeFile(m_base / "messages.log", 1 << 20).value_or("");
    }

    // Prints a document with lp and returns the job's number.
    int Print(const fs::path& document, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> args = {"lp", "-d", QUEUE};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(document.string());
        const auto result = Run(args);
        std::smatch match;
        const std::regex jobId(std::string("request id is ") + QUEUE + "-([0-9]+)");
        if (!result.Succeeded() || !std::regex_search(result.m_strOutput, match, jobId))
        {
            ADD_FAILURE() << "lp: " << result.Describe() << " " << result.m_strOutput;
            return -1;
        }
        return std::stoi(match[1]);
    }

    CTestCups::SJobState Finish(int nJob)
    {
        const auto state = m_cups.WaitForJob(nJob, JOB_DEADLINE);
        if (!state)
        {
            ADD_FAILURE() << "job " << nJob << " did not end in time\n" << m_cups.ErrorLog();
            return {};
        }
        return *state;
    }

    std::string Lpstat(const std::vector<std::string>& options)
    {
        std::vector<std::string> args = {"lpstat"};
        args.insert(args.end(), options.begin(), options.end());
        return Run(args).m_strOutput;
    }

    std::string Read(const fs::path& path) const
    {
        return platform::ReadWholeFile(path, 64 << 20).value_or("<missing>");
    }

    // Checks the page files against Ghostscript's rendering of the document.
    void ExpectPagesOf(const fs::path& document, std::size_t nPages)
    {
        const auto drive = m_root / "c";
        EXPECT_EQ(Read(drive / "Page.tmp"), std::string(1, static_cast<char>(nPages + 1)));
        std::string strError;
        const auto reference = testdocs::RenderReference(document, strError);
        ASSERT_EQ(reference.size(), nPages) << strError;
        for (std::size_t nPage = 1; nPage <= nPages; ++nPage)
        {
            const auto raster = testdocs::ReadRasterFile(drive / ("quill." + std::to_string(nPage)));
            ASSERT_EQ(raster.size(), 1700u * 2200u) << "page " << nPage;
            std::size_t nDiffering = 0;
            for (std::size_t i = 0; i < raster.size(); ++i)
                nDiffering += raster[i] != reference[nPage - 1][i];
            EXPECT_EQ(nDiffering, 0u) << "page " << nPage << " differs from Ghostscript's rendering";
        }
    }

    void WriteEarlierJob()
    {
        fs::create_directories(m_root / "c");
        ASSERT_TRUE(platform::WriteWholeFile(m_root / "c" / "Page.tmp", std::string(1, '\x02')));
        ASSERT_TRUE(platform::WriteWholeFile(m_root / "c" / "quill.1", "earlier page"));
    }

    void ExpectEarlierJobUntouched()
    {
        EXPECT_EQ(Read(m_root / "c" / "Page.tmp"), std::string(1, '\x02'));
        EXPECT_EQ(Read(m_root / "c" / "quill.1"), "earlier page");
        for (const auto& entry : fs::directory_iterator(m_root / "c"))
        {
            const auto strName = entry.path().filename().string();
            EXPECT_TRUE(strName == "Page.tmp" || strName == "quill.1") << "left behind: " << strName;
        }
    }

    fs::path m_base;
    fs::path m_root;
    fs::path m_dist;
    CTestCups m_cups;
};

const std::string SUCCESS_LINE = "Welcome to use Vellum Zeru 3.0\t"
                                 "Vellum Zeru 3.0 has been installed successfully!\\n"
                                 "You may send free fax by printing on it now!\\n"
                                 "Web\xEF\xBC\x9Ahttp://www.vellum-zeru.example/\\n"
                                 "Developer: Quill Technology\n";

TEST_F(InstallerCupsTest, InstallsTheFaxPrinterAndPrintsATwoPageDocument)
{
    Install();
    EXPECT_EQ(Messages(), SUCCESS_LINE);
    for (const char* pszName : DISTRIBUTION_FILES)
        EXPECT_EQ(Read(m_root / "windows" / "system" / pszName), Read(m_dist / pszName)) << pszName;

    const std::string strDetails = Lpstat({"-l", "-p", QUEUE});
    EXPECT_NE(strDetails.find("printer Vellum_Zeru_3.0 is idle.  enabled"), std::string::npos) << strDetails;
    EXPECT_NE(strDetails.find("Description: Vellum Zeru 3.0\n"), std::string::npos) << strDetails;
    EXPECT_EQ(Lpstat({"-d"}), "system default destination: Vellum_Zeru_3.0\n");
    EXPECT_NE(Lpstat({"-a", QUEUE}).find("Vellum_Zeru_3.0 accepting requests"), std::string::npos);
    EXPECT_EQ(Lpstat({"-v", QUEUE}), "device for Vellum_Zeru_3.0: vellumfax:" + m_base.string() +
                                         "/fax%20root?uid=" + std::to_string(::getuid()) + "\n");

    const auto pdf = m_base / "two.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), "");
    const int nJob = Print(pdf);
    const auto state = Finish(nJob);
    ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage << "\n" << m_cups.ErrorLog();
    ExpectPagesOf(pdf, 2);
    struct stat st = {};
    ASSERT_EQ(::stat((m_root / "c" / "quill.2").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::getuid()) << "the page files belong to the installing user";

    // Installing again replaces the files, keeps the queue and says so again.
    ASSERT_TRUE(platform::WriteWholeFile(m_dist / "Sample.html", "<p>a newer help document</p>"));
    Install();
    EXPECT_EQ(Read(m_root / "windows" / "system" / "Sample.html"), "<p>a newer help document</p>");
    EXPECT_EQ(Messages(), SUCCESS_LINE + SUCCESS_LINE);
    EXPECT_NE(Lpstat({"-a", QUEUE}).find("accepting requests"), std::string::npos);
    EXPECT_EQ(Lpstat({"-d"}), "system default destination: Vellum_Zeru_3.0\n");
}

TEST_F(InstallerCupsTest, RefusesLongAndUnreadableJobsAndKeepsTheEarlierPages)
{
    Install();
    WriteEarlierJob();

    const auto longPdf = m_base / "long.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(255), longPdf), "");
    const int nLong = Print(longPdf);
    const auto longState = Finish(nLong);
    EXPECT_EQ(longState.m_nState, CTestCups::JOB_ABORTED) << longState.m_strMessage;
    const std::string strRefusal =
        "The job has 255 pages; the fax printer Vellum Zeru 3.0 takes at most 254.";
    EXPECT_NE(longState.m_strMessage.find(strRefusal), std::string::npos) << longState.m_strMessage;
    EXPECT_NE(m_cups.ErrorLog().find("[Job " + std::to_string(nLong) + "] " + strRefusal), std::string::npos);
    ExpectEarlierJobUntouched();

    // Sent as it is, past the filters, garbage reaches the printer's renderer.
    const auto garbage = m_base / "garbage.bin";
    static constexpr char GARBAGE[] = "\x01\x02 this is no document \xfe\xff";
    ASSERT_TRUE(platform::WriteWholeFile(garbage, std::string(GARBAGE, sizeof GARBAGE - 1)));
    const int nGarbage = Print(garbage, {"-o", "raw"});
    const auto garbageState = Finish(nGarbage);
    EXPECT_EQ(garbageState.m_nState, CTestCups::JOB_ABORTED) << garbageState.m_strMessage;
    EXPECT_NE(garbageState.m_strMessage.find("cannot print this document: Ghostscript cannot render it"),
              std::string::npos)
        << garbageState.m_strMessage;
    ExpectEarlierJobUntouched();

    // A damaged PDF fails on its way through the filters; nothing reaches the page files either.
    const auto damaged = m_base / "damaged.pdf";
    ASSERT_TRUE(
        platform::WriteWholeFile(damaged, "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer\n%%EOF\n"));
    const auto damagedState = Finish(Print(damaged));
    EXPECT_NE(damagedState.m_nState, CTestCups::JOB_COMPLETED);
    ExpectEarlierJobUntouched();

    // The refusals stopped the jobs, not the printer.
    EXPECT_NE(Lpstat({"-p", QUEUE}).find("enabled"), std::string::npos);
    const auto pdf = m_base / "two.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), "");
    const auto state = Finish(Print(pdf));
    EXPECT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage;
    ExpectPagesOf(pdf, 2);
}

TEST_F(InstallerCupsTest, WritesThePagesAsTheUserTheQueueNames)
{
    const passwd* pNobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || pNobody == nullptr)
        GTEST_SKIP() << "needs root (cupsd runs the backend as root only then) and the user nobody";
    Install();
    // Another user's root, as when that user ran the Installer.
    m_root = m_base / "nobody-root";
    fs::create_directories(m_root);
    ASSERT_EQ(::chown(m_root.c_str(), pNobody->pw_uid, pNobody->pw_gid), 0);
    ::chmod(m_root.c_str(), 0700);
    const auto modify = Run({"lpadmin", "-p", QUEUE, "-v",
                             "vellumfax:" + m_root.string() + "?uid=" + std::to_string(pNobody->pw_uid)});
    ASSERT_TRUE(modify.Succeeded()) << modify.m_strOutput;

    const auto pdf = m_base / "two.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), "");
    const auto state = Finish(Print(pdf));
    ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage << "\n" << m_cups.ErrorLog();
    ExpectPagesOf(pdf, 2);
    for (const char* pszName : {"c", "c/Page.tmp", "c/quill.1", "c/quill.2"})
    {
        struct stat st = {};
        ASSERT_EQ(::stat((m_root / pszName).c_str(), &st), 0) << pszName;
        EXPECT_EQ(st.st_uid, pNobody->pw_uid) << pszName;
        EXPECT_EQ(st.st_mode & 077, 0u) << pszName << " is private to its user";
    }
}

} // namespace
