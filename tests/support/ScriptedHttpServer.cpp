#include "tests/support/ScriptedHttpServer.h"

#include "tests/support/SendAll.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace
{

constexpr auto IDLE_LIMIT = std::chrono::minutes(1);
constexpr auto REQUEST_PATIENCE = std::chrono::seconds(20);
constexpr std::size_t MAX_REQUEST_BYTES = 64 * 1024;
constexpr int SEND_LIMIT_SECONDS = 5;
constexpr std::string_view SELF_PLACEHOLDER = "{SELF}";

const char* ReasonOf(int nStatus)
{
    switch (nStatus)
    {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Whatever";
    }
}

std::string Lower(std::string_view str)
{
    std::string strLower(str);
    for (char& ch : strLower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return strLower;
}

std::vector<std::string> HeaderLines(const std::string& strRequest)
{
    std::vector<std::string> aLines;
    std::size_t nStart = strRequest.find("\r\n");
    while (nStart != std::string::npos)
    {
        nStart += 2;
        const std::size_t nEnd = strRequest.find("\r\n", nStart);
        if (nEnd == std::string::npos || nEnd == nStart)
            break;
        aLines.push_back(strRequest.substr(nStart, nEnd - nStart));
        nStart = nEnd;
    }
    return aLines;
}

} // namespace

CScriptedHttpServer::SReply CScriptedHttpServer::Head(int nStatus, std::string_view strExtraHeaders)
{
    SReply reply;
    reply.m_strBytes = "HTTP/1.1 " + std::to_string(nStatus) + " " + ReasonOf(nStatus) + "\r\n";
    reply.m_strBytes += strExtraHeaders;
    reply.m_strBytes += "\r\n";
    return reply;
}

CScriptedHttpServer::SReply CScriptedHttpServer::Reply(int nStatus, std::string_view strExtraHeaders,
                                                       std::string_view strBody)
{
    std::string strHeaders(strExtraHeaders);
    strHeaders += "Content-Type: text/html\r\nContent-Length: " + std::to_string(strBody.size()) +
                  "\r\nConnection: close\r\n";
    SReply reply = Head(nStatus, strHeaders);
    reply.m_strBytes += strBody;
    return reply;
}

CScriptedHttpServer::CScriptedHttpServer(std::vector<SReply> script) : m_aScript(std::move(script))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(address);
    if (m_listenFd < 0 || ::pipe2(m_wakeFds, O_CLOEXEC) != 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listenFd, 8) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &nLen) != 0)
        return;
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CScriptedHttpServer::~CScriptedHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cvChanged.notify_all();
    if (m_wakeFds[1] >= 0)
        (void)::write(m_wakeFds[1], "x", 1);
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_listenFd, m_wakeFds[0], m_wakeFds[1]})
        if (fd >= 0)
            ::close(fd);
}

std::string CScriptedHttpServer::HostPort() const
{
    return "127.0.0.1:" + std::to_string(m_nPort);
}

std::vector<std::string> CScriptedHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_aRequests;
}

bool CScriptedHttpServer::WaitForRequests(std::size_t n, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_mutex);
    return m_cvChanged.wait_for(lock, deadline, [&] { return m_aRequests.size() >= n; });
}

void CScriptedHttpServer::Release()
{
    {
        std::lock_guard lock(m_mutex);
        m_bReleased = true;
    }
    m_cvChanged.notify_all();
}

std::size_t CScriptedHttpServer::Unscripted() const
{
    std::lock_guard lock(m_mutex);
    return m_nUnscripted;
}

bool CScriptedHttpServer::Stopping() const
{
    std::lock_guard lock(m_mutex);
    return m_bStop;
}

bool CScriptedHttpServer::WaitReadable(int fd, std::chrono::milliseconds limit)
{
    pollfd aPoll[2] = {{fd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
    int nReady = 0;
    do
        nReady = ::poll(aPoll, 2, static_cast<int>(limit.count()));
    while (nReady < 0 && errno == EINTR);
    return nReady > 0 && (aPoll[1].revents & POLLIN) == 0 && aPoll[0].revents != 0;
}

void CScriptedHttpServer::Run()
{
    std::size_t nNext = 0;
    while (!Stopping())
    {
        if (!WaitReadable(m_listenFd, std::chrono::duration_cast<std::chrono::milliseconds>(IDLE_LIMIT)))
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        // A client that stops reading cannot keep the server from stopping.
        const timeval sendLimit = {SEND_LIMIT_SECONDS, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof(sendLimit));
        std::string strRequest;
        if (ReadRequest(fd, strRequest))
        {
            const SReply* pReply = nNext < m_aScript.size() ? &m_aScript[nNext] : nullptr;
            ++nNext;
            {
                std::lock_guard lock(m_mutex);
                m_aRequests.push_back(strRequest);
                if (pReply == nullptr)
                    ++m_nUnscripted;
            }
            m_cvChanged.notify_all();
            Serve(fd, pReply);
        }
        ::close(fd);
    }
}

bool CScriptedHttpServer::ReadRequest(int fd, std::string& strRequest)
{
    char chunk[4096];
    while (strRequest.find("\r\n\r\n") == std::string::npos)
    {
        if (strRequest.size() > MAX_REQUEST_BYTES ||
            !WaitReadable(fd, std::chrono::duration_cast<std::chrono::milliseconds>(REQUEST_PATIENCE)))
            return false;
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return false;
        strRequest.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

void CScriptedHttpServer::Serve(int fd, const SReply* pReply)
{
    if (pReply == nullptr)
    {
        (void)SendAll(fd, Reply(500, "", "out of script").m_strBytes);
        return;
    }
    if (pReply->m_bWaitForRelease)
    {
        std::unique_lock lock(m_mutex);
        m_cvChanged.wait(lock, [this] { return m_bReleased || m_bStop; });
    }
    std::string strBytes = pReply->m_strBytes;
    for (auto nAt = strBytes.find(SELF_PLACEHOLDER); nAt != std::string::npos;
         nAt = strBytes.find(SELF_PLACEHOLDER, nAt))
        strBytes.replace(nAt, SELF_PLACEHOLDER.size(), HostPort());
    if (!SendAll(fd, strBytes))
        return;
    switch (pReply->m_eThen)
    {
    case SReply::EThen::Close:
        // Half-close first, so the client reads the whole reply before the end.
        ::shutdown(fd, SHUT_WR);
        break;
    case SReply::EThen::Hold:
    {
        char chunk[4096];
        // The client goes when it closes; whatever else it sends is taken and ignored.
        while (WaitReadable(fd, std::chrono::duration_cast<std::chrono::milliseconds>(IDLE_LIMIT)) &&
               ::recv(fd, chunk, sizeof(chunk), 0) > 0)
        {
        }
        break;
    }
    case SReply::EThen::Repeat:
        while (!Stopping() && SendAll(fd, pReply->m_strRepeat))
        {
            // The pause also ends when the client goes or the server stops.
            if (pReply->m_durPause.count() > 0 && WaitReadable(fd, pReply->m_durPause))
            {
                char chunk[4096];
                if (::recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT) <= 0)
                    break;
            }
        }
        break;
    }
}

std::string HeaderValue(const std::string& strRequest, std::string_view strName)
{
    const std::string strPrefix = Lower(strName) + ":";
    for (const std::string& strLine : HeaderLines(strRequest))
    {
        if (Lower(strLine.substr(0, strPrefix.size())) == strPrefix)
        {
            std::string strValue = strLine.substr(strPrefix.size());
            strValue.erase(0, strValue.find_first_not_of(' '));
            return strValue;
        }
    }
    return {};
}

std::size_t HeaderCount(const std::string& strRequest, std::string_view strName)
{
    const std::string strPrefix = Lower(strName) + ":";
    const auto aLines = HeaderLines(strRequest);
    return static_cast<std::size_t>(std::count_if(
        aLines.begin(), aLines.end(),
        [&](const std::string& strLine) { return Lower(strLine.substr(0, strPrefix.size())) == strPrefix; }));
}

std::string RequestLine(const std::string& strRequest)
{
    return strRequest.substr(0, strRequest.find("\r\n"));
}
