#pragma once

#include "platform/Process.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A private CUPS scheduler for a whole-program test: started by scripts/temp-cups.sh in a
// folder of the test, on a socket there and a loopback port chosen now. It stops with the
// object, and by itself when the test process dies or after a time limit, whatever happens to
// the test.
class CTestCups
{
public:
    enum class EStart
    {
        Running,
        Unavailable, // cupsd is not installed or ends before it listens
    };

    CTestCups() = default;
    CTestCups(const CTestCups&) = delete;
    CTestCups& operator=(const CTestCups&) = delete;
    ~CTestCups();

    // strWhy tells what went wrong when the scheduler does not run. The NAME=VALUE entries of
    // backendEnvironment go into its filters' and backends' environment (SetEnv).
    [[nodiscard]] EStart Start(const std::filesystem::path& dir, std::string& strWhy,
                               const std::vector<std::string>& backendEnvironment = {});
    void Stop();

    int Port() const { return m_nPort; }
    // The scheduler's socket, where clients are known by their peer credentials.
    std::filesystem::path Socket() const { return m_dir / "cups.sock"; }
    // CUPS_SERVER (the socket), CUPS_SERVERBIN, CUPS_DATADIR and CUPS_CACHEDIR for this scheduler.
    std::vector<std::string> Variables() const;
    // This process's environment with Variables() and the given entries put in.
    std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const;
    std::string ErrorLog() const;

    struct SJobState
    {
        int m_nState = 0; // IPP job-state: 3 pending ... 7 canceled, 8 aborted, 9 completed
        std::string m_strMessage;
    };
    // Waits until the job has ended (completed, canceled or aborted), at most nTimeout.
    std::optional<SJobState> WaitForJob(int nJob, std::chrono::milliseconds nTimeout) const;

    static constexpr int JOB_CANCELED = 7;
    static constexpr int JOB_ABORTED = 8;
    static constexpr int JOB_COMPLETED = 9;

private:
    std::optional<SJobState> QueryJob(int nJob) const;

    std::filesystem::path m_dir;
    platform::CProcess m_process;
    int m_nPort = 0;
};
