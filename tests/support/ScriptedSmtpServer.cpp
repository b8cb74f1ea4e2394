#include "tests/support/ScriptedSmtpServer.h"

#include "tests/support/SendAll.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr std::string_view END_OF_DATA = "\r\n.\r\n";

bool WaitReadable(int fd, std::chrono::milliseconds limit)
{
    pollfd pfd = {fd, POLLIN, 0};
    int nReady = 0;
    do
        nReady = ::poll(&pfd, 1, static_cast<int>(limit.count()));
    while (nReady < 0 && errno == EINTR);
    return nReady > 0;
}

} // namespace

struct CScriptedSmtpServer::STls
{
    ~STls()
    {
        if (m_pSsl != nullptr)
        {
            ::SSL_shutdown(m_pSsl);
            ::SSL_free(m_pSsl);
        }
        ::SSL_CTX_free(m_pContext);
    }
    SSL_CTX* m_pContext = nullptr;
    SSL* m_pSsl = nullptr;
};

CScriptedSmtpServer::CScriptedSmtpServer(std::vector<std::string> script)
    : CScriptedSmtpServer(std::move(script), SOptions{})
{
}

CScriptedSmtpServer::CScriptedSmtpServer(std::vector<std::string> script, const SOptions& options)
    : m_aScript(std::move(script)), m_options(options)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(address);
    // Set before listen(), so that the connection's window is made for it from the start.
    if (m_listenFd >= 0 && m_options.m_nReceiveBuffer > 0)
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &m_options.m_nReceiveBuffer,
                     sizeof(m_options.m_nReceiveBuffer));
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listenFd, 1) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &nLen) != 0)
    {
        Fault(std::string("cannot listen: ") + std::strerror(errno));
        return;
    }
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CScriptedSmtpServer::~CScriptedSmtpServer()
{
    Finish();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

std::string CScriptedSmtpServer::Finish()
{
    if (!m_bFinished && m_thread.joinable())
        m_thread.join();
    m_bFinished = true;
    return m_strFaults;
}

void CScriptedSmtpServer::Fault(const std::string& strFault)
{
    if (!m_strFaults.empty())
        m_strFaults += "; ";
    m_strFaults += strFault;
}

void CScriptedSmtpServer::Run()
{
    // OpenSSL writes its alerts with write(): to a client that has reset the connection that
    // would raise SIGPIPE, which, blocked in this thread alone, becomes EPIPE.
    sigset_t sigpipe;
    ::sigemptyset(&sigpipe);
    ::sigaddset(&sigpipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
    if (!WaitReadable(m_listenFd, m_options.m_durPatience))
    {
        Fault("no client connected");
        return;
    }
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
    {
        Fault("accept failed");
        return;
    }
    const int nOn = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof(nOn));
    // Reads through TLS block; this bounds them as poll() bounds the plain ones.
    timeval patience = {};
    patience.tv_sec = static_cast<time_t>(m_options.m_durPatience.count() / 1000);
    patience.tv_usec = static_cast<suseconds_t>(m_options.m_durPatience.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    Play(fd);
    m_pTls.reset();
    ::close(fd);
}

bool CScriptedSmtpServer::StartTls(int fd)
{
    m_pTls = std::make_unique<STls>();
    m_pTls->m_pContext = ::SSL_CTX_new(::TLS_server_method());
    if (m_pTls->m_pContext == nullptr ||
        ::SSL_CTX_use_certificate_chain_file(m_pTls->m_pContext, m_options.m_strCertificate.c_str()) != 1 ||
        ::SSL_CTX_use_PrivateKey_file(m_pTls->m_pContext, m_options.m_strKey.c_str(), SSL_FILETYPE_PEM) != 1)
        return false;
    m_pTls->m_pSsl = ::SSL_new(m_pTls->m_pContext);
    if (m_pTls->m_pSsl == nullptr || ::SSL_set_fd(m_pTls->m_pSsl, fd) != 1)
        return false;
    // Bytes the client sent before the handshake would be taken as a broken hello, as they should.
    if (!m_strBuffer.empty())
        return false;
    if (::SSL_accept(m_pTls->m_pSsl) != 1)
    {
        // The client refused the session (it did not trust the certificate, say): no session to close.
        ::SSL_free(m_pTls->m_pSsl);
        m_pTls->m_pSsl = nullptr;
        return false;
    }
    return true;
}

bool CScriptedSmtpServer::Write(int fd, std::string_view bytes)
{
    if (!m_pTls)
        return SendAll(fd, bytes);
    std::size_t nWritten = 0;
    return bytes.empty() || (::SSL_write_ex(m_pTls->m_pSsl, bytes.data(), bytes.size(), &nWritten) == 1 &&
                             nWritten == bytes.size());
}

CScriptedSmtpServer::EFill CScriptedSmtpServer::Receive(int fd)
{
    const bool bBuffered = m_pTls && ::SSL_pending(m_pTls->m_pSsl) > 0;
    if (!bBuffered && !WaitReadable(fd, m_options.m_durPatience))
        return EFill::TimedOut;
    char chunk[65536];
    ssize_t n = 0;
    if (m_pTls)
    {
        std::size_t nRead = 0;
        n = ::SSL_read_ex(m_pTls->m_pSsl, chunk, sizeof(chunk), &nRead) == 1 ? static_cast<ssize_t>(nRead)
                                                                             : 0;
    }
    else
        do
            n = ::recv(fd, chunk, sizeof(chunk), 0);
        while (n < 0 && errno == EINTR);
    if (n <= 0)
        return EFill::Closed;
    m_strBuffer.append(chunk, static_cast<std::size_t>(n));
    return EFill::Data;
}

bool CScriptedSmtpServer::FillBuffer(int fd)
{
    return Receive(fd) == EFill::Data;
}

bool CScriptedSmtpServer::ReadLine(int fd, std::string& strLine)
{
    std::size_t nEnd = 0;
    while ((nEnd = m_strBuffer.find("\r\n")) == std::string::npos)
        if (!FillBuffer(fd))
            return false;
    strLine = m_strBuffer.substr(0, nEnd);
    m_strBuffer.erase(0, nEnd + 2);
    return true;
}

bool CScriptedSmtpServer::ReadData(int fd, std::string& strData)
{
    // Data may begin with the end-of-data line itself when the message is empty.
    if (m_strBuffer.rfind(".\r\n", 0) == 0)
    {
        m_strBuffer.erase(0, 3);
        strData.clear();
        return true;
    }
    strData.clear();
    std::size_t nEnd = 0;
    while ((nEnd = m_strBuffer.find(END_OF_DATA)) == std::string::npos)
    {
        // Move all but a possible start of the end mark out of the buffer, so each byte is searched once.
        const std::size_t nDone =
            m_strBuffer.size() < END_OF_DATA.size() ? 0 : m_strBuffer.size() - END_OF_DATA.size() + 1;
        if (m_options.m_bKeepData)
            strData.append(m_strBuffer, 0, nDone);
        m_strBuffer.erase(0, nDone);
        if (!FillBuffer(fd))
            return false;
    }
    if (m_options.m_bKeepData)
        strData.append(m_strBuffer, 0, nEnd + 2);
    m_strBuffer.erase(0, nEnd + END_OF_DATA.size());
    return true;
}

void CScriptedSmtpServer::Hold(int fd, const std::string& strWhere)
{
    // A reset or a hang-up shows without reading; a closing client whose data has not all
    // come would wait behind it for ever.
    pollfd pfd = {fd, POLLRDHUP, 0};
    int nReady = 0;
    do
        nReady = ::poll(&pfd, 1, static_cast<int>(m_options.m_durPatience.count()));
    while (nReady < 0 && errno == EINTR);
    if (nReady <= 0)
        return Fault(strWhere + "the client did not end the connection");
    while (m_strBuffer.find(END_OF_DATA) == std::string::npos && Receive(fd) == EFill::Data)
    {
    }
    if (m_strBuffer.find(END_OF_DATA) != std::string::npos)
        Fault(strWhere + "the end of the data came");
    m_strBuffer.clear();
}

void CScriptedSmtpServer::Play(int fd)
{
    for (std::size_t nStep = 0; nStep < m_aScript.size(); ++nStep)
    {
        const std::string& strStep = m_aScript[nStep];
        const std::string strWhere = "step " + std::to_string(nStep + 1) + " \"" + strStep + "\": ";
        const std::string strArg = strStep.size() > 3 ? strStep.substr(3) : std::string();
        const char chKind = strStep.empty() ? '?' : strStep[0];
        if (chKind == 'S')
        {
            // A client that has gone away is noticed by the next step that expects something of it.
            Write(fd, strArg + "\r\n");
        }
        else if (chKind == 'D')
        {
            const std::string strBytes = strArg + "\r\n";
            for (const char ch : strBytes)
            {
                if (!Write(fd, std::string_view(&ch, 1)))
                    break;
                std::this_thread::sleep_for(m_options.m_durDrip);
            }
        }
        else if (chKind == 'C' && strArg == "<DATA>")
        {
            std::string strData;
            if (!ReadData(fd, strData))
                return Fault(strWhere + "the data did not end");
            m_aData.push_back(std::move(strData));
        }
        else if (chKind == 'C')
        {
            std::string strLine;
            if (!ReadLine(fd, strLine))
                return Fault(strWhere + "the client sent no line");
            m_aClientLines.push_back(strLine);
            const bool bPrefix = !strArg.empty() && strArg.back() == '*';
            const bool bMatch = bPrefix
                                    ? strLine.compare(0, strArg.size() - 1, strArg, 0, strArg.size() - 1) == 0
                                    : strLine == strArg;
            if (!bMatch)
                return Fault(strWhere + "the client sent \"" + strLine + "\"");
        }
        else if (chKind == 'R')
        {
            const std::size_t nWanted = std::stoul(strArg);
            while (m_strBuffer.size() < nWanted)
                if (!FillBuffer(fd))
                    return Fault(strWhere + "fewer bytes came");
            m_strBuffer.erase(0, nWanted);
        }
        else if (chKind == 'H')
            Hold(fd, strWhere);
        else if (chKind == 'T')
        {
            if (!StartTls(fd))
                return Fault(strWhere + "no TLS session came about");
        }
        else if (chKind == 'X')
        {
            if (nStep + 1 != m_aScript.size())
                Fault(strWhere + "steps after closing are never used");
            return;
        }
        else
            return Fault(strWhere + "unknown step");
    }
    // The transcript is over: the client must close without saying more.
    EFill eFill = EFill::Data;
    while (m_strBuffer.empty() && eFill == EFill::Data)
        eFill = Receive(fd);
    if (!m_strBuffer.empty())
        Fault("after the transcript the client sent \"" + m_strBuffer.substr(0, 200) + "\"");
    else if (eFill == EFill::TimedOut)
        Fault("the client did not close the connection");
}
