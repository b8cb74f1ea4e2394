#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

CChildProcess::CChildProcess(const std::vector<std::string>& args,
                             const std::vector<std::string>& extraEnvironment)
{
    std::vector<std::string> environment;
    for (char** p = environ; *p != nullptr; ++p)
    {
        const std::string strEntry = *p;
        const std::string strName = strEntry.substr(0, strEntry.find('='));
        bool bReplaced = false;
        for (const std::string& strExtra : extraEnvironment)
            bReplaced = bReplaced || strExtra.compare(0, strName.size() + 1, strName + "=") == 0;
        if (!bReplaced)
            environment.push_back(strEntry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());

    std::vector<char*> argv;
    for (const std::string& strArg : args)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& strEntry : environment)
        envp.push_back(const_cast<char*>(strEntry.c_str()));
    envp.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        m_pid = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    m_outFd = fds[0];
}

CChildProcess::~CChildProcess()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0)
        ::close(m_outFd);
}

bool CChildProcess::ReadLine(std::string& strLine, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;)
    {
        const auto nNewline = m_strBuffer.find('\n');
        if (nNewline != std::string::npos)
        {
            strLine = m_strBuffer.substr(0, nNewline);
            m_strBuffer.erase(0, nNewline + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd = {m_outFd, POLLIN, 0};
        if (m_outFd < 0 || left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(m_outFd, chunk, sizeof(chunk));
        if (n <= 0)
            return false;
        m_strBuffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string CChildProcess::ReadAll(std::chrono::milliseconds limit)
{
    std::string strAll;
    std::string strLine;
    while (ReadLine(strLine, limit))
        strAll += strLine + "\n";
    strAll += m_strBuffer;
    m_strBuffer.clear();
    return strAll;
}

int CChildProcess::Wait(std::chrono::milliseconds limit)
{
    if (m_pid <= 0)
        return -1;
    // A process descriptor becomes readable when the child ends.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidFd >= 0)
    {
        pollfd pfd = {pidFd, POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, static_cast<int>(limit.count()));
        ::close(pidFd);
        if (nReady <= 0)
            return -1; // the destructor kills it
    }
    int nStatus = 0;
    if (::waitpid(m_pid, &nStatus, 0) != m_pid)
        return -1;
    m_pid = -1;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}
