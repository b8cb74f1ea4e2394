#include "platform/Process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

using namespace std::chrono_literals;
using platform::CProcess;
using platform::EOutcome;
using platform::RunProgram;
using platform::SRunOptions;

SRunOptions Capturing(std::chrono::milliseconds timeout = 10s)
{
    SRunOptions options;
    options.m_eOutput = SRunOptions::EOutput::Capture;
    options.m_durTimeout = timeout;
    return options;
}

TEST(ProcessTest, ReportsExitCodesAndOutputWithoutAShell)
{
    // The argument reaches the program as it is: no shell expands it.
    const auto result = RunProgram(
        {"/bin/sh", "-c", "echo out; echo err >&2; printf '%s' \"$0\"; exit 3", "$HOME *"}, Capturing());
    EXPECT_EQ(result.m_eOutcome, EOutcome::Exited);
    EXPECT_EQ(result.m_nExitCode, 3);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.m_strOutput, "out\nerr\n$HOME *");
    EXPECT_EQ(result.Describe(), "exit code 3");

    EXPECT_TRUE(RunProgram({"true"}, Capturing()).Succeeded()) << "names are looked up on PATH";
}

TEST(ProcessTest, PassesTheGivenEnvironmentAndFolder)
{
    auto options = Capturing();
    options.m_aEnvironment = std::vector<std::string>{"ONLY=this"};
    const auto result = RunProgram({"/usr/bin/env"}, options);
    ASSERT_TRUE(result.Succeeded()) << result.Describe();
    EXPECT_EQ(result.m_strOutput, "ONLY=this\n");

    options = Capturing();
    options.m_strWorkingDirectory = "/usr/share";
    EXPECT_EQ(RunProgram({"/bin/pwd"}, options).m_strOutput, "/usr/share\n");
    options.m_strWorkingDirectory = "/no/such/folder";
    EXPECT_FALSE(RunProgram({"/bin/pwd"}, options).Succeeded());
}

TEST(ProcessTest, StopsAProgramThatOutlivesItsTimeout)
{
    const auto start = std::chrono::steady_clock::now();
    const auto result = RunProgram({"sleep", "30"}, Capturing(200ms));
    EXPECT_EQ(result.m_eOutcome, EOutcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    // Also when it closed its output early and hangs on.
    const auto quiet = RunProgram({"/bin/sh", "-c", "exec >&- 2>&-; sleep 30"}, Capturing(200ms));
    EXPECT_EQ(quiet.m_eOutcome, EOutcome::TimedOut);
}

TEST(ProcessTest, BoundsTheOutputItKeeps)
{
    auto options = Capturing();
    options.m_nMaxOutputBytes = 10;
    const auto result = RunProgram({"/bin/sh", "-c", "head -c 100000 /dev/zero"}, options);
    EXPECT_TRUE(result.Succeeded()) << "the rest is read and dropped, so the program is not blocked";
    EXPECT_EQ(result.m_strOutput.size(), 10u);
}

TEST(ProcessTest, SaysWhyAProgramCannotStart)
{
    const auto result = RunProgram({"/no/such/program"}, Capturing());
    EXPECT_EQ(result.m_eOutcome, EOutcome::NotStarted);
    EXPECT_NE(result.m_strError.find("/no/such/program"), std::string::npos) << result.m_strError;
    EXPECT_EQ(RunProgram({}, Capturing()).m_eOutcome, EOutcome::NotStarted);
}

TEST(ProcessTest, RedirectsStreamsAndReportsSignals)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ::close(fds[1]);
    platform::SSpawnOptions options;
    options.m_eInput = platform::EChildStream::Descriptor;
    options.m_nInputFd = fds[0];
    options.m_eOutput = platform::EChildStream::Pipe;
    CProcess process;
    ASSERT_TRUE(process.Start({"tr", "a-c", "x-z"}, options)) << process.Error();
    ::close(fds[0]);
    char buffer[16] = {};
    ASSERT_EQ(::read(process.OutputFd(), buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "xyz");
    EXPECT_EQ(process.Wait(10s), platform::EWaitResult::Ended);
    EXPECT_TRUE(process.Succeeded());

    CProcess sleeper;
    ASSERT_TRUE(sleeper.Start({"sleep", "30"}));
    EXPECT_EQ(sleeper.Wait(50ms), platform::EWaitResult::TimedOut);
    sleeper.Signal(SIGTERM);
    EXPECT_EQ(sleeper.Wait(10s), platform::EWaitResult::Ended);
    EXPECT_EQ(sleeper.TermSignal(), SIGTERM);
    EXPECT_EQ(sleeper.Describe(), "killed by signal 15");
}

TEST(ProcessTest, GivesTheChildOnlyItsThreeStandardStreams)
{
    // Both ways of starting a child: posix_spawn, and fork and exec for resource limits.
    for (const bool bLimited : {false, true})
    {
        // Descriptors without close-on-exec, as a spooler leaves its back channel to a backend;
        // one of them becomes the child's output.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        platform::SSpawnOptions options;
        options.m_eOutput = platform::EChildStream::Descriptor;
        options.m_nOutputFd = fds[1];
        options.m_nMaxFileBytes = bLimited ? 1 << 20 : 0;
        CProcess sleeper;
        ASSERT_TRUE(sleeper.Start({"sleep", "30"}, options)) << sleeper.Error();
        ::close(fds[0]);
        ::close(fds[1]);
        std::set<std::string> open;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(sleeper.Pid()) + "/fd"))
            open.insert(entry.path().filename().string());
        EXPECT_EQ(open, (std::set<std::string>{"0", "1", "2"})) << (bLimited ? "with limits" : "spawned");
        sleeper.Kill();
    }
}

TEST(ProcessTest, ReadsTheOutputLineByLineWhileTheChildRuns)
{
    // The child waits for a line on its input after its first two lines, so they can only be
    // read while it runs.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    platform::SSpawnOptions options;
    options.m_eInput = platform::EChildStream::Descriptor;
    options.m_nInputFd = fds[0];
    options.m_eOutput = platform::EChildStream::Pipe;
    CProcess process;
    ASSERT_TRUE(
        process.Start({"/bin/sh", "-c", "printf 'one\\n\\ntwo\\nth'; read x; printf 'ree\\nrest'"}, options))
        << process.Error();
    ::close(fds[0]);
    std::string strLine;
    ASSERT_TRUE(process.ReadOutputLine(strLine, 10s));
    EXPECT_EQ(strLine, "one");
    ASSERT_TRUE(process.ReadOutputLine(strLine, 10s));
    EXPECT_EQ(strLine, "");
    ASSERT_TRUE(process.ReadOutputLine(strLine, 10s));
    EXPECT_EQ(strLine, "two");
    // Half a line is not a line: the wait ends at its limit and keeps what came.
    EXPECT_FALSE(process.ReadOutputLine(strLine, 50ms));

    ASSERT_EQ(::write(fds[1], "go\n", 3), 3);
    ::close(fds[1]);
    ASSERT_TRUE(process.ReadOutputLine(strLine, 10s));
    EXPECT_EQ(strLine, "three");
    std::string strRest;
    EXPECT_EQ(process.ReadOutput(strRest, 10s, 100), platform::EWaitResult::Ended);
    EXPECT_EQ(strRest, "rest");
    EXPECT_FALSE(process.ReadOutputLine(strLine, 10s)) << "the end of the output";
    EXPECT_EQ(process.Wait(10s), platform::EWaitResult::Ended);
    EXPECT_TRUE(process.Succeeded());
}

TEST(ProcessTest, KillingAProcessGroupEndsTheHelpersItStarted)
{
    for (const bool bOwnGroup : {true, false})
    {
        platform::SSpawnOptions options;
        options.m_eOutput = platform::EChildStream::Pipe;
        options.m_bOwnProcessGroup = bOwnGroup;
        CProcess process;
        // The helper's output goes nowhere, so that it does not hold the pipe open.
        ASSERT_TRUE(process.Start({"/bin/sh", "-c", "sleep 30 >/dev/null & echo $!; wait"}, options));
        std::string strPid;
        ASSERT_TRUE(process.ReadOutputLine(strPid, 10s));
        const pid_t helper = std::stoi(strPid);
        process.Kill();
        // The killed helper is reaped by init; until then it is a zombie, which kill() still finds.
        bool bGone = false;
        for (int i = 0; i < 100 && !bGone; ++i, std::this_thread::sleep_for(10ms))
        {
            std::string strState;
            std::ifstream("/proc/" + strPid + "/stat") >> strState >> strState >> strState;
            bGone = strState.empty() || strState == "Z";
        }
        EXPECT_EQ(bGone, bOwnGroup);
        ::kill(helper, SIGKILL);
    }
}

TEST(ProcessTest, LimitsHoldForTheChildAndTheProgramsItStarts)
{
    const std::string strFile = ::testing::TempDir() + "process-limit-" + std::to_string(::getpid());
    platform::SSpawnOptions options;
    options.m_eInput = platform::EChildStream::Null;
    options.m_eOutput = platform::EChildStream::Pipe;
    options.m_eErrors = platform::EChildStream::Null;
    options.m_bOwnProcessGroup = true;
    options.m_nMaxAddressSpaceBytes = 512ULL << 20;
    options.m_nMaxFileBytes = 4096;
    options.m_nMaxCpuSeconds = 7;
    CProcess process;
    // cat and head are programs the child starts; head writes past the file limit.
    ASSERT_TRUE(process.Start(
        {"sh", "-c", "cat /proc/self/limits; head -c 8192 /dev/zero > '" + strFile + "'; echo head $?"},
        options))
        << process.Error();
    std::string strOutput;
    EXPECT_EQ(process.ReadOutput(strOutput, 10s, 1 << 16), platform::EWaitResult::Ended);
    EXPECT_EQ(process.Wait(10s), platform::EWaitResult::Ended);
    EXPECT_TRUE(process.Succeeded()) << process.Describe();
    for (const char* pszLimit : {"Max cpu time +7 +12 +seconds", "Max file size +4096 +4096 +bytes",
                                 "Max address space +536870912 +536870912 +bytes",
                                 "Max core file size +0 +0 +bytes", "head 153"}) // 128 + SIGXFSZ
        EXPECT_TRUE(std::regex_search(strOutput, std::regex(pszLimit))) << pszLimit << " in " << strOutput;
    struct stat info = {};
    EXPECT_EQ(::stat(strFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 4096);
    ::unlink(strFile.c_str());

    CProcess missing;
    EXPECT_FALSE(missing.Start({"/no/such/program"}, options));
    EXPECT_EQ(missing.StartErrno(), ENOENT);
}

TEST(ProcessTest, ALineWithoutEndIsNotWaitedForPastItsBound)
{
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    CProcess process;
    ASSERT_TRUE(process.Start({"/bin/sh", "-c", "head -c 200000 /dev/zero; exec sleep 30"}, options));
    // Without a limit of its own the read ends at the line's bound, long before the output does.
    std::string strLine;
    EXPECT_FALSE(process.ReadOutputLine(strLine, -1ms));
    EXPECT_FALSE(process.Poll()) << "the read waited for the end of the output";
    std::string strOutput;
    EXPECT_EQ(process.ReadOutput(strOutput, 50ms, 10), platform::EWaitResult::TimedOut);
    EXPECT_EQ(strOutput, std::string(10, '\0'));
}

TEST(ProcessTest, FindsProgramsOnThePath)
{
    EXPECT_EQ(platform::FindProgramOnPath("sh").empty(), false);
    EXPECT_EQ(platform::FindProgramOnPath("/bin/sh"), "/bin/sh");
    EXPECT_EQ(platform::FindProgramOnPath("no-such-program-anywhere"), "");
    EXPECT_EQ(platform::FindProgramOnPath(""), "");
}

TEST(ProcessTest, FindsAdministratorsProgramsOffThePath)
{
    // An ordinary Debian user's PATH has no /usr/sbin.
    const std::string strOldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    const std::string strOffPath = platform::FindProgramOnPath("ldconfig");
    const std::string strFound = platform::FindSystemProgram("ldconfig");
    const std::string strMissing = platform::FindSystemProgram("no-such-program-anywhere");
    const std::string strOnPath = platform::FindSystemProgram("sh");
    ::setenv("PATH", strOldPath.c_str(), 1);
    EXPECT_EQ(strOffPath, "");
    EXPECT_TRUE(strFound == "/usr/sbin/ldconfig" || strFound == "/sbin/ldconfig") << strFound;
    EXPECT_EQ(strMissing, "no-such-program-anywhere");
    EXPECT_EQ(strOnPath, "/usr/bin/sh");
}

} // namespace
