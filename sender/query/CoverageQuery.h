#pragma once

#include "platform/Message.h"
#include "sender/common/Gateway.h"
#include "sender/query/HttpUrl.h"
#include "sender/query/ReplyScanner.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

// Bounds of one coverage query, so that a silent or endless server ends it.
struct SQueryLimits
{
    // Up to an established connection (name resolution included).
    std::chrono::milliseconds m_durConnect{std::chrono::seconds(15)};
    // Each request as a whole, from its start to the last byte read of its reply.
    std::chrono::milliseconds m_durTransfer{std::chrono::seconds(60)};
    // Body bytes read before the reply counts as ended. The gateway's answer is a short page.
    std::size_t m_nMaxBodyBytes = 1024 * 1024;
    // Header bytes of one reply; more than this is a broken reply.
    std::size_t m_nMaxHeaderBytes = 64 * 1024;
};

struct SCoverageQueryOptions
{
    // The web server asked: a host name or address, with ":port" if not 80.
    std::string m_strHost = GATEWAY_WEB_HOST;
    // The caption of the messages shown in the application's name: the program's name.
    std::string m_strAppTitle = "Sendwell";
    SQueryLimits m_limits;
};

struct SCredentials
{
    std::string m_strUser;
    std::string m_strPassword;
};

enum class EQueryOutcome
{
    Covered,
    NotCovered,
    // A reply was read and no piece of it decided.
    NoResult,
    // Torn off with code 1: the request could not be set up (its message was shown).
    RequestNotSetUp,
    // Torn off with code 2: a redirect could not be followed (nothing shown).
    RedirectNotFollowed,
    // The transfer failed before a reply could be read, the reply's body was cut off by the
    // time limit or a broken connection, or the query was stopped (nothing shown).
    TransferFailed,
};

// How the reading of the reply body ended.
enum class EBodyEnd
{
    NotRead,
    Decided,
    Ended,
    ByteCap,
    TimeLimit,
    // The connection broke in the middle of the body.
    Broken,
};

struct SQueryResult
{
    EQueryOutcome m_eOutcome = EQueryOutcome::TransferFailed;
    EBodyEnd m_eBodyEnd = EBodyEnd::NotRead;
    // The code of the tear exception that ended the query, 0 when none did.
    int m_nTearCode = 0;
    // What the transfer reported when it failed.
    std::string m_strError;
};

// Asks the gateway's web server whether a fax number lies in its coverage area: one HTTP
// GET, one retry with a user name and password after a 401, one redirect followed by
// hand, and the reply read until its first deciding line. Every outcome the user learns
// of goes through the message callback, which returns only when the user has closed the
// message. Runs on any thread; the callbacks are called on the thread that runs it.
class CCoverageQuery
{
public:
    // Asked after a 401: the server ("host:port") and the realm it names. Nothing means
    // the user declined.
    using AskCredentials =
        std::function<std::optional<SCredentials>(const std::string& strServer, const std::string& strRealm)>;
    using ShowMessage = std::function<void(const std::string& strCaption, const std::string& strText,
                                           platform::EMessageIcon eIcon)>;

    CCoverageQuery(SCoverageQueryOptions options, AskCredentials askCredentials, ShowMessage showMessage);

    // The fax number must hold digits only (the start checks see to it). A stop request
    // ends the transfer within about a second and shows nothing more.
    [[nodiscard]] SQueryResult Run(const std::string& strNumber, std::stop_token stopToken = {});

private:
    enum class EStage
    {
        First,
        Retry,
        RedirectTarget,
    };
    struct SReply
    {
        int m_nStatus = 0;
        std::string m_strHeaders;
        EBodyEnd m_eBodyEnd = EBodyEnd::NotRead;
        EReplyVerdict m_eVerdict = EReplyVerdict::Undecided;
        // What the transfer reported when the body was cut off.
        std::string m_strError;
    };

    SReply Transfer(void* pCurl, const SHttpUrl& url, const SCredentials* pCredentials, EStage eStage,
                    std::stop_token stopToken);
    void Show(const std::string& strCaption, const std::string& strText, platform::EMessageIcon eIcon);

    SCoverageQueryOptions m_options;
    AskCredentials m_askCredentials;
    ShowMessage m_showMessage;
};
