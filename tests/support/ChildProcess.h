#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// A program the tests run beside themselves (a Python peer, Pagemill), with its standard
// output readable line by line. Every wait has a deadline; a child still running when the
// object goes away is killed.
class CChildProcess
{
public:
    // Environment entries "NAME=value" are added to (or replace those of) the test's own.
    CChildProcess(const std::vector<std::string>& args,
                  const std::vector<std::string>& extraEnvironment = {});
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess();

    bool Started() const { return m_pid > 0; }
    // The next line of standard output without its newline; false at its end or past the limit.
    bool ReadLine(std::string& strLine, std::chrono::milliseconds limit);
    // The rest of standard output.
    std::string ReadAll(std::chrono::milliseconds limit);
    // The exit code, or -1 when it was killed or did not end within the limit.
    int Wait(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_strBuffer;
};
