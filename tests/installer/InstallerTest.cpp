#include "installer/Installer.h"

#include "installer/CompletionReport.h"
#include "installer/CupsSetup.h"
#include "installer/ProgramFiles.h"
#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "tests/pages/TestDocuments.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace
{

namespace fs = std::filesystem;
using installer::CInstaller;
using installer::EPrivilege;
using installer::SInstallSettings;

// The Installer's steps against folders of a test and a stand-in lpadmin that records its
// arguments; the real CUPS is exercised in tests/integration.
class InstallerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = testdocs::MakeTempFolder("installer");
        ASSERT_FALSE(m_base.empty());
        m_source = m_base / "dist";
        fs::create_directories(m_source);
        for (const char* pszName : {installer::BACKEND_FILE, installer::PAGEMILL_FILE,
                                    installer::SENDWELL_FILE, installer::WATCHER_FILE})
            WriteSource(pszName, std::string("#!/bin/sh\n# ") + pszName + "\n", 0755);
        for (const char* pszName : {installer::PPD_FILE, installer::MESSAGE_MODULE_FILE, installer::HELP_FILE,
                                    installer::ICON_FILE, installer::COVER_TEMPLATE_FILE})
            WriteSource(pszName, std::string("content of ") + pszName + "\n", 0644);
        SetLpadmin(0, "");
        // The type the private cupsd of tests/integration gives the queue: it asks who sends a job.
        SetLpoptions("6295620");
        // No queue is there yet.
        SetTool("lpstat", 1, "lpstat: Invalid destination name in list \"Vellum_Zeru_3.0\".");

        m_settings.m_sourceDirectory = m_source;
        m_settings.m_vellumRoot = m_base / "root";
        m_settings.m_systemDirectory = m_base / "root" / "windows" / "system";
        m_settings.m_driveRoot = m_base / "root" / "c";
        m_settings.m_cupsServerBin = m_base / "serverbin";
        m_settings.m_cupsDataDir = m_base / "data";
        m_settings.m_autostartDirectory = m_base / "config" / "autostart";
        m_settings.m_applicationsDirectory = m_base / "data" / "applications";
        m_settings.m_strLpadmin = (m_base / "lpadmin").string();
        m_settings.m_strLpstat = (m_base / "lpstat").string();
        m_settings.m_strLpoptions = (m_base / "lpoptions").string();
        m_settings.m_ePrivilege = EPrivilege::Administrator;
        driver::SUserAccount account;
        account.m_strName = "ada";
        account.m_nUid = ::getuid();
        account.m_nGid = ::getgid();
        account.m_home = m_base / "home";
        m_settings.m_account = account;
        fs::create_directories(m_settings.m_cupsServerBin / "backend");
    }
    void TearDown() override { fs::remove_all(m_base); }

    void WriteSource(const char* pszName, const std::string& strContent, mode_t mode)
    {
        ASSERT_TRUE(platform::WriteWholeFile(m_source / pszName, strContent));
        ::chmod((m_source / pszName).c_str(), mode);
    }

    void SetLpadmin(int nExitCode, const std::string& strSays) { SetTool("lpadmin", nExitCode, strSays); }

    // A stand-in lpoptions: lists the queue's attributes with this printer-type for -p, and
    // records every other call as SetTool's stand-ins do.
    void SetLpoptions(const std::string& strPrinterType)
    {
        SetTool("lpoptions", 0, "");
        const auto script = m_base / "lpoptions";
        const std::string strText = platform::ReadWholeFile(script, 1 << 16).value_or("");
        ASSERT_TRUE(platform::WriteWholeFile(
            script, "#!/bin/sh\nif [ \"$1\" = -p ]; then echo \"copies=1 device-uri=vellumfax:/ "
                    "printer-info='Vellum Zeru 3.0' printer-type=" +
                        strPrinterType + "\"; exit 0; fi\n" + strText.substr(strText.find('\n') + 1)));
        ::chmod(script.c_str(), 0755);
    }

    // A stand-in CUPS tool: appends its arguments, one a line, and a separator to NAME.log.
    void SetTool(const std::string& strName, int nExitCode, const std::string& strSays)
    {
        const auto log = m_base / (strName + ".log");
        const std::string strScript = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                                      log.string() + "'\necho --- >> '" + log.string() + "'\n" +
                                      (strSays.empty() ? "" : "echo '" + strSays + "' >&2\n") + "exit " +
                                      std::to_string(nExitCode) + "\n";
        ASSERT_TRUE(platform::WriteWholeFile(m_base / strName, strScript));
        ::chmod((m_base / strName).c_str(), 0755);
    }

    std::string Read(const fs::path& path) const
    {
        return platform::ReadWholeFile(path, 1 << 20).value_or("<missing>");
    }

    static fs::perms Perms(const fs::path& path) { return fs::status(path).permissions(); }

    const CInstaller& Install()
    {
        m_installer = std::make_unique<CInstaller>(m_settings);
        m_installer->Run();
        return *m_installer;
    }

    fs::path m_base;
    fs::path m_source;
    SInstallSettings m_settings;
    std::unique_ptr<CInstaller> m_installer;
};

TEST_F(InstallerTest, CopiesRegistersAndAnnouncesSuccess)
{
    const auto& run = Install();
    for (const auto& step : run.Steps())
        EXPECT_TRUE(step.m_bOk) << step.m_strStep << ": " << step.m_strDetail;
    ASSERT_TRUE(run.Succeeded());

    const auto system = m_settings.m_systemDirectory;
    for (const char* pszName : {"vellumfax", "VellumZeru.ppd", "Pagemill", "libvellum_msgbox.so", "Sendwell",
                                "Pagewatch", "Sample.html", "Cover.svg"})
        EXPECT_EQ(Read(system / pszName), Read(m_source / pszName)) << pszName;
    EXPECT_EQ(Perms(system / "Sendwell") & fs::perms::owner_exec, fs::perms::owner_exec)
        << "programs stay runnable";
    EXPECT_EQ(Perms(m_settings.m_driveRoot), fs::perms::owner_all) << "the page files' folder is private";

    // The backend is placed so that CUPS runs it as root (no group or other permissions).
    const auto backend = m_settings.m_cupsServerBin / "backend" / "vellumfax";
    EXPECT_EQ(Read(backend), Read(m_source / "vellumfax"));
    EXPECT_EQ(Perms(backend), fs::perms::owner_all);
    EXPECT_EQ(Read(m_settings.m_cupsDataDir / "model" / "vellum" / "VellumZeru.ppd"),
              Read(m_source / "VellumZeru.ppd"));

    // One queue for everybody, naming nobody; the printer becomes the default of this user only.
    EXPECT_EQ(Read(m_base / "lpadmin.log"),
              "-p\nVellum_Zeru_3.0\n-D\nVellum Zeru 3.0\n-v\nvellumfax:/\n-P\n" +
                  (m_settings.m_cupsDataDir / "model" / "vellum" / "VellumZeru.ppd").string() +
                  "\n-o\nprinter-error-policy=abort-job\n-o\nprinter-is-shared=false\n-o\n"
                  "printer-op-policy=authenticated\n-E\n---\n");
    EXPECT_EQ(Read(m_base / "lpoptions.log"), "-d\nVellum_Zeru_3.0\n---\n");
    EXPECT_EQ(Read(m_base / "home" / ".config" / "vellum" / "fax-printer"),
              "# Where the fax printer Vellum Zeru 3.0 leaves this user's pages.\nroot=" +
                  m_settings.m_vellumRoot.string() + "\n");
    EXPECT_EQ(Perms(m_base / "home" / ".config" / "vellum" / "fax-printer"),
              fs::perms::owner_read | fs::perms::owner_write);

    // Without a desktop session to start the watcher in, the message says how to start it.
    EXPECT_EQ(run.CompletionText(), "Vellum Zeru 3.0 has been installed successfully!\n"
                                    "You may send free fax by printing on it now!\n"
                                    "Sendwell opens after printing from your next login on. To have it open "
                                    "before that, run:\n"
                                    "setsid -f env VELLUM_ROOT=" +
                                        m_settings.m_vellumRoot.string() + " " + system.string() +
                                        "/Pagewatch\n"
                                        "Web\xEF\xBC\x9Ahttp://www.vellum-zeru.example/\n"
                                        "Developer: Quill Technology");
}

TEST_F(InstallerTest, EachCopyHasItsModeWhateverTheUmask)
{
    const mode_t oldMask = ::umask(077);
    const bool bOk = Install().Succeeded();
    ::umask(oldMask);
    ASSERT_TRUE(bOk);
    const auto rwxr_xr_x = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    const auto rw_r__r__ =
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    // The system folder's copies keep the distribution's modes; the registered driver gets its own.
    EXPECT_EQ(Perms(m_settings.m_systemDirectory / "Sendwell"), rwxr_xr_x);
    EXPECT_EQ(Perms(m_settings.m_systemDirectory / "Sample.html"), rw_r__r__);
    EXPECT_EQ(Perms(m_settings.m_cupsServerBin / "backend" / "vellumfax"), fs::perms::owner_all);
    EXPECT_EQ(Perms(m_settings.m_cupsDataDir / "model" / "vellum" / "VellumZeru.ppd"), rw_r__r__);
}

TEST_F(InstallerTest, MakesTheUsersFoldersPrivateAlsoWhereAnOlderVersionLeftThemOpen)
{
    const auto rwxr_xr_x = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    for (const auto& folder : {m_settings.m_systemDirectory, m_settings.m_driveRoot})
    {
        fs::create_directories(folder);
        fs::permissions(folder, rwxr_xr_x);
    }
    ASSERT_TRUE(Install().Succeeded());
    EXPECT_EQ(Perms(m_settings.m_systemDirectory), fs::perms::owner_all);
    EXPECT_EQ(Perms(m_settings.m_driveRoot), fs::perms::owner_all);
    // The programs in it still run.
    EXPECT_TRUE(platform::RunProgram({(m_settings.m_systemDirectory / "Sendwell").string()}, {}).Succeeded());
}

TEST_F(InstallerTest, WritesAnAutostartEntryThatStartsTheWatcherOnThisRoot)
{
    // A folder name that needs quoting in a desktop entry's Exec line.
    m_settings.m_vellumRoot = m_base / "my \"fax\" $root 100%";
    m_settings.m_systemDirectory = m_settings.m_vellumRoot / "windows" / "system";
    m_settings.m_driveRoot = m_settings.m_vellumRoot / "c";
    ASSERT_TRUE(Install().Succeeded());
    const std::string strEntry = Read(m_settings.m_autostartDirectory / "vellum-pagewatch.desktop");
    EXPECT_NE(strEntry.find("[Desktop Entry]\nType=Application\n"), std::string::npos) << strEntry;
    const std::string strRoot = m_settings.m_vellumRoot.string();
    const std::string strBase = m_base.string();
    // The freedesktop.org desktop entry rules: \" \$ inside quotes, %% for %, then every \ doubled as a
    // string value.
    EXPECT_NE(strEntry.find("Exec=env \"VELLUM_ROOT=" + strBase + "/my \\\\\"fax\\\\\" \\\\$root 100%%\" \"" +
                            strBase + "/my \\\\\"fax\\\\\" \\\\$root 100%%/windows/system/Pagewatch\"\n"),
              std::string::npos)
        << strEntry;
}

TEST_F(InstallerTest, RunsEveryStepAndNamesTheOnesThatFailed)
{
    fs::remove(m_source / "Sendwell");
    fs::remove(m_source / "Sample.html");
    m_settings.m_strGhostscript = "no-such-ghostscript-here";
    const auto& run = Install();
    EXPECT_FALSE(run.Succeeded());

    // The other files are still copied and both registrations still happen.
    EXPECT_EQ(Read(m_settings.m_systemDirectory / "Pagewatch"), Read(m_source / "Pagewatch"));
    EXPECT_FALSE(fs::exists(m_settings.m_systemDirectory / "Sendwell"));
    EXPECT_TRUE(fs::exists(m_settings.m_cupsServerBin / "backend" / "vellumfax"));
    EXPECT_NE(Read(m_base / "lpadmin.log").find("-p\nVellum_Zeru_3.0\n"), std::string::npos);

    const std::string strText = run.CompletionText();
    EXPECT_EQ(strText.find("successfully"), std::string::npos) << strText;
    EXPECT_EQ(strText.find("You may send free fax"), std::string::npos) << strText;
    EXPECT_NE(strText.find("- copying Sendwell: " + (m_source / "Sendwell").string() + " is missing\n"),
              std::string::npos)
        << strText;
    EXPECT_NE(strText.find("- copying Sample.html: "), std::string::npos) << strText;
    EXPECT_NE(
        strText.find("- finding Ghostscript: the program no-such-ghostscript-here is missing; install the "
                     "package ghostscript\n"),
        std::string::npos)
        << strText;
    EXPECT_EQ(strText.find("copying Pagemill"), std::string::npos) << "only failed steps are named";
    EXPECT_NE(strText.find("Developer: Quill Technology"), std::string::npos);
}

TEST_F(InstallerTest, TellsAUserWhoMayNotAdministerCupsWhatToRun)
{
    m_settings.m_ePrivilege = EPrivilege::User;
    m_settings.m_strCupsServer = "localhost:8631";
    ::chmod((m_settings.m_cupsServerBin / "backend").c_str(), 0555);
    SetLpadmin(1, "lpadmin: Forbidden");
    const auto& run = Install();
    ::chmod((m_settings.m_cupsServerBin / "backend").c_str(), 0755);

    EXPECT_FALSE(run.Succeeded());
    EXPECT_EQ(Read(m_settings.m_systemDirectory / "Sendwell"), Read(m_source / "Sendwell"))
        << "files are copied";
    const std::string strText = run.CompletionText();
    // Root writes into read-only folders, so only an ordinary user sees the refused copy.
    if (::geteuid() != 0)
    {
        EXPECT_NE(strText.find("- registering the printer driver: "), std::string::npos) << strText;
    }
    EXPECT_NE(strText.find("- registering the printer Vellum Zeru 3.0: lpadmin: Forbidden"),
              std::string::npos)
        << strText;
    const auto system = m_settings.m_systemDirectory.string();
    const auto serverbin = m_settings.m_cupsServerBin.string();
    EXPECT_NE(strText.find("sudo install -D -m 0700 " + system + "/vellumfax " + serverbin +
                           "/backend/vellumfax\n"),
              std::string::npos)
        << strText;
    EXPECT_NE(strText.find("sudo " + m_settings.m_strLpadmin +
                           " -h localhost:8631 -p Vellum_Zeru_3.0 -D 'Vellum Zeru 3.0' -v vellumfax:/ -P " +
                           m_settings.m_cupsDataDir.string() +
                           "/model/vellum/VellumZeru.ppd -o printer-error-policy=abort-job -o "
                           "printer-is-shared=false -o printer-op-policy=authenticated -E\n" +
                           m_settings.m_strLpoptions + " -d Vellum_Zeru_3.0\n"),
              std::string::npos)
        << strText;
    EXPECT_FALSE(fs::exists(m_base / "lpoptions.log")) << "no default is chosen before the queue is there";
}

TEST_F(InstallerTest, AdministratorsAreToldTheFailureWithoutCommands)
{
    SetLpadmin(1, "lpadmin: Unable to connect to server");
    const auto& run = Install();
    const std::string strText = run.CompletionText();
    EXPECT_NE(
        strText.find("- registering the printer Vellum Zeru 3.0: lpadmin: Unable to connect to server (" +
                     m_settings.m_strLpadmin + ": exit code 1)"),
        std::string::npos)
        << strText;
    EXPECT_EQ(strText.find("sudo"), std::string::npos) << strText;
}

TEST_F(InstallerTest, FailsSayingWhyWhenTheSchedulerHasNoPolicyThatAuthenticatesJobs)
{
    // What lpadmin says, and does, when cupsd.conf has no such policy: it makes no queue at all.
    SetLpadmin(1, "lpadmin: Printer drivers are deprecated and will stop working in a future version of "
                  "CUPS.\nlpadmin: Unknown printer-op-policy \"authenticated\".");
    const auto& run = Install();
    EXPECT_FALSE(run.Succeeded());
    const std::string strText = run.CompletionText();
    EXPECT_NE(strText.find("- registering the printer Vellum Zeru 3.0: CUPS has no operation policy "
                           "\"authenticated\" (its cupsd.conf is not the stock one), which makes each print "
                           "job the job of the user who sends it; without it CUPS believes any user name a "
                           "job claims, and one user could print into another's folder. The printer was not "
                           "made. Add a <Policy authenticated> section to cupsd.conf, as in CUPS's stock "
                           "cupsd.conf, restart CUPS and run the Installer again as administrator (lpadmin: "
                           "Unknown printer-op-policy \"authenticated\". (" +
                           m_settings.m_strLpadmin + ": exit code 1))\n"),
              std::string::npos)
        << strText;

    // A queue of an older installation stays as it was, and the message says that it takes any name.
    ASSERT_TRUE(platform::WriteWholeFile(m_base / "lpstat",
                                         "#!/bin/sh\necho 'device for Vellum_Zeru_3.0: vellumfax:/'\n"));
    ::chmod((m_base / "lpstat").c_str(), 0755);
    EXPECT_NE(
        Install().CompletionText().find("into another's folder. The printer already there still does so. "
                                        "Add a <Policy authenticated>"),
        std::string::npos)
        << m_installer->CompletionText();
}

TEST_F(InstallerTest, FailsSayingWhyWhenTheSchedulerAsksNobodyWhoSendsAJob)
{
    // What lpoptions shows of the queue when cupsd.conf says DefaultAuthType None: the policy is
    // set, but the type lacks the bit that says the scheduler asks who sends a job.
    SetLpoptions("2101316");
    const auto& run = Install();
    EXPECT_FALSE(run.Succeeded());
    EXPECT_NE(run.CompletionText().find(
                  "- registering the printer Vellum Zeru 3.0: CUPS does not ask who sends a print job to it, "
                  "although its policy is \"authenticated\" (cupsd.conf sets DefaultAuthType None, or its "
                  "policy asks for no authentication): it believes any user name a job claims, and one user "
                  "could print into another's folder. Set DefaultAuthType Basic in cupsd.conf, as in CUPS's "
                  "stock cupsd.conf, restart CUPS and run the Installer again as administrator\n"),
              std::string::npos)
        << run.CompletionText();
}

TEST_F(InstallerTest, RunningAgainOverwritesTheCopies)
{
    ASSERT_TRUE(Install().Succeeded());
    WriteSource("Sendwell", "#!/bin/sh\n# a newer Sendwell\n", 0755);
    WriteSource("VellumZeru.ppd", "a newer driver\n", 0644);
    const auto& again = Install();
    EXPECT_TRUE(again.Succeeded());
    EXPECT_EQ(Read(m_settings.m_systemDirectory / "Sendwell"), "#!/bin/sh\n# a newer Sendwell\n");
    EXPECT_EQ(Read(m_settings.m_cupsDataDir / "model" / "vellum" / "VellumZeru.ppd"), "a newer driver\n");
    // No temporary copies (hidden files beside their targets) are left beside the installed files.
    for (const auto& folder : {m_settings.m_systemDirectory, m_settings.m_cupsServerBin / "backend",
                               m_settings.m_cupsDataDir / "model" / "vellum"})
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST_F(InstallerTest, BothDesktopEntriesAreValid)
{
    const std::string strValidator = platform::FindProgramOnPath("desktop-file-validate");
    if (strValidator.empty())
        GTEST_SKIP() << "desktop-file-validate is not installed (Debian desktop-file-utils)";
    m_settings.m_vellumRoot = m_base / "my \"fax\" $root 100%";
    m_settings.m_systemDirectory = m_settings.m_vellumRoot / "windows" / "system";
    m_settings.m_driveRoot = m_settings.m_vellumRoot / "c";
    ASSERT_TRUE(Install().Succeeded());
    const auto menuEntry = m_settings.m_applicationsDirectory / "vellum-sendwell.desktop";
    const std::string strMenu = Read(menuEntry);
    EXPECT_NE(strMenu.find("Icon=" + (m_settings.m_systemDirectory / "vellum-sendwell.png").string() + "\n"),
              std::string::npos)
        << strMenu;
    EXPECT_NE(strMenu.find("/windows/system/Sendwell\" %f\nMimeType=application/pdf;application/postscript;"
                           "image/png;image/jpeg;image/tiff;text/plain;\n"),
              std::string::npos)
        << strMenu;
    // The action that opens the sent faxes.
    EXPECT_NE(strMenu.find("[Desktop Action SentFaxes]\nName=Sent faxes\nExec=env "), std::string::npos)
        << strMenu;
    EXPECT_NE(strMenu.find("/windows/system/Sendwell\" --sent\n"), std::string::npos) << strMenu;
    EXPECT_EQ(Read(m_settings.m_systemDirectory / "vellum-sendwell.png"),
              Read(m_source / "vellum-sendwell.png"));
    for (const auto& entry : {m_settings.m_autostartDirectory / "vellum-pagewatch.desktop", menuEntry})
    {
        platform::SRunOptions options;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        options.m_durTimeout = std::chrono::seconds(60);
        const auto result = platform::RunProgram({strValidator, entry.string()}, options);
        EXPECT_TRUE(result.Succeeded()) << entry << ": " << result.m_strOutput;
        EXPECT_EQ(result.m_strOutput, "") << entry;
    }
}

TEST_F(InstallerTest, AUserFindsThePrinterInPlaceAndCountsItDone)
{
    // An administrator registered the driver and the queue; the user may not change CUPS.
    m_settings.m_ePrivilege = EPrivilege::User;
    fs::create_directories(m_settings.m_cupsDataDir / "model" / "vellum");
    fs::copy_file(m_source / "vellumfax", m_settings.m_cupsServerBin / "backend" / "vellumfax");
    fs::copy_file(m_source / "VellumZeru.ppd",
                  m_settings.m_cupsDataDir / "model" / "vellum" / "VellumZeru.ppd");
    SetTool("lpstat", 0, "");
    const auto lpstat = m_base / "lpstat";
    ASSERT_TRUE(
        platform::WriteWholeFile(lpstat, "#!/bin/sh\necho 'device for Vellum_Zeru_3.0: vellumfax:/'\n"));
    ::chmod(lpstat.c_str(), 0755);
    SetLpadmin(1, "lpadmin: Forbidden");

    const auto& run = Install();
    for (const auto& step : run.Steps())
        EXPECT_TRUE(step.m_bOk) << step.m_strStep << ": " << step.m_strDetail;
    EXPECT_TRUE(run.Succeeded());
    EXPECT_FALSE(fs::exists(m_base / "lpadmin.log")) << "nothing to register again";
    EXPECT_EQ(Read(m_base / "lpoptions.log"), "-d\nVellum_Zeru_3.0\n---\n");

    // A queue of an older installation (naming one user's folder) is not the shared one.
    ASSERT_TRUE(platform::WriteWholeFile(
        lpstat,
        "#!/bin/sh\necho 'device for Vellum_Zeru_3.0: vellumfax:/home/bob/.local/share/vellum?uid=1001'\n"));
    EXPECT_FALSE(Install().Succeeded());
    EXPECT_NE(Read(m_base / "lpadmin.log").find("-v\nvellumfax:/\n"), std::string::npos);
}

TEST_F(InstallerTest, RootAloneSetsUpTheMachineAndSaysHowUsersSetThemselvesUp)
{
    m_settings.m_eFor = installer::EInstallFor::MachineOnly;
    m_settings.m_account.reset();
    const auto& run = Install();
    EXPECT_TRUE(run.Succeeded());
    EXPECT_TRUE(fs::exists(m_settings.m_cupsServerBin / "backend" / "vellumfax"));
    EXPECT_NE(Read(m_base / "lpadmin.log").find("-p\nVellum_Zeru_3.0\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_settings.m_vellumRoot)) << "no user's files";
    EXPECT_FALSE(fs::exists(m_base / "lpoptions.log")) << "nobody's default printer";
    EXPECT_FALSE(fs::exists(m_base / "home" / ".config"));
    EXPECT_NE(
        run.CompletionText().find("Vellum Zeru 3.0 has been installed on this computer.\n"
                                  "Each user who sends faxes sets it up for themselves once, by running the "
                                  "Installer as themselves (or with sudo):\ncd " +
                                  m_source.string() + " && ./Installer\n"),
        std::string::npos)
        << run.CompletionText();
}

TEST_F(InstallerTest, UninstallRemovesWhatItInstalledAndKeepsTheSettings)
{
    m_settings.m_ePrivilege = EPrivilege::User;
    (void)Install();
    const auto system = m_settings.m_systemDirectory;
    ASSERT_TRUE(platform::WriteWholeFile(system / "quill.cfg", "settings"));
    ASSERT_TRUE(platform::WriteWholeFile(system / "flist.dll", "address book"));
    fs::create_directories(system / "sent" / "20260101-000000-0a");
    ASSERT_TRUE(platform::WriteWholeFile(system / "sent" / "sent.db", "records"));
    ASSERT_TRUE(platform::WriteWholeFile(system / "sent" / "20260101-000000-0a" / "quill1.tif", "copy"));
    ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_driveRoot / "Page.tmp", std::string(1, '\x02')));
    ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_driveRoot / "quill.1", "page"));
    // What lpoptions writes: our printer as the default, an instance of it, and another printer.
    const auto lpoptions = m_base / "home" / ".cups" / "lpoptions";
    fs::create_directories(lpoptions.parent_path());
    ASSERT_TRUE(platform::WriteWholeFile(lpoptions,
                                         "Default Vellum_Zeru_3.0\nDest Vellum_Zeru_3.0/draft copies=2\n"
                                         "Dest Vellum_Zeru_3.0x sides=two-sided-long-edge\n"));

    m_settings.m_eAction = installer::EAction::Uninstall;
    const auto& removal = Install();
    for (const auto& step : removal.Steps())
        EXPECT_TRUE(step.m_bOk) << step.m_strStep << ": " << step.m_strDetail;
    std::vector<std::string> aLeft;
    for (const auto& entry : fs::recursive_directory_iterator(m_base / "root"))
        aLeft.push_back(entry.path().lexically_relative(m_base / "root").string());
    std::sort(aLeft.begin(), aLeft.end());
    EXPECT_EQ(aLeft, (std::vector<std::string>{"windows", "windows/system", "windows/system/flist.dll",
                                               "windows/system/quill.cfg", "windows/system/sent",
                                               "windows/system/sent/20260101-000000-0a",
                                               "windows/system/sent/20260101-000000-0a/quill1.tif",
                                               "windows/system/sent/sent.db"}));
    EXPECT_FALSE(fs::exists(m_base / "home" / ".config")) << "registration and its empty folders are gone";
    EXPECT_EQ(Read(lpoptions), "Dest Vellum_Zeru_3.0x sides=two-sided-long-edge\n") << "other printers stay";
    EXPECT_FALSE(fs::exists(m_settings.m_autostartDirectory / "vellum-pagewatch.desktop"));
    EXPECT_FALSE(fs::exists(m_settings.m_applicationsDirectory / "vellum-sendwell.desktop"));
    const std::string strText = removal.CompletionText();
    EXPECT_NE(
        strText.find("Vellum Zeru 3.0 has been removed.\nDone:\n- removing vellumfax in " + system.string()),
        std::string::npos)
        << strText;
    EXPECT_NE(strText.find("- removing the registration of ada with the printer\n"), std::string::npos)
        << strText;
    EXPECT_NE(strText.find("Your settings, address book and sent faxes stay in " + system.string()),
              std::string::npos)
        << strText;
    EXPECT_EQ(removal.CompletionCaption(), "Removing Vellum Zeru 3.0");

    // Once more: nothing left to remove, and it says so.
    const auto& again = Install();
    EXPECT_TRUE(again.Steps().empty());
    EXPECT_EQ(again.CompletionText().rfind(
                  "Vellum Zeru 3.0 is not installed here: there is nothing to remove.\n", 0),
              0u)
        << again.CompletionText();

    // Purging takes the settings, the address book and the sent faxes too.
    m_settings.m_bPurge = true;
    const auto& purge = Install();
    EXPECT_TRUE(purge.Succeeded());
    EXPECT_FALSE(fs::exists(m_base / "root"));
}

TEST_F(InstallerTest, UninstallingEndsTheUsersSendwellThatRunsFromTheRemovedFolder)
{
    // A real program under Sendwell's name: a process runs the file itself, not a shell.
    const auto sleep = platform::ReadWholeFile("/bin/sleep", 1 << 24);
    ASSERT_TRUE(sleep.has_value());
    WriteSource(installer::SENDWELL_FILE, *sleep, 0755);
    (void)Install();
    platform::CProcess installed;
    platform::CProcess another; // the same program, from another folder
    ASSERT_TRUE(installed.Start({(m_settings.m_systemDirectory / installer::SENDWELL_FILE).string(), "300"}));
    ASSERT_TRUE(another.Start({(m_source / installer::SENDWELL_FILE).string(), "300"}));
    // Each runs its program once it has been executed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto runs = [](const platform::CProcess& process, const fs::path& program)
    {
        std::error_code error;
        return fs::read_symlink("/proc/" + std::to_string(process.Pid()) + "/exe", error) == program;
    };
    while (!(runs(installed, m_settings.m_systemDirectory / installer::SENDWELL_FILE) &&
             runs(another, m_source / installer::SENDWELL_FILE)) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();

    m_settings.m_eAction = installer::EAction::Uninstall;
    m_settings.m_bPurge = true;
    const auto& removal = Install();
    EXPECT_TRUE(removal.Succeeded()) << removal.CompletionText();
    ASSERT_EQ(installed.Wait(std::chrono::seconds(10)), platform::EWaitResult::Ended);
    EXPECT_EQ(installed.TermSignal(), SIGTERM);
    EXPECT_TRUE(another.IsRunning() && !another.Poll()) << "only what runs from the removed folder ends";
    EXPECT_NE(removal.CompletionText().find("- ending Sendwell (process " + std::to_string(installed.Pid()) +
                                            "), which ran from " + m_settings.m_systemDirectory.string()),
              std::string::npos)
        << removal.CompletionText();
    EXPECT_FALSE(fs::exists(m_base / "root"));
}

TEST_F(InstallerTest, AnAdministratorsUninstallSaysThatThePrinterStaysForItsOtherUsers)
{
    struct SCase
    {
        installer::EInstallFor eFor;
        bool bRemovedFiles;
        const char* pszOpening;
    };
    // clang-format off
    const SCase aCases[] = {
        {installer::EInstallFor::MachineOnly,  false, "The printer Vellum Zeru 3.0 stays on this computer for bob, who still uses it. It is removed when this is run again after they have removed it for themselves (Installer --uninstall).\n"},
        {installer::EInstallFor::InvokingUser, false, "The printer Vellum Zeru 3.0 stays on this computer for bob, who still uses it. You had no files of it to remove.\n"},
        {installer::EInstallFor::InvokingUser, true,  "Your files of Vellum Zeru 3.0 have been removed. The printer Vellum Zeru 3.0 stays on this computer for bob, who still uses it.\nDone:\n- removing Sendwell\n"},
    };
    // clang-format on
    for (const auto& test : aCases)
    {
        m_settings.m_eFor = test.eFor;
        m_settings.m_eAction = installer::EAction::Uninstall;
        std::vector<installer::SStepResult> aSteps;
        if (test.bRemovedFiles)
            aSteps.push_back({"removing Sendwell", true, {}});
        const std::string strText = installer::UninstallText(m_settings, aSteps, {"bob"});
        EXPECT_EQ(strText.rfind(test.pszOpening, 0), 0u) << strText;
    }
}

TEST_F(InstallerTest, ReadsItsCommandLine)
{
    SInstallSettings settings;
    std::string strError;
    EXPECT_TRUE(SInstallSettings::ParseArguments({}, settings, strError));
    EXPECT_EQ(settings.m_eAction, installer::EAction::Install);
    EXPECT_TRUE(SInstallSettings::ParseArguments({"--uninstall", "--purge"}, settings, strError));
    EXPECT_EQ(settings.m_eAction, installer::EAction::Uninstall);
    EXPECT_TRUE(settings.m_bPurge);
    SInstallSettings other;
    EXPECT_FALSE(SInstallSettings::ParseArguments({"--purge"}, other, strError));
    EXPECT_FALSE(SInstallSettings::ParseArguments({"--frobnicate"}, other, strError));
    EXPECT_NE(strError.find("--frobnicate"), std::string::npos);
}

TEST_F(InstallerTest, ReadsTheQueueModesOnlyAlone)
{
    // clang-format off
    const struct
    {
        std::vector<std::string> aArgs;
        bool bOk;
        installer::EAction eAction;
    } TESTS[] = {
        {{"--add-queue"},                   true,  installer::EAction::AddQueue},
        {{"--remove-queue"},                true,  installer::EAction::RemoveQueue},
        {{"--add-queue", "--purge"},        false, {}},
        {{"--uninstall", "--remove-queue"}, false, {}},
        {{"--add-queue", "--remove-queue"}, false, {}},
    };
    // clang-format on
    for (const auto& test : TESTS)
    {
        SInstallSettings settings;
        std::string strError;
        EXPECT_EQ(SInstallSettings::ParseArguments(test.aArgs, settings, strError), test.bOk)
            << test.aArgs[0];
        if (test.bOk)
        {
            EXPECT_EQ(settings.m_eAction, test.eAction) << test.aArgs[0];
        }
        else
        {
            EXPECT_NE(strError.find("goes alone"), std::string::npos) << strError;
        }
    }
}

// --add-queue and --remove-queue against a stand-in scheduler that runs or not and has the queue or not.
TEST_F(InstallerTest, TheQueueModesChangeTheSharedQueueOnlyWhereTheyMay)
{
    using installer::EAction;
    // clang-format off
    const struct
    {
        const char* pszCase;
        EAction eAction;
        bool bRoot, bBackend, bSchedulerRuns, bQueueThere;
        bool bOk;
        const char* pszLpadmin; // its arguments, one a line; empty: not run
        bool bCacheLeft;
        const char* pszSays;
    } TESTS[] = {
        {"add",                  EAction::AddQueue,    true,  true,  true,  false, true,
         "-p\nVellum_Zeru_3.0\n", true, "is registered with CUPS as Vellum_Zeru_3.0 for every user"},
        {"add, not root",        EAction::AddQueue,    false, true,  true,  false, false, "", true, "only root may"},
        {"add, no backend",      EAction::AddQueue,    true,  false, true,  false, false, "", true,
         "reinstall the package vellum-zeru"},
        {"add, no scheduler",    EAction::AddQueue,    true,  true,  false, false, false, "", true,
         "CUPS is not running. Start it (sudo systemctl start cups) and then run: sudo "},
        {"remove",               EAction::RemoveQueue, true,  true,  true,  true,  true,
         "-x\nVellum_Zeru_3.0\n---\n", false, "is removed from CUPS"},
        {"remove, no queue",     EAction::RemoveQueue, true,  true,  true,  false, true,  "", false,
         "was not registered with CUPS: nothing to remove"},
        {"remove, no scheduler", EAction::RemoveQueue, true,  true,  false, true,  false, "", true,
         "remove it with: sudo lpadmin -x Vellum_Zeru_3.0"},
        {"remove, not root",     EAction::RemoveQueue, false, true,  true,  true,  false, "", true, "only root may"},
    };
    // clang-format on
    for (const auto& test : TESTS)
    {
        SCOPED_TRACE(test.pszCase);
        fs::remove(m_base / "lpadmin.log");
        m_settings.m_eAction = test.eAction;
        m_settings.m_eFor = installer::EInstallFor::MachineOnly;
        m_settings.m_ePrivilege = test.bRoot ? EPrivilege::Administrator : EPrivilege::User;
        m_settings.m_cupsCacheDir = m_base / "cache";
        fs::create_directories(m_settings.m_cupsCacheDir);
        ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_cupsCacheDir / "Vellum_Zeru_3.0.data", "cached"));
        const auto backend = m_settings.m_cupsServerBin / "backend" / installer::BACKEND_FILE;
        fs::remove(backend);
        if (test.bBackend)
        {
            ASSERT_TRUE(platform::WriteWholeFile(backend, "backend"));
        }
        // lpstat answers in English only when asked in C, as a translated one would not.
        ASSERT_TRUE(platform::WriteWholeFile(
            m_base / "lpstat",
            std::string("#!/bin/sh\ncase \"$1\" in\n-r) [ \"$LC_ALL\" = C ] || { echo 'le planificateur'; "
                        "exit 0; }\n") +
                (test.bSchedulerRuns ? "echo 'scheduler is running';;\n"
                                     : "echo 'scheduler is not running';;\n") +
                (test.bQueueThere ? "-v) echo 'device for Vellum_Zeru_3.0: vellumfax:/';;\n"
                                  : "-v) echo 'lpstat: Invalid destination name' >&2; exit 1;;\n") +
                "esac\n"));
        ::chmod((m_base / "lpstat").c_str(), 0755);

        const auto& run = Install();
        EXPECT_EQ(run.Succeeded(), test.bOk);
        const std::string strText = run.CompletionText();
        EXPECT_NE(strText.find(test.pszSays), std::string::npos) << strText;
        const std::string strLpadmin = platform::ReadWholeFile(m_base / "lpadmin.log", 1 << 16).value_or("");
        if (*test.pszLpadmin == '\0')
        {
            EXPECT_EQ(strLpadmin, "");
        }
        else
        {
            EXPECT_EQ(strLpadmin.rfind(test.pszLpadmin, 0), 0u) << strLpadmin;
        }
        EXPECT_EQ(fs::exists(m_settings.m_cupsCacheDir / "Vellum_Zeru_3.0.data"), test.bCacheLeft);
    }
}

TEST_F(InstallerTest, AddQueueMakesTheQueueWithThePpdNextToTheInstaller)
{
    m_settings.m_eAction = installer::EAction::AddQueue;
    const auto command = installer::CCupsSetup(m_settings).QueueCommand();
    const auto ppd = std::find(command.begin(), command.end(), "-P");
    ASSERT_NE(ppd, command.end());
    ASSERT_NE(ppd + 1, command.end());
    EXPECT_EQ(*(ppd + 1), (m_source / installer::PPD_FILE).string());
    EXPECT_NE(std::find(command.begin(), command.end(), "printer-op-policy=authenticated"), command.end());
}

TEST_F(InstallerTest, AnAdministratorLeavesThePackagesDriverAndQueueToThePackage)
{
    // dpkg's list of the package's files names the backend: the package placed the driver.
    const auto backend = m_settings.m_cupsServerBin / "backend" / installer::BACKEND_FILE;
    ASSERT_TRUE(platform::WriteWholeFile(backend, "the package's backend"));
    m_settings.m_packageFileList = m_base / "vellum-zeru.list";
    ASSERT_TRUE(platform::WriteWholeFile(m_settings.m_packageFileList,
                                         "/.\n/usr\n" + backend.string() + "\n/usr/share/ppd\n"));
    m_settings.m_eFor = installer::EInstallFor::MachineOnly;
    m_settings.m_account.reset();

    const auto& install = Install();
    EXPECT_TRUE(install.Succeeded()) << install.CompletionText();
    EXPECT_EQ(Read(backend), "the package's backend") << "dpkg's file is not replaced";
    EXPECT_FALSE(fs::exists(m_settings.m_cupsDataDir / installer::MODEL_FOLDER)) << "no second PPD";
    EXPECT_NE(Read(m_base / "lpadmin.log")
                  .find("-P\n" + (platform::PackageDirectory() / "VellumZeru.ppd").string()),
              std::string::npos)
        << "the queue takes the package's PPD";

    fs::remove(m_base / "lpadmin.log");
    SetTool("lpstat", 0, "device for Vellum_Zeru_3.0: vellumfax:/");
    m_settings.m_eAction = installer::EAction::Uninstall;
    const auto& removal = Install();
    EXPECT_EQ(Read(backend), "the package's backend");
    EXPECT_FALSE(fs::exists(m_base / "lpadmin.log")) << "the queue stays";
    EXPECT_EQ(
        removal.CompletionText().rfind("The printer Vellum Zeru 3.0 stays on this computer: the package "
                                       "vellum-zeru provides it for every user (removing the package "
                                       "removes it).\n",
                                       0),
        0u)
        << removal.CompletionText();
}

} // namespace
