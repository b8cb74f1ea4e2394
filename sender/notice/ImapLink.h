#pragma once

#include "platform/TcpSocket.h"
#include "platform/TlsConnection.h"
#include "sender/notice/ImapReader.h"
#include "sender/notice/NoticePoll.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A small IMAP4rev1 client (RFC 3501) that can only read: it opens a folder with EXAMINE, finds
// messages with UID SEARCH and fetches bounded parts of them with BODY.PEEK, so that no flag of
// any message changes. It has no STORE, EXPUNGE, COPY or MOVE. It runs on the project's own
// socket and TLS layer, so that certificates are checked exactly as for SMTP and every wait ends
// at one deadline or at the cancel signal. (Debian's IMAP libraries bring sockets and TLS code of
// their own, which would check certificates, time out and cancel in ways of their own; the few
// commands needed here are less code than the glue to make one of them behave like this.)
//
// Each call returns Ok or what went wrong; Detail() then says it in a short, filtered sentence.
// After a failure the connection is closed and every further call fails.

struct SImapFolderState
{
    std::uint32_t m_nUidValidity = 0;
    std::uint32_t m_nUidNext = 0;
    std::uint32_t m_nExists = 0;
};

struct SFetchedMessage
{
    std::uint32_t m_nUid = 0;
    std::int64_t m_nArrival = 0; // INTERNALDATE, seconds since 1970; 0 when the server gave none
    std::string m_strHeader;
    std::string m_strText;
};

class CImapLink
{
public:
    using Clock = platform::CByteStream::Clock;

    // Every wait of every call ends at deadline. pCancel, if given, must outlive the link.
    CImapLink(Clock::time_point deadline, const platform::CCancelSignal* pCancel,
              const SImapLimits& limits = SImapLimits());
    CImapLink(const CImapLink&) = delete;
    CImapLink& operator=(const CImapLink&) = delete;
    ~CImapLink();

    // Connects to strServer (host, host:port, [v6]:port) and makes the connection secure, from the
    // first byte or with STARTTLS; a server without STARTTLS gets nothing more.
    EPollStatus Connect(const std::string& strServer, EImapSecurity eSecurity);
    // LOGIN, or AUTHENTICATE PLAIN where the server disables LOGIN. Only over TLS.
    EPollStatus Login(const std::string& strLogin, const std::string& strPassword);
    EPollStatus Examine(const std::string& strFolder, SImapFolderState& state);
    // UID SEARCH with the criteria given (built by the caller from numbers and dates only).
    EPollStatus UidSearch(const std::string& strCriteria, std::vector<std::uint32_t>& aUids);
    // Fetches the header (up to nHeaderBytes) and the start of the text (up to nTextBytes) of each
    // message, calling fnMessage for each as it comes.
    EPollStatus UidFetch(const std::vector<std::uint32_t>& aUids, std::size_t nHeaderBytes,
                         std::size_t nTextBytes, const std::function<void(SFetchedMessage&&)>& fnMessage);
    // LOGOUT, briefly waited for, and closes the connection.
    void Logout();

    const std::string& Detail() const { return m_strDetail; }

private:
    struct SCommandEnd
    {
        bool m_bOk = false;
        std::string m_strKind; // "OK", "NO" or "BAD"
        std::string m_strText; // what follows it, filtered
    };
    using UntaggedHandler = std::function<EPollStatus(const SImapResponse&)>;

    platform::CByteStream& Stream();
    EPollStatus Fail(EPollStatus eStatus, const std::string& strDetail);
    EPollStatus ReadFailure(EImapRead eRead);
    EPollStatus Send(const std::string& strBytes);
    std::string NextTag();
    // Sends a command and reads up to its tagged end; each untagged response goes to fnUntagged.
    EPollStatus Command(const std::string& strCommand, SCommandEnd& end,
                        const UntaggedHandler& fnUntagged = {});
    // Reads responses up to the tagged one for strTag, or a continuation when bContinuation.
    EPollStatus ReadUntil(const std::string& strTag, SCommandEnd& end, const UntaggedHandler& fnUntagged,
                          bool bContinuation, bool& bContinued);
    EPollStatus Capabilities();
    void TakeCapabilities(std::string_view strText);
    bool Offers(std::string_view strCapability) const;
    EPollStatus StartTls(const std::string& strHost);
    EPollStatus Handshake(const std::string& strHost);

    Clock::time_point m_deadline;
    const platform::CCancelSignal* m_pCancel = nullptr;
    platform::CTcpSocket m_socket;
    std::unique_ptr<platform::CTlsConnection> m_pTls;
    CImapReader m_reader;
    std::vector<std::string> m_aCapabilities;
    std::string m_strDetail;
    unsigned m_nTag = 0;
    bool m_bFailed = false;
    bool m_bAuthenticated = false;
};
