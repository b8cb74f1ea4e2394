#include "tests/integration/TestCups.h"

#include "platform/BinaryFile.h"
#include "platform/Environment.h"

#include <arpa/inet.h>
#include <csignal>
#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

// setpriv(1) gives the scheduler's chain a parent-death signal, so that it ends with the test
// process even when the test dies without cleaning up; timeout(1) ends it in any case.
constexpr const char* SETPRIV_PROGRAM = "/usr/bin/setpriv";
constexpr const char* TIMEOUT_PROGRAM = "/usr/bin/timeout";
// However the test ends, the scheduler is gone after this long.
constexpr const char* SCHEDULER_LIFETIME = "900";
constexpr auto START_DEADLINE = std::chrono::seconds(30);
constexpr auto STOP_DEADLINE = std::chrono::seconds(10);
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(20);
constexpr int START_ATTEMPTS = 3;
constexpr int EXIT_CUPSD_MISSING = 3; // scripts/temp-cups.sh

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    int nPort = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return nPort;
}

bool Listening(int nPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(nPort));
    const bool bOk = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bOk;
}

} // namespace

CTestCups::~CTestCups()
{
    Stop();
}

CTestCups::EStart CTestCups::Start(const std::filesystem::path& dir, std::string& strWhy,
                                   const std::vector<std::string>& backendEnvironment)
{
    m_dir = dir;
    std::filesystem::create_directories(dir);
    for (int nAttempt = 0; nAttempt < START_ATTEMPTS; ++nAttempt)
    {
        m_nPort = FreeLoopbackPort();
        const std::string strPort = std::to_string(m_nPort);
        const int nOut = ::open((dir / "cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        platform::SSpawnOptions options;
        if (nOut >= 0)
        {
            options.m_eOutput = options.m_eErrors = platform::EChildStream::Descriptor;
            options.m_nOutputFd = options.m_nErrorsFd = nOut;
        }
        std::vector<std::string> args = {
            SETPRIV_PROGRAM,    "--pdeathsig",           "TERM",       "--",   TIMEOUT_PROGRAM,
            SCHEDULER_LIFETIME, VELLUM_TEMP_CUPS_SCRIPT, dir.string(), strPort};
        args.insert(args.end(), backendEnvironment.begin(), backendEnvironment.end());
        const bool bStarted = m_process.Start(args, options);
        if (nOut >= 0)
            ::close(nOut);
        if (!bStarted)
        {
            strWhy = m_process.Describe();
            return EStart::Unavailable;
        }

        const auto deadline = Clock::now() + START_DEADLINE;
        bool bEnded = false;
        while (Clock::now() < deadline)
        {
            if (m_process.Poll())
            {
                bEnded = true;
                break;
            }
            // Ready when it listens on both.
            if (Listening(m_nPort) && std::filesystem::exists(Socket()))
                return EStart::Running;
            std::this_thread::sleep_for(POLL_INTERVAL);
        }
        if (!bEnded)
        {
            Stop();
            strWhy = "cupsd did not listen on port " + strPort + " within 30 s";
            return EStart::Unavailable;
        }
        const std::string strOutput = platform::ReadWholeFile(dir / "cupsd.out", 1 << 16).value_or("");
        const std::string strLog = ErrorLog();
        if (m_process.ExitCode() == EXIT_CUPSD_MISSING)
        {
            strWhy = strOutput;
            return EStart::Unavailable;
        }
        strWhy = "cupsd ended at once (" + m_process.Describe() + "): " + strOutput +
                 strLog.substr(strLog.size() > 2000 ? strLog.size() - 2000 : 0);
        // Another program took the port between our look and cupsd's bind: try another.
        if (strLog.find("Address already in use") == std::string::npos)
            return EStart::Unavailable;
    }
    return EStart::Unavailable;
}

void CTestCups::Stop()
{
    if (!m_process.IsRunning())
        return;
    m_process.Signal(SIGTERM);
    if (m_process.Wait(STOP_DEADLINE) == platform::EWaitResult::Ended)
        return;
    // timeout(1) runs in a process group of its own: end all of it.
    ::kill(-m_process.Pid(), SIGKILL);
    m_process.Kill();
}

std::vector<std::string> CTestCups::Variables() const
{
    return {"CUPS_SERVER=" + Socket().string(), "CUPS_SERVERBIN=" + (m_dir / "serverbin").string(),
            "CUPS_DATADIR=" + (m_dir / "data").string(), "CUPS_CACHEDIR=" + (m_dir / "cache").string()};
}

std::vector<std::string> CTestCups::Environment(const std::vector<std::string>& extra) const
{
    std::vector<std::string> entries = Variables();
    entries.insert(entries.end(), extra.begin(), extra.end());
    return platform::EnvironmentWith(entries);
}

std::string CTestCups::ErrorLog() const
{
    return platform::ReadWholeFile(m_dir / "log" / "error_log", 64 << 20).value_or("");
}

std::optional<CTestCups::SJobState> CTestCups::QueryJob(int nJob) const
{
    http_t* pHttp =
        httpConnect2("127.0.0.1", m_nPort, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
    if (pHttp == nullptr)
        return std::nullopt;
    ipp_t* pRequest = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string strUri = "ipp://127.0.0.1:" + std::to_string(m_nPort) + "/jobs/" + std::to_string(nJob);
    ippAddString(pRequest, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, strUri.c_str());
    ippAddString(pRequest, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t* pResponse = cupsDoRequest(pHttp, pRequest, "/");
    std::optional<SJobState> state;
    if (pResponse != nullptr)
    {
        if (ipp_attribute_t* pState = ippFindAttribute(pResponse, "job-state", IPP_TAG_ENUM))
        {
            state = SJobState{};
            state->m_nState = ippGetInteger(pState, 0);
            if (ipp_attribute_t* pMessage =
                    ippFindAttribute(pResponse, "job-printer-state-message", IPP_TAG_TEXT))
                state->m_strMessage = ippGetString(pMessage, 0, nullptr);
        }
        ippDelete(pResponse);
    }
    httpClose(pHttp);
    return state;
}

std::optional<CTestCups::SJobState> CTestCups::WaitForJob(int nJob, std::chrono::milliseconds nTimeout) const
{
    const auto deadline = Clock::now() + nTimeout;
    std::optional<SJobState> state;
    while (Clock::now() < deadline)
    {
        state = QueryJob(nJob);
        if (state && state->m_nState >= JOB_CANCELED)
            return state;
        std::this_thread::sleep_for(POLL_INTERVAL * 5);
    }
    return std::nullopt;
}
