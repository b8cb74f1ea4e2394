#include "sender/notice/ImapLink.h"

#include "platform/Deadline.h"
#include "platform/Text.h"
#include "sender/mail/Base64Codec.h"
#include "sender/mail/ServerAddress.h"
#include "sender/notice/ImapText.h"

#include <algorithm>
#include <charconv>

namespace
{

// Server text in a detail is cut to this many characters.
constexpr std::size_t SERVER_TEXT_CHARS = 160;
// LOGOUT is polite, not needed: it gets this long at most.
constexpr std::chrono::seconds LOGOUT_LIMIT(2);

std::string Upper(std::string_view strText)
{
    std::string strUpper(strText);
    for (char& ch : strUpper)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    return strUpper;
}

std::string_view NextWord(std::string_view& strText)
{
    strText = platform::TrimStart(strText, " ");
    const std::size_t nEnd = std::min(strText.find(' '), strText.size());
    const std::string_view strWord = strText.substr(0, nEnd);
    strText.remove_prefix(nEnd);
    return strWord;
}

bool ParseNumber(std::string_view strText, std::uint32_t& nValue)
{
    const auto [pEnd, error] = std::from_chars(strText.data(), strText.data() + strText.size(), nValue);
    return !strText.empty() && error == std::errc() && pEnd == strText.data() + strText.size();
}

// The number after strCode in a response code ("[UIDVALIDITY 3857529045]"), or 0.
std::uint32_t CodeNumber(std::string_view strText, std::string_view strCode)
{
    const std::string strUpper = Upper(strText);
    const std::size_t nAt = strUpper.find("[" + std::string(strCode) + " ");
    if (nAt == std::string::npos)
        return 0;
    std::string_view strRest = std::string_view(strText).substr(nAt + strCode.size() + 2);
    strRest = strRest.substr(0, strRest.find(']'));
    std::uint32_t nValue = 0;
    return ParseNumber(strRest, nValue) ? nValue : 0;
}

std::string ServerText(std::string_view strText)
{
    return platform::PrintableText(platform::Trim(strText), SERVER_TEXT_CHARS);
}

} // namespace

CImapLink::CImapLink(Clock::time_point deadline, const platform::CCancelSignal* pCancel,
                     const SImapLimits& limits)
    : m_deadline(deadline), m_pCancel(pCancel), m_reader(m_socket, limits)
{
    m_socket.SetCancelSignal(pCancel);
}

CImapLink::~CImapLink()
{
    if (m_pTls)
        m_pTls->Close();
    m_socket.Close();
}

platform::CByteStream& CImapLink::Stream()
{
    if (m_pTls)
        return *m_pTls;
    return m_socket;
}

EPollStatus CImapLink::Fail(EPollStatus eStatus, const std::string& strDetail)
{
    m_bFailed = true;
    m_strDetail = strDetail;
    Stream().Abort();
    return eStatus;
}

EPollStatus CImapLink::ReadFailure(EImapRead eRead)
{
    switch (eRead)
    {
    case EImapRead::Ok:
        break;
    case EImapRead::Closed:
    case EImapRead::Failed:
        return Fail(EPollStatus::ServerError, "the mail server ended the connection");
    case EImapRead::TimedOut:
        return Fail(EPollStatus::TimedOut, "the mail server did not answer in time");
    case EImapRead::Cancelled:
        return Fail(EPollStatus::Cancelled, "cancelled");
    case EImapRead::LineTooLong:
        return Fail(EPollStatus::ServerError, "the mail server sent too long a line");
    case EImapRead::LiteralTooBig:
        return Fail(EPollStatus::ServerError, "the mail server announced more data than a notice may hold");
    case EImapRead::SessionTooBig:
        return Fail(EPollStatus::ServerError, "the mail server sent more than one check may take");
    }
    return EPollStatus::Ok;
}

EPollStatus CImapLink::Send(const std::string& strBytes)
{
    const auto left = platform::RoundUpToMilliseconds(m_deadline - Clock::now());
    if (left.count() <= 0)
        return Fail(EPollStatus::TimedOut, "the mail server did not answer in time");
    switch (Stream().SendAll(strBytes, left))
    {
    case platform::ESocketStatus::Ok:
        return EPollStatus::Ok;
    case platform::ESocketStatus::TimedOut:
        return Fail(EPollStatus::TimedOut, "the mail server did not take the command in time");
    case platform::ESocketStatus::Cancelled:
        return Fail(EPollStatus::Cancelled, "cancelled");
    case platform::ESocketStatus::Closed:
    case platform::ESocketStatus::Failed:
        break;
    }
    return Fail(EPollStatus::ServerError, "the mail server ended the connection");
}

std::string CImapLink::NextTag()
{
    return "v" + std::to_string(++m_nTag);
}

EPollStatus CImapLink::ReadUntil(const std::string& strTag, SCommandEnd& end,
                                 const UntaggedHandler& fnUntagged, bool bContinuation, bool& bContinued)
{
    bContinued = false;
    SImapResponse response;
    for (;;)
    {
        const EImapRead eRead = m_reader.Read(response, m_deadline);
        if (eRead != EImapRead::Ok)
            return ReadFailure(eRead);
        std::string_view strRest = response.Head();
        const std::string_view strFirst = NextWord(strRest);
        if (strFirst == "+")
        {
            if (!bContinuation)
                return Fail(EPollStatus::ServerError, "the mail server asked for more where nothing was due");
            bContinued = true;
            return EPollStatus::Ok;
        }
        if (strFirst == "*")
        {
            if (!fnUntagged)
                continue;
            const EPollStatus eStatus = fnUntagged(response);
            if (eStatus != EPollStatus::Ok)
                return eStatus;
            continue;
        }
        if (strFirst != strTag)
            return Fail(EPollStatus::ServerError, "the mail server answered a command that was not sent");
        end.m_strKind = Upper(NextWord(strRest));
        end.m_bOk = end.m_strKind == "OK";
        end.m_strText = ServerText(strRest);
        if (!end.m_bOk && end.m_strKind != "NO" && end.m_strKind != "BAD")
            return Fail(EPollStatus::ServerError, "the mail server gave an answer without OK, NO or BAD");
        return EPollStatus::Ok;
    }
}

EPollStatus CImapLink::Command(const std::string& strCommand, SCommandEnd& end,
                               const UntaggedHandler& fnUntagged)
{
    if (m_bFailed)
        return EPollStatus::ServerError;
    const std::string strTag = NextTag();
    const EPollStatus eSent = Send(strTag + " " + strCommand + "\r\n");
    if (eSent != EPollStatus::Ok)
        return eSent;
    bool bContinued = false;
    return ReadUntil(strTag, end, fnUntagged, false, bContinued);
}

void CImapLink::TakeCapabilities(std::string_view strText)
{
    m_aCapabilities.clear();
    while (!strText.empty())
    {
        std::string strWord = Upper(NextWord(strText));
        if (!strWord.empty() && strWord.back() == ']')
            strWord.pop_back();
        if (!strWord.empty())
            m_aCapabilities.push_back(std::move(strWord));
    }
}

bool CImapLink::Offers(std::string_view strCapability) const
{
    return std::find(m_aCapabilities.begin(), m_aCapabilities.end(), strCapability) != m_aCapabilities.end();
}

EPollStatus CImapLink::Capabilities()
{
    SCommandEnd end;
    const EPollStatus eStatus = Command("CAPABILITY", end,
                                        [this](const SImapResponse& response)
                                        {
                                            std::string_view strRest = response.Head();
                                            NextWord(strRest);
                                            if (Upper(NextWord(strRest)) == "CAPABILITY")
                                                TakeCapabilities(strRest);
                                            return EPollStatus::Ok;
                                        });
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (!end.m_bOk)
        return Fail(EPollStatus::ServerError, "the mail server refused CAPABILITY: " + end.m_strText);
    return EPollStatus::Ok;
}

EPollStatus CImapLink::Handshake(const std::string& strHost)
{
    const auto left = platform::RoundUpToMilliseconds(m_deadline - Clock::now());
    m_pTls = std::make_unique<platform::CTlsConnection>(std::move(m_socket), m_pCancel);
    const platform::STlsResult result = m_pTls->Handshake(strHost, left);
    switch (result.m_eStatus)
    {
    case platform::ETlsStatus::Established:
        return EPollStatus::Ok;
    case platform::ETlsStatus::TimedOut:
        return Fail(EPollStatus::TimedOut, "the secure connection was not made in time");
    case platform::ETlsStatus::Cancelled:
        return Fail(EPollStatus::Cancelled, "cancelled");
    case platform::ETlsStatus::Failed:
        return Fail(EPollStatus::CannotConnect, result.m_strDetail);
    default:
        break;
    }
    return Fail(EPollStatus::NotSecure, result.m_strDetail);
}

EPollStatus CImapLink::StartTls(const std::string& strHost)
{
    if (m_aCapabilities.empty())
    {
        const EPollStatus eStatus = Capabilities();
        if (eStatus != EPollStatus::Ok)
            return eStatus;
    }
    if (!Offers("STARTTLS"))
        return Fail(
            EPollStatus::NotSecure,
            "the mail server does not offer STARTTLS; nothing was sent over the unprotected connection");
    SCommandEnd end;
    const EPollStatus eStatus = Command("STARTTLS", end);
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (!end.m_bOk)
        return Fail(EPollStatus::NotSecure, "the mail server refused STARTTLS: " + end.m_strText);
    // RFC 3501 6.2.1: what the server said before TLS counts for nothing afterwards.
    m_aCapabilities.clear();
    const EPollStatus eHandshake = Handshake(strHost);
    if (eHandshake != EPollStatus::Ok)
        return eHandshake;
    if (!m_reader.SwitchTo(*m_pTls))
        return Fail(EPollStatus::ServerError, "the mail server sent unprotected data after STARTTLS");
    return EPollStatus::Ok;
}

EPollStatus CImapLink::Connect(const std::string& strServer, EImapSecurity eSecurity)
{
    const auto address = ParseServerAddress(strServer, DefaultImapPort(eSecurity));
    if (!address)
        return Fail(EPollStatus::CannotConnect, "the server setting is not a host name or host:port");
    const auto left = platform::RoundUpToMilliseconds(m_deadline - Clock::now());
    const std::string strHost = ServerText(address->m_strHost);
    switch (m_socket.Connect(address->m_strHost, address->m_nPort, left))
    {
    case platform::EConnectStatus::Connected:
        break;
    case platform::EConnectStatus::CannotResolve:
        return Fail(EPollStatus::CannotConnect, "the name " + strHost + " was not found");
    case platform::EConnectStatus::TimedOut:
        return Fail(EPollStatus::TimedOut, strHost + " did not answer in time");
    case platform::EConnectStatus::Cancelled:
        return Fail(EPollStatus::Cancelled, "cancelled");
    case platform::EConnectStatus::CannotCreate:
    case platform::EConnectStatus::CannotConnect:
        return Fail(EPollStatus::CannotConnect,
                    strHost + " port " + std::to_string(address->m_nPort) + " refused or is unreachable");
    }
    if (eSecurity == EImapSecurity::Tls)
    {
        const EPollStatus eHandshake = Handshake(address->m_strHost);
        if (eHandshake != EPollStatus::Ok)
            return eHandshake;
        (void)m_reader.SwitchTo(*m_pTls);
    }

    SImapResponse greeting;
    const EImapRead eRead = m_reader.Read(greeting, m_deadline);
    if (eRead != EImapRead::Ok)
        return ReadFailure(eRead);
    std::string_view strRest = greeting.Head();
    const std::string_view strStar = NextWord(strRest);
    const std::string strKind = Upper(NextWord(strRest));
    if (strStar != "*" || (strKind != "OK" && strKind != "PREAUTH"))
        return Fail(EPollStatus::CannotConnect,
                    "the mail server turned the connection away: " + ServerText(strRest));
    strRest = platform::TrimStart(strRest, " ");
    const std::string strUpper = Upper(strRest);
    if (strUpper.rfind("[CAPABILITY ", 0) == 0)
        TakeCapabilities(std::string_view(strRest).substr(12, strRest.find(']') - 12));
    if (eSecurity == EImapSecurity::StartTls)
    {
        // Signed in without TLS would leave the mail unprotected.
        if (strKind == "PREAUTH")
            return Fail(EPollStatus::NotSecure, "the mail server opened the session before STARTTLS");
        return StartTls(address->m_strHost);
    }
    m_bAuthenticated = strKind == "PREAUTH";
    return EPollStatus::Ok;
}

EPollStatus CImapLink::Login(const std::string& strLogin, const std::string& strPassword)
{
    if (m_bFailed)
        return EPollStatus::ServerError;
    if (m_bAuthenticated)
        return EPollStatus::Ok;
    if (!m_pTls)
        return Fail(EPollStatus::NotSecure, "a password is only sent over a secure connection");
    if (strLogin.find('\0') != std::string::npos || strPassword.find('\0') != std::string::npos)
        return Fail(EPollStatus::LoginRefused,
                    "the login or password holds a character that IMAP cannot carry");
    if (m_aCapabilities.empty())
    {
        const EPollStatus eStatus = Capabilities();
        if (eStatus != EPollStatus::Ok)
            return eStatus;
    }
    const std::string strWho = ServerText(strLogin);
    const std::string strTag = NextTag();
    SCommandEnd end;
    bool bContinued = false;
    EPollStatus eStatus = EPollStatus::Ok;
    if (!Offers("LOGINDISABLED"))
    {
        // Each argument goes quoted when it can, else as a literal (RFC 3501 4.3), waiting for the
        // server's go-ahead unless it takes LITERAL+ (RFC 7888).
        const bool bLiteralPlus = Offers("LITERAL+");
        bool bEndedEarly = false;
        std::string strPending = strTag + " LOGIN";
        for (const std::string* pArgument : {&strLogin, &strPassword})
        {
            strPending += ' ';
            if (CanQuote(*pArgument))
            {
                strPending += Quote(*pArgument);
                continue;
            }
            strPending += "{" + std::to_string(pArgument->size()) + (bLiteralPlus ? "+}\r\n" : "}\r\n");
            if (!bLiteralPlus)
            {
                eStatus = Send(strPending);
                platform::WipeSecret(strPending);
                if (eStatus == EPollStatus::Ok)
                    eStatus = ReadUntil(strTag, end, {}, true, bContinued);
                if (eStatus != EPollStatus::Ok)
                    return eStatus;
                // The server may end the command instead of taking the literal.
                bEndedEarly = !bContinued;
                if (bEndedEarly)
                    break;
            }
            strPending += *pArgument;
        }
        if (!bEndedEarly)
        {
            strPending += "\r\n";
            eStatus = Send(strPending);
            if (eStatus == EPollStatus::Ok)
                eStatus = ReadUntil(strTag, end, {}, false, bContinued);
        }
        platform::WipeSecret(strPending);
    }
    else if (Offers("AUTH=PLAIN"))
    {
        // RFC 4616: authorization identity (empty), login and password, each ended by a NUL.
        eStatus = Send(strTag + " AUTHENTICATE PLAIN\r\n");
        if (eStatus == EPollStatus::Ok)
            eStatus = ReadUntil(strTag, end, {}, true, bContinued);
        if (eStatus == EPollStatus::Ok && bContinued)
        {
            std::string strPlain = std::string(1, '\0') + strLogin + '\0' + strPassword;
            CBase64Codec codec;
            std::string strLine = codec.Encode(reinterpret_cast<const std::uint8_t*>(strPlain.data()),
                                               static_cast<int>(strPlain.size())) +
                                  "\r\n";
            platform::WipeSecret(strPlain);
            eStatus = Send(strLine);
            platform::WipeSecret(strLine);
            if (eStatus == EPollStatus::Ok)
                eStatus = ReadUntil(strTag, end, {}, false, bContinued);
        }
    }
    else
    {
        return Fail(EPollStatus::LoginRefused, "the mail server offers no sign-in that this program knows");
    }
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (end.m_strKind == "BAD")
        return Fail(EPollStatus::ServerError,
                    "the mail server did not understand the login: " + end.m_strText);
    if (!end.m_bOk)
        return Fail(EPollStatus::LoginRefused, strWho);
    m_bAuthenticated = true;
    return EPollStatus::Ok;
}

EPollStatus CImapLink::Examine(const std::string& strFolder, SImapFolderState& state)
{
    state = {};
    const std::string strName = MailboxName(strFolder);
    if (strName.empty())
        return Fail(EPollStatus::FolderMissing, ServerText(strFolder));
    SCommandEnd end;
    const EPollStatus eStatus =
        Command("EXAMINE " + strName, end,
                [&state](const SImapResponse& response)
                {
                    const std::string& strLine = response.Head();
                    if (const std::uint32_t nValidity = CodeNumber(strLine, "UIDVALIDITY"))
                        state.m_nUidValidity = nValidity;
                    if (const std::uint32_t nNext = CodeNumber(strLine, "UIDNEXT"))
                        state.m_nUidNext = nNext;
                    std::string_view strRest = strLine;
                    NextWord(strRest);
                    std::uint32_t nCount = 0;
                    if (ParseNumber(NextWord(strRest), nCount) && Upper(NextWord(strRest)) == "EXISTS")
                        state.m_nExists = nCount;
                    return EPollStatus::Ok;
                });
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (end.m_strKind == "NO")
        return Fail(EPollStatus::FolderMissing, ServerText(strFolder));
    if (!end.m_bOk)
        return Fail(EPollStatus::ServerError, "the mail server refused EXAMINE: " + end.m_strText);
    if (state.m_nUidValidity == 0)
        return Fail(EPollStatus::ServerError, "the mail server gave the folder no UIDVALIDITY");
    return EPollStatus::Ok;
}

EPollStatus CImapLink::UidSearch(const std::string& strCriteria, std::vector<std::uint32_t>& aUids)
{
    aUids.clear();
    SCommandEnd end;
    const EPollStatus eStatus =
        Command("UID SEARCH " + strCriteria, end,
                [&](const SImapResponse& response)
                {
                    std::string_view strRest = response.Head();
                    NextWord(strRest);
                    if (Upper(NextWord(strRest)) != "SEARCH")
                        return EPollStatus::Ok;
                    while (!platform::TrimStart(strRest, " ").empty())
                    {
                        std::uint32_t nUid = 0;
                        if (!ParseNumber(NextWord(strRest), nUid))
                            return Fail(EPollStatus::ServerError,
                                        "the mail server sent a search result that is not a number");
                        aUids.push_back(nUid);
                    }
                    return EPollStatus::Ok;
                });
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (!end.m_bOk)
        return Fail(EPollStatus::ServerError, "the mail server refused the search: " + end.m_strText);
    std::sort(aUids.begin(), aUids.end());
    aUids.erase(std::unique(aUids.begin(), aUids.end()), aUids.end());
    return EPollStatus::Ok;
}

EPollStatus CImapLink::UidFetch(const std::vector<std::uint32_t>& aAsked, std::size_t nHeaderBytes,
                                std::size_t nTextBytes,
                                const std::function<void(SFetchedMessage&&)>& fnMessage)
{
    std::vector<std::uint32_t> aUids = aAsked;
    std::sort(aUids.begin(), aUids.end());
    if (aUids.empty())
        return EPollStatus::Ok;
    const std::string strItems = "(UID INTERNALDATE BODY.PEEK[HEADER]<0." + std::to_string(nHeaderBytes) +
                                 "> BODY.PEEK[TEXT]<0." + std::to_string(nTextBytes) + ">)";
    std::vector<SImapToken> aTokens;
    SCommandEnd end;
    const EPollStatus eStatus = Command(
        "UID FETCH " + UidSet(aUids) + " " + strItems, end,
        [&](const SImapResponse& response)
        {
            // Only FETCH responses are read further: the text of others ("* OK Still here") may hold
            // anything.
            std::string_view strHead = response.Head();
            NextWord(strHead);
            NextWord(strHead);
            if (Upper(NextWord(strHead)) != "FETCH")
                return EPollStatus::Ok;
            if (!TokenizeResponse(response, aTokens))
                return Fail(EPollStatus::ServerError, "the mail server sent a response that cannot be read");
            if (aTokens.size() < 4 || Upper(aTokens[2].m_strText) != "FETCH")
                return EPollStatus::Ok;
            if (aTokens[3].m_eKind != EImapToken::Open)
                return Fail(EPollStatus::ServerError,
                            "the mail server sent a FETCH response without its list");
            SFetchedMessage message;
            std::size_t i = 4;
            while (i < aTokens.size() && aTokens[i].m_eKind != EImapToken::Close)
            {
                const std::string strName = Upper(aTokens[i].m_strText);
                if (++i >= aTokens.size())
                    break;
                const SImapToken& value = aTokens[i];
                if (value.m_eKind == EImapToken::Open)
                {
                    // A list (FLAGS and the like): skipped, nested lists included.
                    int nDepth = 0;
                    do
                    {
                        nDepth += aTokens[i].m_eKind == EImapToken::Open    ? 1
                                  : aTokens[i].m_eKind == EImapToken::Close ? -1
                                                                            : 0;
                        ++i;
                    } while (i < aTokens.size() && nDepth > 0);
                    continue;
                }
                const bool bNil = value.m_eKind == EImapToken::Atom && Upper(value.m_strText) == "NIL";
                if (strName == "UID")
                    (void)ParseNumber(value.m_strText, message.m_nUid);
                else if (strName == "INTERNALDATE")
                    message.m_nArrival = ParseInternalDate(value.m_strText);
                else if (strName.rfind("BODY[HEADER]", 0) == 0 && !bNil)
                    message.m_strHeader = value.m_strText.substr(0, nHeaderBytes);
                else if (strName.rfind("BODY[TEXT]", 0) == 0 && !bNil)
                    message.m_strText = value.m_strText.substr(0, nTextBytes);
                ++i;
            }
            // A FETCH without UID is news of another kind (flags another client set).
            if (message.m_nUid != 0 && std::binary_search(aUids.begin(), aUids.end(), message.m_nUid))
                fnMessage(std::move(message));
            return EPollStatus::Ok;
        });
    if (eStatus != EPollStatus::Ok)
        return eStatus;
    if (!end.m_bOk)
        return Fail(EPollStatus::ServerError, "the mail server refused the fetch: " + end.m_strText);
    return EPollStatus::Ok;
}

void CImapLink::Logout()
{
    if (!m_bFailed && Stream().IsOpen())
    {
        const Clock::time_point deadline = m_deadline;
        m_deadline = std::min(m_deadline, Clock::now() + LOGOUT_LIMIT);
        SCommandEnd end;
        (void)Command("LOGOUT", end);
        m_deadline = deadline;
    }
    Stream().Close();
}
