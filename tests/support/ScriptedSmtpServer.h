#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A one-connection SMTP peer on 127.0.0.1 that plays a transcript and checks that the client
// follows it to the letter. Lines of the transcript:
//   "S: text"   the server sends text and CR LF (text may hold CR LF itself, for several lines)
//   "D: text"   the same, dripped one byte at a time with the drip delay between bytes
//   "C: text"   the client must send exactly this line; a final "*" matches any rest of the line
//   "C: <DATA>" the client sends message data up to and including the end-of-data line
//   "R: n"      the server reads n bytes of anything
//   "X:"        the server closes the connection at once
//   "H:"        the server holds: it reads nothing until the client ends the connection, then
//               takes what had come, which must not hold the end of the message data
//   "T:"        the server runs a TLS handshake as the server (with the options' certificate);
//               every later step goes through TLS
// After the last line the server waits for the client to close and takes any further byte
// as a fault. Finish() returns every fault found, or the empty text when the transcript was
// used up exactly.
class CScriptedSmtpServer
{
public:
    struct SOptions
    {
        std::chrono::milliseconds m_durDrip{50};
        // How long the server waits for the client at each step before it gives up.
        std::chrono::milliseconds m_durPatience{std::chrono::seconds(20)};
        // False for large messages that only need to be taken, not looked at.
        bool m_bKeepData = true;
        // The server's receive buffer (SO_RCVBUF) in bytes, which bounds what the client's
        // kernel can hand over while the server holds; 0 leaves the system's.
        int m_nReceiveBuffer = 0;
        // PEM files of the certificate (with its chain) and key for "T:".
        std::string m_strCertificate;
        std::string m_strKey;
    };

    explicit CScriptedSmtpServer(std::vector<std::string> script);
    CScriptedSmtpServer(std::vector<std::string> script, const SOptions& options);
    CScriptedSmtpServer(const CScriptedSmtpServer&) = delete;
    CScriptedSmtpServer& operator=(const CScriptedSmtpServer&) = delete;
    ~CScriptedSmtpServer();

    int Port() const { return m_nPort; }
    // Waits for the session to end and returns its faults ("" when there were none).
    std::string Finish();
    // The message data of each "<DATA>" step, without the final ".\r\n" line.
    const std::vector<std::string>& Data() const { return m_aData; }
    // The lines the client sent, without their CR LF.
    const std::vector<std::string>& ClientLines() const { return m_aClientLines; }

private:
    struct STls;

    void Run();
    bool StartTls(int fd);
    bool Write(int fd, std::string_view bytes);
    void Play(int fd);
    bool ReadLine(int fd, std::string& strLine);
    bool ReadData(int fd, std::string& strData);
    void Hold(int fd, const std::string& strWhere);
    enum class EFill
    {
        Data,
        Closed,
        TimedOut,
    };
    EFill Receive(int fd);
    bool FillBuffer(int fd);
    void Fault(const std::string& strFault);

    std::vector<std::string> m_aScript;
    SOptions m_options;
    int m_listenFd = -1;
    int m_nPort = 0;
    std::string m_strBuffer; // bytes received and not yet taken by a step
    std::vector<std::string> m_aData;
    std::vector<std::string> m_aClientLines;
    std::string m_strFaults;
    std::unique_ptr<STls> m_pTls; // the session after "T:"
    std::thread m_thread;
    bool m_bFinished = false;
};
