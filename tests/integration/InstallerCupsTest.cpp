// The Installer and the fax printer end to end: a private cupsd, the real Installer run from a
// distribution folder by root and by users made for the test (also through sudo), real print
// jobs through lp, and the page files checked against Ghostscript's own rendering of the
// printed document. Everything here needs root (users, a backend that CUPS runs as root).

#include "pages/DocumentFile.h"
#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "tests/integration/TestCups.h"
#include "tests/integration/TestUser.h"
#include "tests/pages/TestDocuments.h"
#include "watcher/PageWatcher.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto JOB_DEADLINE = 120s;
constexpr const char* QUEUE = "Vellum_Zeru_3.0";

const char* const DISTRIBUTION_FILES[] = {
    "vellumfax", "VellumZeru.ppd", "Pagemill",  "libvellum_msgbox.so", "Sendwell",
    "Pagewatch", "Sample.html",    "Installer", "vellum-sendwell.png", "Cover.svg"};

const std::string WEB_AND_DEVELOPER = "Web\xEF\xBC\x9Ahttp://www.vellum-zeru.example/\\n"
                                      "Developer: Quill Technology\n";

class InstallerCupsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP()
                << "needs root: users are made for the test, and CUPS runs the backend as root only then";
        m_base = testdocs::MakeTempFolder("installer-cups");
        ASSERT_FALSE(m_base.empty());
        // The scheduler's filters run as its unprivileged user, and the test users run the
        // Installer from here: both must reach the folders.
        fs::permissions(m_base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        std::string strWhy;
        if (m_cups.Start(m_base / "cups", strWhy, BackendEnvironment()) != CTestCups::EStart::Running)
            GTEST_SKIP() << "cupsd cannot start here, so nothing can be printed: " << strWhy;

        m_dist = m_base / "dist";
        fs::create_directories(m_dist);
        // The build's programs; Sendwell may not be built yet, and a stand-in does for copying.
        for (const char* pszName : DISTRIBUTION_FILES)
        {
            const fs::path built = fs::path(VELLUM_BIN_DIR) / pszName;
            if (fs::exists(built))
                fs::copy_file(built, m_dist / pszName);
            else
                ASSERT_TRUE(
                    platform::WriteWholeFile(m_dist / pszName, std::string("stand-in for ") + pszName));
        }
        m_logs = m_base / "logs";
        fs::create_directories(m_logs);
        ::chmod(m_logs.c_str(), 01777); // each user appends to a message log of their own
        m_pdf = m_base / "two.pdf";
        ASSERT_EQ(testdocs::MakePdf(testdocs::TwoPagePostScript(), m_pdf), "");
    }

    void TearDown() override
    {
        m_cups.Stop();
        if (!m_base.empty() && !HasFailure())
            fs::remove_all(m_base);
        else if (!m_base.empty())
            std::cerr << "Kept for a look: " << m_base << std::endl;
    }

    // What the scheduler's configuration sets for its backends.
    virtual std::vector<std::string> BackendEnvironment() const { return {}; }

    CTestUser& MakeUser(const std::string& strRole)
    {
        auto pUser = std::make_unique<CTestUser>();
        std::string strWhy;
        EXPECT_TRUE(pUser->Create(strRole, strWhy)) << strWhy;
        m_users.push_back(std::move(pUser));
        return *m_users.back();
    }

    fs::path LogOf(const std::string& strWho) const { return m_logs / (strWho + ".log"); }

    std::vector<std::string> Environment(const std::string& strWho,
                                         const std::vector<std::string>& extra = {}) const
    {
        std::vector<std::string> entries = m_cups.Variables();
        entries.push_back("VELLUM_MESSAGE_LOG=" + LogOf(strWho).string());
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    }

    // As root, with root's own environment.
    platform::SRunResult RunAsRoot(const std::vector<std::string>& args, const std::string& strFolder = {})
    {
        platform::SRunOptions options;
        options.m_aEnvironment = m_cups.Environment({"VELLUM_MESSAGE_LOG=" + LogOf("root").string()});
        options.m_strWorkingDirectory = strFolder;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        options.m_durTimeout = 120s;
        return platform::RunProgram(args, options);
    }

    void InstallMachine()
    {
        const auto result = RunAsRoot({(m_dist / "Installer").string()}, m_dist.string());
        ASSERT_TRUE(result.Succeeded()) << result.Describe() << "\n"
                                        << result.m_strOutput << "\n"
                                        << Messages("root");
    }

    void InstallFor(const CTestUser& user, const std::vector<std::string>& extra = {})
    {
        const auto result =
            user.Run({(m_dist / "Installer").string()}, Environment(user.Name(), extra), m_dist.string());
        ASSERT_TRUE(result.Succeeded()) << result.Describe() << "\n"
                                        << result.m_strOutput << "\n"
                                        << Messages(user.Name());
    }

    std::string Messages(const std::string& strWho) const
    {
        return platform::ReadWholeFile(LogOf(strWho), 1 << 20).value_or("");
    }

    // Prints a document with lp, as a test user or (none) as root; returns the job's number.
    int Print(const CTestUser* pUser, const fs::path& document, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> args = {"lp", "-d", QUEUE};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(document.string());
        const auto result = pUser != nullptr ? pUser->Run(args, m_cups.Variables()) : RunAsRoot(args);
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

    std::string Lpstat(const std::vector<std::string>& options, const CTestUser* pUser = nullptr)
    {
        std::vector<std::string> args = {"lpstat"};
        args.insert(args.end(), options.begin(), options.end());
        return (pUser != nullptr ? pUser->Run(args, m_cups.Variables()) : RunAsRoot(args)).m_strOutput;
    }

    // The scheduler's socket as the host of an ipp: address (percent-encoded path), through
    // which a client is known by its peer credentials.
    std::string SocketHost() const
    {
        std::string strHost;
        for (unsigned char ch : m_cups.Socket().string())
        {
            static constexpr char HEX[] = "0123456789ABCDEF";
            if (std::isalnum(ch) || ch == '-' || ch == '.' || ch == '_')
                strHost += static_cast<char>(ch);
            else
                strHost += {'%', HEX[ch >> 4], HEX[ch & 15]};
        }
        return strHost;
    }

    static std::string Read(const fs::path& path)
    {
        return platform::ReadWholeFile(path, 64 << 20).value_or("<missing>");
    }

    static fs::path DefaultRoot(const CTestUser& user) { return user.Home() / ".local/share/vellum"; }

    // Checks the page files in drive against Ghostscript's rendering of the document.
    void ExpectPagesOf(const fs::path& drive, const fs::path& document, std::size_t nPages)
    {
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

    // Every page file is the user's and private to them.
    static void ExpectOwnedBy(const fs::path& drive, const CTestUser& user)
    {
        for (const char* pszName : {"", "Page.tmp", "quill.1", "quill.2"})
        {
            struct stat st = {};
            ASSERT_EQ(::stat((drive / pszName).c_str(), &st), 0) << drive / pszName;
            EXPECT_EQ(st.st_uid, user.Uid()) << drive / pszName;
            EXPECT_EQ(st.st_mode & 077, 0u) << drive / pszName << " is private to its user";
        }
    }

    // Names, sizes and times of everything under the folders: a refused job changes nothing.
    static std::string Snapshot(const std::vector<fs::path>& folders)
    {
        std::string strList;
        for (const auto& folder : folders)
        {
            std::error_code error;
            if (!fs::exists(folder, error))
            {
                strList += folder.string() + " (missing)\n";
                continue;
            }
            std::vector<std::string> aEntries;
            for (const auto& entry : fs::recursive_directory_iterator(folder, error))
            {
                struct stat st = {};
                ::lstat(entry.path().c_str(), &st);
                aEntries.push_back(entry.path().string() + " " + std::to_string(st.st_size) + " " +
                                   std::to_string(st.st_mtim.tv_sec) + "." +
                                   std::to_string(st.st_mtim.tv_nsec));
            }
            std::sort(aEntries.begin(), aEntries.end());
            for (const auto& strEntry : aEntries)
                strList += strEntry + "\n";
        }
        return strList;
    }

    fs::path m_base;
    fs::path m_dist;
    fs::path m_logs;
    fs::path m_pdf;
    CTestCups m_cups;
    std::vector<std::unique_ptr<CTestUser>> m_users;
};

TEST_F(InstallerCupsTest, InstallsTheFaxPrinterAndPrintsATwoPageDocument)
{
    InstallMachine();
    EXPECT_EQ(Messages("root"),
              "Welcome to use Vellum Zeru 3.0\tVellum Zeru 3.0 has been installed on this computer.\\n"
              "Each user who sends faxes sets it up for themselves once, by running the Installer "
              "as themselves (or with sudo):\\ncd " +
                  m_dist.string() + " && ./Installer\\n" + WEB_AND_DEVELOPER);
    const std::string strDetails = Lpstat({"-l", "-p", QUEUE});
    EXPECT_NE(strDetails.find("printer Vellum_Zeru_3.0 is idle.  enabled"), std::string::npos) << strDetails;
    EXPECT_NE(strDetails.find("Description: Vellum Zeru 3.0\n"), std::string::npos) << strDetails;
    EXPECT_NE(Lpstat({"-a", QUEUE}).find("Vellum_Zeru_3.0 accepting requests"), std::string::npos);
    EXPECT_EQ(Lpstat({"-v", QUEUE}), "device for Vellum_Zeru_3.0: vellumfax:/\n");
    // Not everybody's default: only the users who install it choose it.
    EXPECT_EQ(Lpstat({"-d"}), "no system default destination\n");

    // A user sets themselves up without administering CUPS: the machine's part is in place.
    auto& ada = MakeUser("ada");
    ASSERT_FALSE(ada.Name().empty());
    InstallFor(ada);
    const auto root = DefaultRoot(ada);
    const std::string strSuccess =
        "Welcome to use Vellum Zeru 3.0\tVellum Zeru 3.0 has been installed successfully!\\n"
        "You may send free fax by printing on it now!\\n"
        "Sendwell opens after printing from your next login on. To have it open before "
        "that, run:\\nsetsid -f env VELLUM_ROOT=" +
        root.string() + " " + root.string() + "/windows/system/Pagewatch\\n" + WEB_AND_DEVELOPER;
    EXPECT_EQ(Messages(ada.Name()), strSuccess);
    for (const char* pszName : DISTRIBUTION_FILES)
    {
        if (std::string_view(pszName) == "Installer")
            continue;
        EXPECT_EQ(Read(root / "windows/system" / pszName), Read(m_dist / pszName)) << pszName;
    }
    EXPECT_EQ(Lpstat({"-d"}, &ada), "system default destination: Vellum_Zeru_3.0\n");
    EXPECT_EQ(Lpstat({"-d"}), "no system default destination\n");

    const auto state = Finish(Print(&ada, m_pdf));
    ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage << "\n" << m_cups.ErrorLog();
    ExpectPagesOf(root / "c", m_pdf, 2);
    ExpectOwnedBy(root / "c", ada);

    // Installing again replaces the files and finds the printer in place again.
    ASSERT_TRUE(platform::WriteWholeFile(m_dist / "Sample.html", "<p>a newer help document</p>"));
    InstallFor(ada);
    EXPECT_EQ(Read(root / "windows/system/Sample.html"), "<p>a newer help document</p>");
    EXPECT_EQ(Messages(ada.Name()), strSuccess + strSuccess);
}

TEST_F(InstallerCupsTest, RefusesLongAndUnreadableJobsAndKeepsTheEarlierPages)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    InstallFor(ada);
    const auto drive = DefaultRoot(ada) / "c";
    ASSERT_EQ(Finish(Print(&ada, m_pdf)).m_nState, CTestCups::JOB_COMPLETED) << m_cups.ErrorLog();
    const std::string strEarlier = Snapshot({drive});

    const auto longPdf = m_base / "long.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(255), longPdf), "");
    const int nLong = Print(&ada, longPdf);
    const auto longState = Finish(nLong);
    EXPECT_EQ(longState.m_nState, CTestCups::JOB_ABORTED) << longState.m_strMessage;
    const std::string strRefusal =
        "The job has 255 pages; the fax printer Vellum Zeru 3.0 takes at most 254.";
    EXPECT_NE(longState.m_strMessage.find(strRefusal), std::string::npos) << longState.m_strMessage;
    EXPECT_NE(m_cups.ErrorLog().find("[Job " + std::to_string(nLong) + "] " + strRefusal), std::string::npos);
    EXPECT_EQ(Snapshot({drive}), strEarlier);

    // Sent as it is, past the filters, garbage reaches the printer's renderer, which quotes its
    // control bytes in its complaint.
    const auto garbage = m_base / "garbage.bin";
    static constexpr char GARBAGE[] = "hello\x1b\x07world [31m this is no document \xfe\xff";
    ASSERT_TRUE(platform::WriteWholeFile(garbage, std::string(GARBAGE, sizeof GARBAGE - 1)));
    ::chmod(garbage.c_str(), 0644);
    const int nGarbage = Print(&ada, garbage, {"-o", "raw"});
    const auto garbageState = Finish(nGarbage);
    EXPECT_EQ(garbageState.m_nState, CTestCups::JOB_ABORTED) << garbageState.m_strMessage;
    // Everybody reads the message, so it quotes nothing; the administrator's log does, printably.
    EXPECT_NE(garbageState.m_strMessage.find("Vellum Zeru 3.0 cannot render this document."),
              std::string::npos)
        << garbageState.m_strMessage;
    EXPECT_EQ(garbageState.m_strMessage.find("hello"), std::string::npos) << garbageState.m_strMessage;
    EXPECT_NE(m_cups.ErrorLog().find("Ghostscript cannot render it"), std::string::npos);
    EXPECT_NE(m_cups.ErrorLog().find("hello\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(Snapshot({drive}), strEarlier);
    // A strict IPP client reads the job's attributes, its state message included, without a complaint.
    const auto ipptool =
        RunAsRoot({"ipptool", "-t",
                   "ipp://127.0.0.1:" + std::to_string(m_cups.Port()) + "/jobs/" + std::to_string(nGarbage),
                   "/usr/share/cups/ipptool/get-job-attributes.test"});
    EXPECT_TRUE(ipptool.Succeeded()) << ipptool.m_strOutput;
    const std::string strLog = m_cups.ErrorLog();
    EXPECT_EQ(std::count_if(strLog.begin(), strLog.end(),
                            [](char ch)
                            { return static_cast<unsigned char>(ch) < 0x20 && ch != '\n' && ch != '\t'; }),
              0)
        << "control bytes reached the error log";

    // A damaged PDF fails on its way through the filters; nothing reaches the page files either.
    const auto damaged = m_base / "damaged.pdf";
    ASSERT_TRUE(
        platform::WriteWholeFile(damaged, "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer\n%%EOF\n"));
    ::chmod(damaged.c_str(), 0644);
    EXPECT_NE(Finish(Print(&ada, damaged)).m_nState, CTestCups::JOB_COMPLETED);
    EXPECT_EQ(Snapshot({drive}), strEarlier);

    // The refusals stopped the jobs, not the printer.
    EXPECT_NE(Lpstat({"-p", QUEUE}).find("enabled"), std::string::npos);
    const auto state = Finish(Print(&ada, m_pdf));
    EXPECT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage;
    ExpectPagesOf(drive, m_pdf, 2);
}

TEST_F(InstallerCupsTest, SendwellRendersADocumentFileAsPrintingItThroughTheQueueDoes)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    InstallFor(ada);
    const auto printed = DefaultRoot(ada) / "c";
    // Sendwell's way: the file rendered in its own process, with the PPD the Installer placed.
    const auto given = m_base / "given" / "c";
    driver::SDocumentSettings settings;
    settings.m_ppd = DefaultRoot(ada) / "windows/system/VellumZeru.ppd";

    struct SCase
    {
        fs::path m_document;
        std::size_t m_nPages;
    };
    const auto postScript = m_base / "two.ps";
    ASSERT_TRUE(platform::WriteWholeFile(postScript, testdocs::TwoPagePostScript()));
    const auto png = m_base / "page.png";
    ASSERT_EQ(testdocs::MakeImage(testdocs::TwoPagePostScript(), "pnggray", png), "");
    const auto text = m_base / "letter.txt";
    ASSERT_TRUE(
        platform::WriteWholeFile(text, "Dear Ada,\n\tthe pages follow.\fSecond page: \xE2\x82\xAC 12\n"));
    for (const SCase& test : {SCase{m_pdf, 2}, SCase{postScript, 2}, SCase{png, 1}, SCase{text, 2}})
    {
        ::chmod(test.m_document.c_str(), 0644);
        const auto state = Finish(Print(&ada, test.m_document));
        ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << test.m_document << ": " << state.m_strMessage;
        const auto result = driver::RenderDocumentFile(test.m_document, given, settings);
        ASSERT_EQ(result.m_eResult, driver::EJobResult::Done)
            << test.m_document << ": " << result.m_strReason;
        EXPECT_EQ(static_cast<std::size_t>(result.m_nPages), test.m_nPages) << test.m_document;
        EXPECT_EQ(Read(printed / "Page.tmp"), Read(given / "Page.tmp")) << test.m_document;
        for (std::size_t nPage = 1; nPage <= test.m_nPages; ++nPage)
        {
            const std::string strName = "quill." + std::to_string(nPage);
            EXPECT_TRUE(Read(printed / strName) == Read(given / strName))
                << test.m_document << " page " << nPage << " differs from the printed one";
        }
    }
}

TEST_F(InstallerCupsTest, WritesThePagesAsTheUserWhoPrintedThem)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    auto& bob = MakeUser("bob");
    auto& cyd = MakeUser("cyd"); // never sets the printer up
    ASSERT_FALSE(cyd.Name().empty());
    InstallFor(ada);
    // Bob registers a root of his own, outside his home.
    const auto bobRoot = m_base / "bob root";
    fs::create_directories(bobRoot);
    ASSERT_EQ(::chown(bobRoot.c_str(), bob.Uid(), bob.Gid()), 0);
    InstallFor(bob, {"VELLUM_ROOT=" + bobRoot.string()});
    // A second user's installation leaves the queue as it was.
    EXPECT_EQ(Lpstat({"-v", QUEUE}), "device for Vellum_Zeru_3.0: vellumfax:/\n");

    ASSERT_EQ(Finish(Print(&ada, m_pdf)).m_nState, CTestCups::JOB_COMPLETED) << m_cups.ErrorLog();
    const auto adaDrive = DefaultRoot(ada) / "c";
    ExpectPagesOf(adaDrive, m_pdf, 2);
    ExpectOwnedBy(adaDrive, ada);
    const std::string strAda = Snapshot({adaDrive});

    const auto three = m_base / "three.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(3), three), "");
    ASSERT_EQ(Finish(Print(&bob, three)).m_nState, CTestCups::JOB_COMPLETED) << m_cups.ErrorLog();
    ExpectPagesOf(bobRoot / "c", three, 3);
    ExpectOwnedBy(bobRoot / "c", bob);
    EXPECT_FALSE(fs::exists(DefaultRoot(bob))) << "bob's pages go only to the root he registered";
    EXPECT_EQ(Snapshot({adaDrive}), strAda) << "bob's job touched ada's pages";

    // Root, a user who has not set the printer up, and a name nobody has: refused, nothing written.
    const std::vector<fs::path> everyRoot = {DefaultRoot(ada), bobRoot, DefaultRoot(bob), DefaultRoot(cyd),
                                             "/root/.local/share/vellum"};
    const std::string strBefore = Snapshot(everyRoot);
    const auto rootState = Finish(Print(nullptr, m_pdf));
    EXPECT_EQ(rootState.m_nState, CTestCups::JOB_ABORTED);
    EXPECT_NE(rootState.m_strMessage.find("takes no jobs from root"), std::string::npos)
        << rootState.m_strMessage;
    const auto cydState = Finish(Print(&cyd, m_pdf));
    EXPECT_EQ(cydState.m_nState, CTestCups::JOB_ABORTED);
    EXPECT_NE(cydState.m_strMessage.find("This user has not set up the fax printer"), std::string::npos)
        << cydState.m_strMessage;
    // The queue no longer takes a name a client claims (see the next test), but one without the
    // policy would pass it on: the backend, run as CUPS runs it, refuses a name nobody has.
    const std::string strStranger = CTestUser::NameFor("nobodyhere");
    platform::SRunOptions asCups;
    asCups.m_aEnvironment = std::vector<std::string>{"DEVICE_URI=vellumfax:/"};
    asCups.m_eOutput = platform::SRunOptions::EOutput::Capture;
    asCups.m_durTimeout = 60s;
    const auto stranger = platform::RunProgram({(m_base / "cups/serverbin/backend/vellumfax").string(), "1",
                                                strStranger, "two", "1", "", m_pdf.string()},
                                               asCups);
    EXPECT_EQ(stranger.m_nExitCode, 1) << stranger.Describe();
    EXPECT_NE(stranger.m_strOutput.find("ERROR: The job's user has no account on this computer"),
              std::string::npos)
        << stranger.m_strOutput;
    EXPECT_NE(stranger.m_strOutput.find("DEBUG: the job's user \"" + strStranger + "\" has no account"),
              std::string::npos)
        << stranger.m_strOutput;
    EXPECT_EQ(Snapshot(everyRoot), strBefore);
    // The refusals are the jobs' own: the queue goes on for everybody.
    EXPECT_NE(Lpstat({"-p", QUEUE}).find("enabled"), std::string::npos);
    ASSERT_EQ(Finish(Print(&ada, three)).m_nState, CTestCups::JOB_COMPLETED);
    ExpectPagesOf(adaDrive, three, 3);
}

TEST_F(InstallerCupsTest, TakesEachJobAsTheUserWhoSendsItWhateverNameTheClientClaims)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    auto& bob = MakeUser("bob");
    InstallFor(ada);
    InstallFor(bob);
    // Bob has pages waiting, which a job in his name would replace.
    const int nBobJob = Print(&bob, m_pdf);
    ASSERT_EQ(Finish(nBobJob).m_nState, CTestCups::JOB_COMPLETED) << m_cups.ErrorLog();
    const auto bobDrive = DefaultRoot(bob) / "c";
    const std::string strBobFiles = Snapshot({DefaultRoot(bob)});
    auto pagesOf = [](const fs::path& drive)
    { return Read(drive / "Page.tmp") + Read(drive / "quill.1") + Read(drive / "quill.2"); };
    const std::string strBobPages = pagesOf(bobDrive);
    const auto three = m_base / "three.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(3), three), "");

    // lp -U bob: over the socket lp cannot prove that name without bob's password, and over TCP
    // it cannot prove any name without one; CUPS refuses the job before there is one. Over TCP
    // that holds for ada's own jobs too.
    std::vector<std::string> tcp = m_cups.Variables();
    for (auto& strVariable : tcp)
    {
        if (strVariable.starts_with("CUPS_SERVER="))
            strVariable = "CUPS_SERVER=127.0.0.1:" + std::to_string(m_cups.Port());
    }
    struct SAttempt
    {
        const char* m_pszWhat;
        std::vector<std::string> m_environment;
        bool m_bClaimsBob;
    };
    for (const SAttempt& attempt :
         {SAttempt{"socket, -U", m_cups.Variables(), true}, SAttempt{"TCP, -U", tcp, true},
          SAttempt{"TCP, her own name", tcp, false}})
    {
        std::vector<std::string> args = {"lp", "-d", QUEUE};
        if (attempt.m_bClaimsBob)
            args.insert(args.end(), {"-U", bob.Name()});
        args.push_back(three.string());
        const auto result = ada.Run(args, attempt.m_environment);
        EXPECT_FALSE(result.Succeeded()) << attempt.m_pszWhat << ": " << result.m_strOutput;
        EXPECT_EQ(result.m_strOutput, "lp: Unauthorized\n") << attempt.m_pszWhat;
    }

    // A client that names bob in the request but is ada on the socket: the job is hers, and so
    // are the pages.
    const auto claimTest = m_base / "claim.test";
    ASSERT_TRUE(platform::WriteWholeFile(claimTest, "{\n"
                                                    "  OPERATION Print-Job\n"
                                                    "  GROUP operation-attributes-tag\n"
                                                    "  ATTR charset attributes-charset utf-8\n"
                                                    "  ATTR language attributes-natural-language en\n"
                                                    "  ATTR uri printer-uri $uri\n"
                                                    "  ATTR name requesting-user-name $claimed\n"
                                                    "  ATTR mimeMediaType document-format $filetype\n"
                                                    "  FILE $filename\n"
                                                    "  STATUS successful-ok\n"
                                                    "  EXPECT job-id\n"
                                                    "}\n"));
    ::chmod(claimTest.c_str(), 0644);
    const std::string strSocketHost = SocketHost();
    const auto ipptool = ada.Run({"ipptool", "-tv", "-d", "claimed=" + bob.Name(), "-f", three.string(),
                                  "ipp://" + strSocketHost + "/printers/" + QUEUE, claimTest.string()},
                                 {});
    ASSERT_TRUE(ipptool.Succeeded()) << ipptool.m_strOutput;
    ASSERT_NE(ipptool.m_strOutput.find("requesting-user-name (nameWithoutLanguage) = " + bob.Name()),
              std::string::npos)
        << ipptool.m_strOutput;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(ipptool.m_strOutput, match, std::regex("job-id \\(integer\\) = ([0-9]+)")))
        << ipptool.m_strOutput;
    const int nClaimed = std::stoi(match[1]);
    // The refused attempts made no job: this one came next after bob's.
    EXPECT_EQ(nClaimed, nBobJob + 1);
    const auto state = Finish(nClaimed);
    ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage << "\n" << m_cups.ErrorLog();
    ExpectPagesOf(DefaultRoot(ada) / "c", three, 3);
    ExpectOwnedBy(DefaultRoot(ada) / "c", ada);
    // The queue takes one job at a time, in order: everything sent before has been through it.
    EXPECT_EQ(Snapshot({DefaultRoot(bob)}), strBobFiles);
    EXPECT_TRUE(pagesOf(bobDrive) == strBobPages) << "bob's pages changed";
}

// The shared queue with short limits for the backend, set as an administrator sets them.
class SharedQueueTest : public InstallerCupsTest
{
protected:
    std::vector<std::string> BackendEnvironment() const override
    {
        return {"VELLUMFAX_INPUT_STALL=3", "VELLUMFAX_WORK_STALL=3", "VELLUMFAX_JOB_LIMIT=60"};
    }

    // A line of /proc/PID/status ("Uid:", "PPid:"): its first value.
    static std::string StatusField(const fs::path& process, const std::string& strField)
    {
        std::istringstream status(platform::ReadWholeFile(process / "status", 1 << 16).value_or(""));
        for (std::string strLine; std::getline(status, strLine);)
            if (strLine.starts_with(strField + ":"))
            {
                std::istringstream values(strLine.substr(strField.size() + 1));
                std::string strValue;
                values >> strValue;
                return strValue;
            }
        return {};
    }

    // The backend's work on job nJob once it runs as the user: a fork of the backend, so its
    // program is the backend and its arguments are the backend's ("URI JOB USER ..."). -1 if
    // none came within 60 s.
    static pid_t WorkOf(int nJob, const CTestUser& user)
    {
        const std::string strJob = '\0' + std::to_string(nJob) + '\0';
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline)
        {
            for (const auto& entry : fs::directory_iterator("/proc"))
            {
                const std::string strPid = entry.path().filename().string();
                std::error_code error;
                if (strPid.find_first_not_of("0123456789") != std::string::npos ||
                    fs::read_symlink(entry.path() / "exe", error).filename() != "vellumfax" ||
                    StatusField(entry.path(), "Uid") != std::to_string(user.Uid()))
                    continue;
                const std::string strCommand =
                    platform::ReadWholeFile(entry.path() / "cmdline", 4096).value_or("");
                if (strCommand.find(strJob) == strCommand.find('\0'))
                    return std::stoi(strPid);
            }
            std::this_thread::sleep_for(2ms);
        }
        return -1;
    }
};

TEST_F(SharedQueueTest, OneUsersStuckJobsEndWithinTheLimitsTellOthersNothingAndTheQueueGoesOn)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    auto& bob = MakeUser("bob");
    InstallFor(ada);
    InstallFor(bob);

    // Bob's jobs, queued before Ada's: a PostScript loop printed the ordinary way (it loops in
    // the spooler's filters, so no input reaches the backend), a long document whose work he
    // stops, and PostScript sent raw whose refusal by Ghostscript quotes his text.
    const auto loop = m_base / "loop.ps";
    ASSERT_TRUE(platform::WriteWholeFile(loop, "%!PS\n{ 1 pop } loop\n"));
    const auto longPdf = m_base / "forty.pdf";
    ASSERT_EQ(testdocs::MakePdf(testdocs::NumberedPagesPostScript(40), longPdf), "");
    const auto secret = m_base / "secret.ps";
    ASSERT_TRUE(platform::WriteWholeFile(secret, "%!PS\nSalary-review-for-Ann:-98000-EUR\n"));
    for (const auto& document : {loop, longPdf, secret})
        ::chmod(document.c_str(), 0644);
    const int nLoop = Print(&bob, loop);
    const int nStopped = Print(&bob, longPdf);
    const int nSecret = Print(&bob, secret, {"-o", "raw"});
    const int nAda = Print(&ada, m_pdf);

    // Bob may stop his own job's work, but not the supervisor, which keeps root's rights.
    const pid_t work = WorkOf(nStopped, bob);
    ASSERT_GT(work, 0) << "no work of job " << nStopped << " runs as " << bob.Name() << "\n"
                       << m_cups.ErrorLog();
    const std::string strSupervisor = StatusField("/proc/" + std::to_string(work), "PPid");
    EXPECT_EQ(StatusField("/proc/" + strSupervisor, "Uid"), "0");
    const auto refused = bob.Run({"kill", "-STOP", strSupervisor}, {});
    EXPECT_NE(refused.m_strOutput.find("Operation not permitted"), std::string::npos) << refused.m_strOutput;
    const auto stop = bob.Run({"kill", "-STOP", std::to_string(work)}, {});
    ASSERT_TRUE(stop.Succeeded()) << stop.m_strOutput;

    struct SEnd
    {
        int m_nJob;
        int m_nState;
        std::string m_strMessage;
    };
    for (const SEnd& expected :
         {SEnd{nLoop, CTestCups::JOB_ABORTED, "gave the job up: no more of its document came for 3 seconds."},
          SEnd{nStopped, CTestCups::JOB_ABORTED, "gave the job up: it made no progress for 3 seconds."},
          SEnd{nSecret, CTestCups::JOB_ABORTED,
               "Vellum Zeru 3.0 cannot render this document. Nothing was written."},
          SEnd{nAda, CTestCups::JOB_COMPLETED, {}}})
    {
        const auto state = Finish(expected.m_nJob);
        EXPECT_EQ(state.m_nState, expected.m_nState)
            << "job " << expected.m_nJob << ": " << state.m_strMessage;
        if (!expected.m_strMessage.empty())
        {
            EXPECT_NE(state.m_strMessage.find(expected.m_strMessage), std::string::npos)
                << "job " << expected.m_nJob << ": " << state.m_strMessage;
        }
    }
    EXPECT_TRUE(CTestUser::WaitUntilEnded(work)) << "the stopped work still runs";
    ExpectPagesOf(DefaultRoot(ada) / "c", m_pdf, 2);

    // Ada reads the printer and Bob's jobs: nothing of his document, his name or his home.
    const std::string strSocketHost = SocketHost();
    std::string strSeen = Lpstat({"-l", "-p", QUEUE}, &ada);
    for (int nJob : {nLoop, nStopped, nSecret})
    {
        const auto job =
            ada.Run({"ipptool", "-tv", "ipp://" + strSocketHost + "/jobs/" + std::to_string(nJob),
                     "/usr/share/cups/ipptool/get-job-attributes.test"},
                    {});
        EXPECT_NE(job.m_strOutput.find("job-printer-state-message (textWithoutLanguage) = "),
                  std::string::npos)
            << job.m_strOutput;
        strSeen += job.m_strOutput;
    }
    for (const std::string& strSecret : {std::string("Salary"), bob.Name(), bob.Home().string()})
        EXPECT_EQ(strSeen.find(strSecret), std::string::npos) << strSecret << " in\n" << strSeen;
    // The administrator's log keeps the quote, in DEBUG lines only.
    std::istringstream log(m_cups.ErrorLog());
    bool bQuoted = false;
    for (std::string strLine; std::getline(log, strLine);)
        if (strLine.find("Salary-review-for-Ann") != std::string::npos)
        {
            bQuoted = true;
            EXPECT_TRUE(strLine.starts_with("D ")) << strLine;
        }
    EXPECT_TRUE(bQuoted);
}

TEST_F(InstallerCupsTest, GivesTheQueueOfAnOlderInstallationThePolicyWhenRootRunsItAgain)
{
    // The queue's operation policy, which a printer's "all" attributes leave out.
    const auto policyTest = m_base / "policy.test";
    ASSERT_TRUE(platform::WriteWholeFile(policyTest, "{\n"
                                                     "  OPERATION Get-Printer-Attributes\n"
                                                     "  GROUP operation-attributes-tag\n"
                                                     "  ATTR charset attributes-charset utf-8\n"
                                                     "  ATTR language attributes-natural-language en\n"
                                                     "  ATTR uri printer-uri $uri\n"
                                                     "  ATTR keyword requested-attributes printer-op-policy\n"
                                                     "  STATUS successful-ok\n"
                                                     "}\n"));
    auto policy = [&]
    {
        const auto result = RunAsRoot(
            {"ipptool", "-tv", "ipp://127.0.0.1:" + std::to_string(m_cups.Port()) + "/printers/" + QUEUE,
             policyTest.string()});
        std::smatch match;
        return std::regex_search(result.m_strOutput, match,
                                 std::regex("printer-op-policy \\(nameWithoutLanguage\\) = (\\S+)"))
                   ? match[1].str()
                   : "<none>: " + result.m_strOutput;
    };
    InstallMachine();
    EXPECT_EQ(policy(), "authenticated");
    // The queue as an older Installer left it: the stock policy, which believes any name.
    const auto older = RunAsRoot({"lpadmin", "-p", QUEUE, "-o", "printer-op-policy=default"});
    ASSERT_TRUE(older.Succeeded()) << older.m_strOutput;
    ASSERT_EQ(policy(), "default");
    InstallMachine();
    EXPECT_EQ(policy(), "authenticated");
}

TEST_F(InstallerCupsTest, StartsTheWatcherInTheInstallingUsersSession)
{
    InstallMachine();
    auto& ada = MakeUser("ada");
    // A session's display (none is there, and none is needed to watch).
    InstallFor(ada, {"DISPLAY=:97"});
    const auto drive = DefaultRoot(ada) / "c";
    const auto pid = watcher::CPageWatcher::LockHolder(drive);
    ASSERT_TRUE(pid) << "no watcher holds the lock of " << drive << "\n" << Messages(ada.Name());
    ada.Adopt(*pid);
    struct stat st = {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(*pid)).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ada.Uid()) << "the watcher runs as the user";
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(*pid) + "/exe"),
              DefaultRoot(ada) / "windows/system/Pagewatch");
    EXPECT_EQ(Messages(ada.Name()).find("from your next login on"), std::string::npos)
        << Messages(ada.Name());

    // Uninstalling stops it.
    const auto removal =
        ada.Run({(m_dist / "Installer").string(), "--uninstall"}, Environment(ada.Name()), m_dist.string());
    EXPECT_TRUE(removal.Succeeded()) << Messages(ada.Name());
    EXPECT_TRUE(CTestUser::WaitUntilEnded(*pid)) << "the watcher still runs";
}

TEST_F(InstallerCupsTest, SudoInstallsForTheInvokingUserAndUninstallRemovesEverything)
{
    auto& dee = MakeUser("dee");
    ASSERT_FALSE(dee.Name().empty());
    // Dee may use sudo with her password, as the first user of a Debian desktop may.
    static constexpr char PASSWORD[] = "fax-test-password";
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = 60s;
    ASSERT_TRUE(platform::RunProgram({"/usr/sbin/usermod", "-aG", "sudo", dee.Name()}, options).Succeeded());
    {
        platform::CProcess chpasswd;
        int aFds[2];
        ASSERT_EQ(::pipe2(aFds, O_CLOEXEC), 0);
        const std::string strLine = dee.Name() + ":" + PASSWORD + "\n";
        ASSERT_EQ(::write(aFds[1], strLine.data(), strLine.size()), static_cast<ssize_t>(strLine.size()));
        ::close(aFds[1]);
        platform::SSpawnOptions spawn;
        spawn.m_eInput = platform::EChildStream::Descriptor;
        spawn.m_nInputFd = aFds[0];
        ASSERT_TRUE(chpasswd.Start({"/usr/sbin/chpasswd"}, spawn));
        ::close(aFds[0]);
        ASSERT_EQ(chpasswd.Wait(60s), platform::EWaitResult::Ended);
        ASSERT_TRUE(chpasswd.Succeeded());
    }
    auto sudo = [&](const std::vector<std::string>& installerArgs)
    {
        // sudo clears the environment: the CUPS variables go as env's arguments.
        std::vector<std::string> args = {"/usr/sbin/runuser",
                                         "-u",
                                         dee.Name(),
                                         "--",
                                         "/usr/bin/env",
                                         "-i",
                                         "HOME=" + dee.Home().string(),
                                         "USER=" + dee.Name(),
                                         "PATH=/usr/local/bin:/usr/bin:/bin",
                                         "sudo",
                                         "-S",
                                         "-p",
                                         "",
                                         "/usr/bin/env"};
        for (const auto& strVariable : Environment("sudo"))
            args.push_back(strVariable);
        args.push_back((m_dist / "Installer").string());
        args.insert(args.end(), installerArgs.begin(), installerArgs.end());
        int aFds[2];
        EXPECT_EQ(::pipe2(aFds, O_CLOEXEC), 0);
        const std::string strPassword = std::string(PASSWORD) + "\n";
        EXPECT_EQ(::write(aFds[1], strPassword.data(), strPassword.size()),
                  static_cast<ssize_t>(strPassword.size()));
        ::close(aFds[1]);
        platform::SSpawnOptions spawn;
        spawn.m_eInput = platform::EChildStream::Descriptor;
        spawn.m_nInputFd = aFds[0];
        spawn.m_eOutput = platform::EChildStream::Pipe;
        spawn.m_eErrors = platform::EChildStream::Pipe;
        spawn.m_strWorkingDirectory = m_dist.string();
        platform::CProcess process;
        EXPECT_TRUE(process.Start(args, spawn)) << process.Error();
        ::close(aFds[0]);
        std::string strOutput;
        EXPECT_EQ(process.ReadOutput(strOutput, 120s, 1 << 16), platform::EWaitResult::Ended);
        EXPECT_EQ(process.Wait(60s), platform::EWaitResult::Ended);
        return std::pair(process.Succeeded(), strOutput);
    };
    const std::vector<fs::path> cupsFolders = {m_base / "cups/etc", m_base / "cups/serverbin/backend",
                                               m_base / "cups/data/model", m_base / "cups/cache"};
    auto fileNames = [](const std::vector<fs::path>& folders)
    {
        std::set<std::string> names;
        for (const auto& folder : folders)
            for (const auto& entry : fs::recursive_directory_iterator(folder))
                names.insert(entry.path().string());
        return names;
    };
    const auto homeBefore = fileNames({dee.Home()});
    const auto cupsBefore = fileNames(cupsFolders);

    const auto [bInstalled, strInstallOutput] = sudo({});
    ASSERT_TRUE(bInstalled) << strInstallOutput << Messages("sudo");
    EXPECT_NE(Messages("sudo").find("has been installed successfully!"), std::string::npos)
        << Messages("sudo");
    const auto root = DefaultRoot(dee);
    for (const fs::path& path :
         {root, root / "windows/system/Sendwell", root / "windows/system/Pagewatch", root / "c",
          dee.Home() / ".config/vellum/fax-printer",
          dee.Home() / ".config/autostart/vellum-pagewatch.desktop",
          dee.Home() / ".local/share/applications/vellum-sendwell.desktop", dee.Home() / ".cups/lpoptions"})
    {
        struct stat st = {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_uid, dee.Uid()) << path << " belongs to the invoking user";
    }
    EXPECT_NE(Read(dee.Home() / ".config/autostart/vellum-pagewatch.desktop")
                  .find(root.string() + "/windows/system/Pagewatch"),
              std::string::npos);
    EXPECT_EQ(Lpstat({"-d"}, &dee), "system default destination: Vellum_Zeru_3.0\n");
    EXPECT_EQ(Lpstat({"-d"}), "no system default destination\n");
    const auto state = Finish(Print(&dee, m_pdf));
    ASSERT_EQ(state.m_nState, CTestCups::JOB_COMPLETED) << state.m_strMessage << "\n" << m_cups.ErrorLog();
    ExpectPagesOf(root / "c", m_pdf, 2);
    ExpectOwnedBy(root / "c", dee);

    // Sendwell kept its settings and address book; uninstalling keeps them, and nothing else.
    ASSERT_TRUE(platform::WriteWholeFile(root / "windows/system/quill.cfg", "settings"));
    ASSERT_TRUE(platform::WriteWholeFile(root / "windows/system/flist.dll", "address book"));
    const auto [bRemoved, strRemoveOutput] = sudo({"--uninstall"});
    EXPECT_TRUE(bRemoved) << strRemoveOutput << Messages("sudo");
    auto homeAfter = fileNames({dee.Home()});
    for (const char* pszKept :
         {".local", ".local/share", ".local/share/vellum", ".local/share/vellum/windows",
          ".local/share/vellum/windows/system", ".local/share/vellum/windows/system/quill.cfg",
          ".local/share/vellum/windows/system/flist.dll"})
        EXPECT_EQ(homeAfter.erase((dee.Home() / pszKept).string()), 1u) << pszKept;
    homeAfter.erase((dee.Home() / ".sudo_as_admin_successful").string()); // sudo's own
    EXPECT_EQ(homeAfter, homeBefore);
    EXPECT_EQ(Lpstat({"-v"}).find(QUEUE), std::string::npos) << "the queue is gone";
    const auto cupsAfter = fileNames(cupsFolders);
    for (const auto& strPath : cupsAfter)
    {
        std::string strLower = strPath;
        std::transform(strLower.begin(), strLower.end(), strLower.begin(), ::tolower);
        EXPECT_EQ(strLower.find("vellum"), std::string::npos) << strPath;
        if (!cupsBefore.count(strPath) && fs::is_regular_file(strPath))
        {
            EXPECT_EQ(Read(strPath).find(QUEUE), std::string::npos) << strPath << " still names the queue";
        }
    }
    const std::string strRemoval = Messages("sudo");
    EXPECT_NE(strRemoval.find("Removing Vellum Zeru 3.0\tVellum Zeru 3.0 has been removed.\\nDone:\\n"),
              std::string::npos)
        << strRemoval;
    EXPECT_NE(strRemoval.find("- removing the printer Vellum Zeru 3.0 from CUPS\\n"), std::string::npos)
        << strRemoval;

    const auto [bAgain, strAgainOutput] = sudo({"--uninstall"});
    EXPECT_TRUE(bAgain) << strAgainOutput;
    EXPECT_NE(
        Messages("sudo").find("Removing Vellum Zeru 3.0\tVellum Zeru 3.0 is not installed here: there is "
                              "nothing to remove.\\n"),
        std::string::npos)
        << Messages("sudo");
}

} // namespace
