#include "platform/Shell.h"

#include "tests/support/TestFiles.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using platform::BuildOpenArguments;
using Args = std::vector<std::string>;

constexpr const char* TARGET = "https://www.example.com/a b?x=1&y=$HOME;`true`";

class ShellTest : public CTempFolderTest
{
protected:
    // A small program that records its arguments, one per line, and ends with nExit.
    fs::path Recorder(const std::string& strName, int nExit) const
    {
        const fs::path program = m_dir / strName;
        std::ofstream out(program);
        out << "#!/bin/sh\n"
            << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << (m_dir / (strName + ".args")).string()
            << ".tmp'\n"
            << "mv '" << (m_dir / (strName + ".args")).string() << ".tmp' '"
            << (m_dir / (strName + ".args")).string() << "'\n"
            << "exit " << nExit << "\n";
        out.close();
        fs::permissions(program, fs::perms::owner_all);
        return program;
    }

    // The arguments a recorder got, once it has written them (waits up to five seconds).
    Args RecordedArgs(const std::string& strName) const
    {
        const fs::path file = m_dir / (strName + ".args");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Args args;
        std::ifstream in(file);
        std::string strLine;
        while (std::getline(in, strLine))
            args.push_back(strLine);
        return args;
    }

    void Write(const fs::path& file, const std::string& strText) const
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << strText;
    }
};

TEST(BuildOpenArgumentsTest, TheCommandIsCutAtItsPlaceholderAndTheTargetIsOneArgument)
{
    EXPECT_EQ(BuildOpenArguments("firefox-esr %u", TARGET), (Args{"firefox-esr", TARGET}));
    // A placeholder in quotes is cut before the opening quote.
    EXPECT_EQ(BuildOpenArguments("\"/opt/my browser/run\" --new-window \"%U\" --after", TARGET),
              (Args{"/opt/my browser/run", "--new-window", TARGET}));
    // Without a placeholder the whole command stays, and the target comes after it.
    EXPECT_EQ(BuildOpenArguments("chromium --incognito", TARGET), (Args{"chromium", "--incognito", TARGET}));
    // "%%" is a percent sign, not a placeholder; other field codes are dropped.
    EXPECT_EQ(BuildOpenArguments("app --rate=100%% %i %c %f", "x"), (Args{"app", "--rate=100%", "x"}));
    EXPECT_EQ(BuildOpenArguments("\"app \\\"q\\\"\" %F", "x"), (Args{"app \"q\"", "x"}));
}

TEST(BuildOpenArgumentsTest, AnUnparsableOrEmptyCommandGivesNothing)
{
    EXPECT_TRUE(BuildOpenArguments("\"unbalanced %u", "x").empty());
    EXPECT_TRUE(BuildOpenArguments("%u", "x").empty());
    EXPECT_TRUE(BuildOpenArguments("   ", "x").empty());
    EXPECT_TRUE(BuildOpenArguments("\"\" %u", "x").empty());
}

TEST_F(ShellTest, TheDefaultCommandComesFromTheFirstListThatNamesAnInstalledEntry)
{
    platform::SDesktopDirs dirs{{(m_dir / "config").string()}, {(m_dir / "data").string()}};
    std::string strCommand;
    EXPECT_EQ(platform::ReadDefaultCommand("text/html", dirs, strCommand), platform::SHELL_NO_ASSOCIATION);

    Write(m_dir / "data/applications/mimeapps.list", "[Default Applications]\ntext/html=data.desktop\n");
    Write(m_dir / "data/applications/data.desktop", "[Desktop Entry]\nExec=data-browser %u\n");
    ASSERT_EQ(platform::ReadDefaultCommand("text/html", dirs, strCommand), 0);
    EXPECT_EQ(strCommand, "data-browser %u");

    // The user's list comes first; a missing entry is passed over for the next one named.
    Write(m_dir / "config/mimeapps.list",
          "[Added Associations]\ntext/html=other.desktop\n[Default Applications]\n"
          "text/plain=editor.desktop\ntext/html = gone.desktop; user.desktop;\n");
    Write(m_dir / "data/applications/user.desktop",
          "[Desktop Entry]\nName=User\n[Desktop Action new]\nExec=wrong\n");
    // An entry without a command is passed over too; with no other, the association is incomplete.
    ASSERT_EQ(platform::ReadDefaultCommand("text/html", dirs, strCommand), 0);
    EXPECT_EQ(strCommand, "data-browser %u");
    fs::remove(m_dir / "data/applications/mimeapps.list");
    EXPECT_EQ(platform::ReadDefaultCommand("text/html", dirs, strCommand),
              platform::SHELL_ASSOCIATION_INCOMPLETE);
    Write(m_dir / "data/applications/user.desktop",
          "[Desktop Entry]\nName=User\nExec=user-browser --new %u\n[Desktop Action new]\nExec=wrong\n");
    ASSERT_EQ(platform::ReadDefaultCommand("text/html", dirs, strCommand), 0);
    EXPECT_EQ(strCommand, "user-browser --new %u");
}

TEST_F(ShellTest, StartingReportsWhyAProgramCouldNotStart)
{
    using std::chrono::milliseconds;
    EXPECT_EQ(platform::StartProgram({(m_dir / "missing").string()}, milliseconds(0)),
              platform::SHELL_FILE_NOT_FOUND);
    EXPECT_EQ(platform::StartProgram({"vellum-no-such-program"}, milliseconds(0)),
              platform::SHELL_FILE_NOT_FOUND);
    Write(m_dir / "plain.txt", "not a program\n");
    EXPECT_EQ(platform::StartProgram({(m_dir / "plain.txt").string()}, milliseconds(0)),
              platform::SHELL_ACCESS_DENIED);
    EXPECT_EQ(platform::StartProgram({}, milliseconds(0)), platform::SHELL_FILE_NOT_FOUND);

    const fs::path program = Recorder("prog", 7);
    EXPECT_EQ(platform::StartProgram({program.string(), "one arg", "$two"}, milliseconds(0)),
              platform::SHELL_SUCCESS);
    EXPECT_EQ(RecordedArgs("prog"), (Args{"one arg", "$two"}));
}

TEST_F(ShellTest, TheDesktopOpenerGetsTheTargetAsOneArgumentAndItsExitStatusIsTranslated)
{
    const auto wait = std::chrono::seconds(10);
    EXPECT_EQ(platform::OpenWithDesktop(TARGET, Recorder("ok", 0).string(), wait), platform::SHELL_SUCCESS);
    EXPECT_EQ(RecordedArgs("ok"), (Args{TARGET}));
    EXPECT_EQ(platform::OpenWithDesktop("x", Recorder("missing", 2).string(), wait),
              platform::SHELL_FILE_NOT_FOUND);
    EXPECT_EQ(platform::OpenWithDesktop("x", Recorder("notool", 3).string(), wait),
              platform::SHELL_NO_ASSOCIATION);
    EXPECT_EQ(platform::OpenWithDesktop("x", Recorder("failed", 4).string(), wait),
              platform::SHELL_ASSOCIATION_INCOMPLETE);
    EXPECT_EQ(platform::OpenWithDesktop("x", (m_dir / "absent").string(), wait),
              platform::SHELL_FILE_NOT_FOUND);

    // A target that would read as an option is refused before anything starts.
    EXPECT_EQ(platform::OpenWithDesktop("--help", Recorder("option", 0).string(), wait),
              platform::SHELL_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(m_dir / "option.args"));
}

TEST_F(ShellTest, AnOpenerStillRunningAfterTheWaitCountsAsStarted)
{
    const fs::path program = m_dir / "slow";
    Write(program, "#!/bin/sh\nexec sleep 2\n");
    fs::permissions(program, fs::perms::owner_all);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::OpenWithDesktop("x", program.string(), std::chrono::milliseconds(50)),
              platform::SHELL_SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

TEST_F(ShellTest, WhenTheDesktopCannotOpenTheRegisteredBrowserIsStarted)
{
    // A PATH whose xdg-open fails, and a registered browser that records what it was given.
    const fs::path bin = m_dir / "bin";
    fs::create_directories(bin);
    fs::rename(Recorder("xdg-open", 3), bin / "xdg-open");
    const fs::path browser = Recorder("browser", 0);
    Write(m_dir / "config/mimeapps.list", "[Default Applications]\ntext/html=test-browser.desktop\n");
    Write(m_dir / "data/applications/test-browser.desktop",
          "[Desktop Entry]\nExec=\"" + browser.string() + "\" --new-tab \"%u\"\n");

    const std::string strOldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + strOldPath).c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (m_dir / "none").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (m_dir / "none").c_str(), 1);

    EXPECT_EQ(platform::OpenUrl(TARGET), platform::SHELL_SUCCESS);
    EXPECT_EQ(RecordedArgs("xdg-open"), (Args{TARGET}));
    EXPECT_EQ(RecordedArgs("browser"), (Args{"--new-tab", TARGET}));

    // Without a registered browser the desktop's own result stands.
    fs::remove(m_dir / "config/mimeapps.list");
    EXPECT_EQ(platform::OpenUrl("https://other.example"), platform::SHELL_NO_ASSOCIATION);

    ::setenv("PATH", strOldPath.c_str(), 1);
    for (const char* pszName : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        ::unsetenv(pszName);
}

} // namespace
