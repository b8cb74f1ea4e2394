#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// An HTTP server on 127.0.0.1, on a port of its own choosing, that answers the requests it
// gets, one connection after the other, with the replies of its script in order, and
// records each request's header block. It stops when destroyed, or by itself after a
// minute without a client.
class CScriptedHttpServer
{
public:
    struct SReply
    {
        enum class EThen
        {
            // Close the connection.
            Close,
            // Keep the connection open and send nothing more until the client goes.
            Hold,
            // Send m_strRepeat over and over, with m_durPause between, until the client goes.
            Repeat,
        };
        // "{SELF}" stands for the server's own "127.0.0.1:port".
        std::string m_strBytes;
        EThen m_eThen = EThen::Close;
        std::string m_strRepeat;
        std::chrono::milliseconds m_durPause{0};
        // Nothing is sent before Release() has been called.
        bool m_bWaitForRelease = false;
    };

    // A complete reply with Content-Length and "Connection: close". Extra header lines end
    // in CR LF each.
    static SReply Reply(int nStatus, std::string_view strExtraHeaders, std::string_view strBody);
    // A status line and header lines, then what m_eThen says.
    static SReply Head(int nStatus, std::string_view strExtraHeaders);

    explicit CScriptedHttpServer(std::vector<SReply> script);
    CScriptedHttpServer(const CScriptedHttpServer&) = delete;
    CScriptedHttpServer& operator=(const CScriptedHttpServer&) = delete;
    ~CScriptedHttpServer();

    int Port() const { return m_nPort; }
    // "127.0.0.1:port", as the query's host.
    std::string HostPort() const;
    // The header blocks received so far, request line first.
    std::vector<std::string> Requests() const;
    // Waits until at least n requests have come in; false after the deadline.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
    // Lets a reply that waits for it be sent.
    void Release();
    // Requests that came after the script was used up (they got a 500).
    std::size_t Unscripted() const;

private:
    void Run();
    void Serve(int fd, const SReply* pReply);
    bool ReadRequest(int fd, std::string& strRequest);
    // Waits until fd is readable or the server stops; false when it stops or time runs out.
    bool WaitReadable(int fd, std::chrono::milliseconds limit);
    bool Stopping() const;

    std::vector<SReply> m_aScript;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    int m_nPort = 0;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cvChanged;
    std::vector<std::string> m_aRequests;
    std::size_t m_nUnscripted = 0;
    bool m_bReleased = false;
    bool m_bStop = false;
};

// One header line of a request block ("" when absent), and how often a header occurs.
std::string HeaderValue(const std::string& strRequest, std::string_view strName);
std::size_t HeaderCount(const std::string& strRequest, std::string_view strName);
// The first line of a request block, without CR LF.
std::string RequestLine(const std::string& strRequest);
