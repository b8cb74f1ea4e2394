#include "installer/UserProcess.h"

#include "platform/Text.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace installer
{

namespace
{

// A step's text across the pipe from a child process: each field as its length, a colon and its bytes.
void AppendField(std::string& strOut, const std::string& strField)
{
    strOut += std::to_string(strField.size()) + ":" + strField;
}

bool TakeField(std::string_view& text, std::string& strField)
{
    const auto nColon = text.find(':');
    std::size_t nLength = 0;
    if (nColon == std::string_view::npos ||
        std::from_chars(text.data(), text.data() + nColon, nLength).ptr != text.data() + nColon ||
        text.size() - nColon - 1 < nLength)
        return false;
    strField = std::string(text.substr(nColon + 1, nLength));
    text.remove_prefix(nColon + 1 + nLength);
    return true;
}

// In the child: writes the steps into the pipe and ends the process.
[[noreturn]] void SendStepsAndExit(int fd, const std::vector<SStepResult>& aSteps)
{
    std::string strOut;
    for (const auto& step : aSteps)
    {
        AppendField(strOut, step.m_strStep);
        AppendField(strOut, step.m_bOk ? "1" : "0");
        AppendField(strOut, step.m_strDetail);
    }
    std::size_t nDone = 0;
    while (nDone < strOut.size())
    {
        const ssize_t n = ::write(fd, strOut.data() + nDone, strOut.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nDone += static_cast<std::size_t>(n);
    }
    ::_exit(0);
}

} // namespace

std::vector<SStepResult> RunAsUser(const driver::SUserAccount& account,
                                   const std::function<std::vector<SStepResult>()>& fnPart)
{
    const std::string strStep = "acting as the user " + account.m_strName;
    int aFds[2] = {-1, -1};
    if (::pipe2(aFds, O_CLOEXEC) != 0)
        return {{strStep, false, platform::ErrnoText("pipe")}};
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        std::vector<SStepResult> aFailed = {{strStep, false, platform::ErrnoText("fork")}};
        ::close(aFds[0]);
        ::close(aFds[1]);
        return aFailed;
    }
    if (pid == 0)
    {
        ::close(aFds[0]);
        std::string strError;
        if (!account.Become(strError))
            SendStepsAndExit(aFds[1], {{strStep, false, strError}});
        ::setenv("HOME", account.m_home.c_str(), 1);
        ::setenv("USER", account.m_strName.c_str(), 1);
        ::setenv("LOGNAME", account.m_strName.c_str(), 1);
        ::umask(022);
        SendStepsAndExit(aFds[1], fnPart());
    }
    ::close(aFds[1]);
    std::string strIn;
    char buffer[4096];
    for (;;)
    {
        const ssize_t n = ::read(aFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        strIn.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(aFds[0]);
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR)
    {
    }
    std::vector<SStepResult> aSteps;
    std::string_view text = strIn;
    SStepResult step;
    std::string strOk;
    while (!text.empty() && TakeField(text, step.m_strStep) && TakeField(text, strOk) &&
           TakeField(text, step.m_strDetail))
    {
        step.m_bOk = strOk == "1";
        aSteps.push_back(step);
    }
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0 || !text.empty())
        aSteps.push_back({strStep, false, "the part done as that user ended early"});
    return aSteps;
}

} // namespace installer
