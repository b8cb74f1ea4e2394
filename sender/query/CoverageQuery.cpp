#include "sender/query/CoverageQuery.h"

#include "sender/common/Branding.h"
#include "sender/query/InternetException.h"
#include "sender/query/QueryNumber.h"
#include "sender/query/ReplyHeaders.h"
#include "sender/query/TearException.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace
{

constexpr const char* TEXT_NOT_HTTP = "只能使用http://开头的URL地址";
constexpr const char* TEXT_ACCESS_DENIED = "拒绝访问，口令不对";
constexpr const char* TEXT_NO_RESULT =
    "Search result could not be reached, please contact with Quill Technology Co.";

// The name the query introduces itself with, and the one fixed text of extra request
// headers that carries it again together with the types of reply it takes.
constexpr const char* AGENT_NAME = "Quill科技-Vellum";
constexpr std::string_view EXTRA_REQUEST_HEADERS = "Accept: text/*\r\nUser-Agent: Quill科技-Vellum\r\n";

constexpr int HTTP_STATUS_OK = 200;
constexpr int HTTP_STATUS_DENIED = 401;
constexpr int HTTP_STATUS_FIRST_FINAL = 200;

bool IsRedirect(int nStatus)
{
    return nStatus == 301 || nStatus == 302 || nStatus == 303;
}

// A body that did not end on its own nor at the byte cap, but was cut off by a failure.
bool IsCutOff(EBodyEnd eEnd)
{
    return eEnd == EBodyEnd::TimeLimit || eEnd == EBodyEnd::Broken;
}

void InitCurlOnce()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SCurlDeleter
{
    void operator()(CURL* p) const { curl_easy_cleanup(p); }
};
struct SSlistDeleter
{
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
using CurlHandle = std::unique_ptr<CURL, SCurlDeleter>;
using CurlList = std::unique_ptr<curl_slist, SSlistDeleter>;

// The extra request headers as libcurl takes them: one line each, without CR LF. A header
// given here replaces libcurl's own of the same name, so each is sent exactly once.
CurlList ExtraHeaderList()
{
    curl_slist* pList = nullptr;
    std::string_view strRest = EXTRA_REQUEST_HEADERS;
    while (!strRest.empty())
    {
        const auto nEnd = strRest.find("\r\n");
        const std::string strLine(strRest.substr(0, nEnd));
        if (!strLine.empty())
            pList = curl_slist_append(pList, strLine.c_str());
        strRest = nEnd == std::string_view::npos ? std::string_view() : strRest.substr(nEnd + 2);
    }
    return CurlList(pList);
}

// The state of one request while libcurl runs it.
struct STransfer
{
    const SQueryLimits* m_pLimits = nullptr;
    // Which replies of this request have their body read: decided once the headers are in.
    std::function<bool(int)> m_wantsBody;
    std::stop_token m_stopToken;

    int m_nStatus = 0;
    std::string m_strHeaders;
    std::size_t m_nHeaderBytes = 0;
    bool m_bHeadersDone = false;
    bool m_bReadBody = false;
    bool m_bHeadersTooLong = false;
    // The transfer was ended on purpose: after the headers, at a decision or at the byte cap.
    bool m_bStoppedOnPurpose = false;
    std::size_t m_nBodyBytes = 0;
    EBodyEnd m_eBodyEnd = EBodyEnd::NotRead;
    CReplyScanner m_scanner;
};

std::size_t OnHeaderLine(char* pData, std::size_t nSize, std::size_t nCount, void* pUser)
{
    auto& transfer = *static_cast<STransfer*>(pUser);
    const std::size_t nBytes = nSize * nCount;
    // Trailers after a chunked body are not part of the header block.
    if (transfer.m_bHeadersDone)
        return nBytes;
    transfer.m_nHeaderBytes += nBytes;
    if (transfer.m_nHeaderBytes > transfer.m_pLimits->m_nMaxHeaderBytes)
    {
        transfer.m_bHeadersTooLong = true;
        return 0;
    }
    const std::string_view strLine(pData, nBytes);
    // An interim reply (1xx) is followed by another status line: the block starts again.
    if (const int nStatus = StatusOfLine(strLine); nStatus != 0)
    {
        transfer.m_nStatus = nStatus;
        transfer.m_strHeaders.clear();
    }
    transfer.m_strHeaders.append(strLine);
    const bool bEndOfBlock = strLine == "\r\n" || strLine == "\n";
    if (bEndOfBlock && transfer.m_nStatus >= HTTP_STATUS_FIRST_FINAL)
    {
        transfer.m_bHeadersDone = true;
        transfer.m_bReadBody = transfer.m_wantsBody(transfer.m_nStatus);
        if (!transfer.m_bReadBody)
        {
            transfer.m_bStoppedOnPurpose = true;
            return 0;
        }
    }
    return nBytes;
}

std::size_t OnBodyBytes(char* pData, std::size_t nSize, std::size_t nCount, void* pUser)
{
    auto& transfer = *static_cast<STransfer*>(pUser);
    const std::size_t nBytes = nSize * nCount;
    if (!transfer.m_bReadBody)
    {
        transfer.m_bStoppedOnPurpose = true;
        return 0;
    }
    const std::size_t nRoom = transfer.m_pLimits->m_nMaxBodyBytes - transfer.m_nBodyBytes;
    const std::size_t nTaken = std::min(nBytes, nRoom);
    transfer.m_nBodyBytes += nTaken;
    if (transfer.m_scanner.Feed(std::string_view(pData, nTaken)) != EReplyVerdict::Undecided)
    {
        // The rest of the body is never read.
        transfer.m_eBodyEnd = EBodyEnd::Decided;
        transfer.m_bStoppedOnPurpose = true;
        return 0;
    }
    if (nTaken < nBytes)
    {
        transfer.m_eBodyEnd = EBodyEnd::ByteCap;
        transfer.m_bStoppedOnPurpose = true;
        return 0;
    }
    return nBytes;
}

int OnProgress(void* pUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    // libcurl calls this about once a second even while nothing arrives.
    return static_cast<STransfer*>(pUser)->m_stopToken.stop_requested() ? 1 : 0;
}

} // namespace

CCoverageQuery::CCoverageQuery(SCoverageQueryOptions options, AskCredentials askCredentials,
                               ShowMessage showMessage)
    : m_options(std::move(options)), m_askCredentials(std::move(askCredentials)),
      m_showMessage(std::move(showMessage))
{
}

void CCoverageQuery::Show(const std::string& strCaption, const std::string& strText,
                          platform::EMessageIcon eIcon)
{
    if (m_showMessage)
        m_showMessage(strCaption, strText, eIcon);
}

CCoverageQuery::SReply CCoverageQuery::Transfer(void* pCurl, const SHttpUrl& url,
                                                const SCredentials* pCredentials, EStage eStage,
                                                std::stop_token stopToken)
{
    CURL* pHandle = static_cast<CURL*>(pCurl);
    STransfer transfer;
    transfer.m_pLimits = &m_options.m_limits;
    transfer.m_stopToken = stopToken;
    switch (eStage)
    {
    case EStage::First:
        // A 401 is answered with a retry and a redirect is followed: neither body is read.
        transfer.m_wantsBody = [](int nStatus)
        { return nStatus != HTTP_STATUS_DENIED && !IsRedirect(nStatus); };
        break;
    case EStage::Retry:
        // A second 401 is read like any other reply.
        transfer.m_wantsBody = [](int nStatus) { return !IsRedirect(nStatus); };
        break;
    case EStage::RedirectTarget:
        transfer.m_wantsBody = [](int nStatus) { return nStatus == HTTP_STATUS_OK; };
        break;
    }

    const CurlList headers = ExtraHeaderList();
    const std::string strUrl = url.ToString();
    char szError[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(pHandle, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(pHandle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(pHandle, CURLOPT_USERAGENT, AGENT_NAME);
    curl_easy_setopt(pHandle, CURLOPT_HTTPHEADER, headers.get());
    // Redirects are followed by hand, once, and to http only.
    curl_easy_setopt(pHandle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(pHandle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(pHandle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(m_options.m_limits.m_durConnect.count()));
    curl_easy_setopt(pHandle, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(m_options.m_limits.m_durTransfer.count()));
    // Signals belong to the program, not to a worker thread's name lookup.
    curl_easy_setopt(pHandle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(pHandle, CURLOPT_ERRORBUFFER, szError);
    curl_easy_setopt(pHandle, CURLOPT_HEADERFUNCTION, OnHeaderLine);
    curl_easy_setopt(pHandle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(pHandle, CURLOPT_WRITEFUNCTION, OnBodyBytes);
    curl_easy_setopt(pHandle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(pHandle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pHandle, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(pHandle, CURLOPT_XFERINFODATA, &transfer);
    // Credentials go out with this request only, as Basic authentication; the handle is
    // reused, so a request without them clears them.
    if (pCredentials != nullptr)
    {
        curl_easy_setopt(pHandle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(pHandle, CURLOPT_USERNAME, pCredentials->m_strUser.c_str());
        curl_easy_setopt(pHandle, CURLOPT_PASSWORD, pCredentials->m_strPassword.c_str());
    }
    else
    {
        curl_easy_setopt(pHandle, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(pHandle, CURLOPT_PASSWORD, nullptr);
        curl_easy_setopt(pHandle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    }

    const CURLcode eResult = curl_easy_perform(pHandle);
    // Nothing that points into this frame may outlive it.
    curl_easy_setopt(pHandle, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(pHandle, CURLOPT_HTTPHEADER, nullptr);

    if (stopToken.stop_requested())
        throw CInternetException("the query was stopped");
    if (transfer.m_bHeadersTooLong)
        throw CInternetException("the reply's header block is too long");
    const bool bEndedWell = eResult == CURLE_OK || transfer.m_bStoppedOnPurpose;
    if (!transfer.m_bHeadersDone)
    {
        throw CInternetException(szError[0] != '\0' ? std::string(szError)
                                                    : std::string(curl_easy_strerror(eResult)));
    }
    if (transfer.m_bReadBody)
    {
        if (transfer.m_eBodyEnd == EBodyEnd::NotRead)
            transfer.m_eBodyEnd = bEndedWell                            ? EBodyEnd::Ended
                                  : eResult == CURLE_OPERATION_TIMEDOUT ? EBodyEnd::TimeLimit
                                                                        : EBodyEnd::Broken;
        // The unfinished last piece is tested only when the body ended or was read as far as
        // the cap. Where the time limit or a broken connection cut it, it is not what the
        // server sent: "Sorry" may stand in it where the whole line goes on to "accessible".
        if (!IsCutOff(transfer.m_eBodyEnd))
            transfer.m_scanner.Finish();
    }
    SReply reply;
    reply.m_nStatus = transfer.m_nStatus;
    reply.m_strHeaders = std::move(transfer.m_strHeaders);
    reply.m_eBodyEnd = transfer.m_eBodyEnd;
    reply.m_eVerdict = transfer.m_scanner.Verdict();
    if (IsCutOff(reply.m_eBodyEnd))
        reply.m_strError =
            szError[0] != '\0' ? std::string(szError) : std::string(curl_easy_strerror(eResult));
    return reply;
}

SQueryResult CCoverageQuery::Run(const std::string& strNumber, std::stop_token stopToken)
{
    SQueryResult result;
    try
    {
        // The start checks have refused such a number already; a caller that skipped them
        // learns the same.
        if (const auto strRefusal = CheckQueryNumber(strNumber, m_options.m_strHost))
        {
            Show(PRODUCT_NAME, *strRefusal, platform::EMessageIcon::Warning);
            ThrowTearException(CTearException::TEAR_REQUEST_NOT_SET_UP);
        }
        const auto target = ParseHttpUrl(MakeQueryUrl(m_options.m_strHost, strNumber));
        if (!target)
        {
            Show(m_options.m_strAppTitle, TEXT_NOT_HTTP, platform::EMessageIcon::Warning);
            ThrowTearException(CTearException::TEAR_REQUEST_NOT_SET_UP);
        }

        InitCurlOnce();
        const CurlHandle curl(curl_easy_init());
        if (!curl)
            throw CInternetException("the transfer could not be set up");

        SReply reply = Transfer(curl.get(), *target, nullptr, EStage::First, stopToken);
        std::optional<SCredentials> credentials;
        if (reply.m_nStatus == HTTP_STATUS_DENIED)
        {
            if (m_askCredentials)
                credentials = m_askCredentials(target->m_strHost + ":" + std::to_string(target->m_nPort),
                                               RealmFromHeaders(reply.m_strHeaders));
            if (stopToken.stop_requested())
                throw CInternetException("the query was stopped");
            if (!credentials)
            {
                Show(m_options.m_strAppTitle, TEXT_ACCESS_DENIED, platform::EMessageIcon::Warning);
                ThrowTearException(CTearException::TEAR_REQUEST_NOT_SET_UP);
            }
            // Once only: what the retry brings goes on like a first reply, a second 401 included.
            reply = Transfer(curl.get(), *target, &*credentials, EStage::Retry, stopToken);
        }
        if (IsRedirect(reply.m_nStatus))
        {
            const auto strLocation = LocationFromHeaders(reply.m_strHeaders);
            if (!strLocation)
                ThrowTearException(CTearException::TEAR_REDIRECT_NOT_FOLLOWED);
            const auto next = ParseHttpUrl(*strLocation);
            if (!next)
                ThrowTearException(CTearException::TEAR_REDIRECT_NOT_FOLLOWED);
            // The user's password is for the server that asked for it, nobody else.
            const SCredentials* pCredentials =
                credentials && next->SameServer(*target) ? &*credentials : nullptr;
            reply = Transfer(curl.get(), *next, pCredentials, EStage::RedirectTarget, stopToken);
            if (reply.m_nStatus != HTTP_STATUS_OK)
                ThrowTearException(CTearException::TEAR_REDIRECT_NOT_FOLLOWED);
        }

        result.m_eBodyEnd = reply.m_eBodyEnd;
        // A reply whose reading failed is a failed transfer, however much of it arrived: the
        // query ends without a message, as when the server could not be reached at all.
        if (IsCutOff(reply.m_eBodyEnd))
            throw CInternetException(reply.m_strError);
        switch (reply.m_eVerdict)
        {
        case EReplyVerdict::Covered:
            result.m_eOutcome = EQueryOutcome::Covered;
            Show(PRODUCT_NAME, "OK! " + strNumber + " is covered by the free fax service",
                 platform::EMessageIcon::None);
            break;
        case EReplyVerdict::NotCovered:
            result.m_eOutcome = EQueryOutcome::NotCovered;
            Show(PRODUCT_NAME, "Sorry! " + strNumber + " is not covered at present",
                 platform::EMessageIcon::Warning);
            break;
        case EReplyVerdict::Undecided:
            result.m_eOutcome = EQueryOutcome::NoResult;
            Show(PRODUCT_NAME, TEXT_NO_RESULT, platform::EMessageIcon::Warning);
            break;
        }
    }
    catch (const CTearException& e)
    {
        result.m_nTearCode = e.Code();
        result.m_eOutcome = e.Code() == CTearException::TEAR_REQUEST_NOT_SET_UP
                                ? EQueryOutcome::RequestNotSetUp
                                : EQueryOutcome::RedirectNotFollowed;
    }
    catch (const CInternetException& e)
    {
        result.m_eOutcome = EQueryOutcome::TransferFailed;
        result.m_strError = e.what();
    }
    return result;
}
