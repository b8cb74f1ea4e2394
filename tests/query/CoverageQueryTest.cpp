// The coverage query against a scripted HTTP server on loopback: every way a query ends,
// what the server receives, and the messages the user would see.

#include "sender/query/CoverageQuery.h"

#include "sender/common/Gateway.h"
#include "sender/query/QueryNumber.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/UnusedPort.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Server = CScriptedHttpServer;
using Reply = CScriptedHttpServer::SReply;
using platform::EMessageIcon;
using namespace std::chrono_literals;

constexpr const char* NUMBER = "8675512345";
constexpr const char* CAPTION = "Vellum Zeru 3.1";
constexpr const char* NO_RESULT =
    "Search result could not be reached, please contact with Quill Technology Co.";
const std::string COVERED_TEXT = std::string("OK! ") + NUMBER + " is covered by the free fax service";
const std::string NOT_COVERED_TEXT = std::string("Sorry! ") + NUMBER + " is not covered at present";

struct SMessage
{
    std::string m_strCaption;
    std::string m_strText;
    EMessageIcon m_eIcon;
    bool operator==(const SMessage&) const = default;
};

std::ostream& operator<<(std::ostream& os, const SMessage& message)
{
    return os << "[" << message.m_strCaption << " | " << message.m_strText << " | "
              << static_cast<int>(message.m_eIcon) << "]";
}

std::string BasicOf(const std::string& strUserPassword)
{
    static constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string strOut;
    std::size_t i = 0;
    for (; i + 2 < strUserPassword.size(); i += 3)
    {
        const unsigned n = (static_cast<unsigned char>(strUserPassword[i]) << 16) |
                           (static_cast<unsigned char>(strUserPassword[i + 1]) << 8) |
                           static_cast<unsigned char>(strUserPassword[i + 2]);
        for (int nShift : {18, 12, 6, 0})
            strOut += ALPHABET[(n >> nShift) & 63];
    }
    if (const std::size_t nLeft = strUserPassword.size() - i; nLeft > 0)
    {
        unsigned n = static_cast<unsigned char>(strUserPassword[i]) << 16;
        if (nLeft == 2)
            n |= static_cast<unsigned char>(strUserPassword[i + 1]) << 8;
        strOut += ALPHABET[(n >> 18) & 63];
        strOut += ALPHABET[(n >> 12) & 63];
        strOut += nLeft == 2 ? ALPHABET[(n >> 6) & 63] : '=';
        strOut += '=';
    }
    return "Basic " + strOut;
}

class CoverageQueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The loopback servers are asked directly, whatever proxy this machine is set up with.
        for (const char* pszName :
             {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            ::unsetenv(pszName);
        m_options.m_limits.m_durConnect = 5s;
        m_options.m_limits.m_durTransfer = 20s;
        m_options.m_limits.m_nMaxBodyBytes = 64 * 1024;
    }

    SQueryResult Query(const std::string& strHost, const std::string& strNumber = NUMBER)
    {
        m_options.m_strHost = strHost;
        CCoverageQuery query(
            m_options,
            [this](const std::string& strServer, const std::string& strRealm)
            {
                m_aAsked.push_back(strServer + " " + strRealm);
                return m_answer;
            },
            [this](const std::string& strCaption, const std::string& strText, EMessageIcon eIcon) {
                m_aMessages.push_back({strCaption, strText, eIcon});
            });
        return query.Run(strNumber);
    }

    SQueryResult Query(CScriptedHttpServer& server) { return Query(server.HostPort()); }

    // The one message of a query that ends with a reply read.
    void ExpectOnly(const SMessage& message) const
    {
        ASSERT_EQ(m_aMessages.size(), 1u);
        EXPECT_EQ(m_aMessages[0], message);
    }

    SCoverageQueryOptions m_options;
    std::optional<SCredentials> m_answer;
    std::vector<std::string> m_aAsked;
    std::vector<SMessage> m_aMessages;
};

// ---- Reading the reply ----

TEST_F(CoverageQueryTest, BingoAnywhereEvenInMarkupIsCoveredAndTheRequestIsAsAgreed)
{
    CScriptedHttpServer server(
        {Server::Reply(200, "", "<html>\r\n<p>Result: <b class=\"x\">xBingox</b></p>\r\n")});
    const SQueryResult result = Query(server);
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::Covered);
    EXPECT_EQ(result.m_eBodyEnd, EBodyEnd::Decided);
    ExpectOnly({CAPTION, COVERED_TEXT, EMessageIcon::None});

    const auto aRequests = server.Requests();
    ASSERT_EQ(aRequests.size(), 1u);
    const std::string& strRequest = aRequests[0];
    EXPECT_EQ(RequestLine(strRequest),
              std::string("GET /cgi-bin/tpcvrfy.pl?destnumber=") + NUMBER + " HTTP/1.1");
    EXPECT_EQ(HeaderValue(strRequest, "Host"), server.HostPort());
    EXPECT_EQ(HeaderCount(strRequest, "User-Agent"), 1u);
    EXPECT_EQ(HeaderValue(strRequest, "User-Agent"), "Quill科技-Vellum");
    EXPECT_EQ(HeaderCount(strRequest, "Accept"), 1u);
    EXPECT_EQ(HeaderValue(strRequest, "Accept"), "text/*");
    EXPECT_EQ(HeaderCount(strRequest, "Authorization"), 0u);
    EXPECT_TRUE(m_aAsked.empty());
}

TEST_F(CoverageQueryTest, KeywordsAreCaseSensitiveSubstringsTestedInTheirOrder)
{
    struct SCase
    {
        const char* m_pszBody;
        EQueryOutcome m_eOutcome;
    };
    const SCase aCases[] = {
        {"<p>bingo</p>\nBINGO\n", EQueryOutcome::NoResult},
        {"Sorry, but this number is accessible\n", EQueryOutcome::Covered},
        {"Sorry, the number is inaccessible\n", EQueryOutcome::Covered},
        {"Sorry, not here\n", EQueryOutcome::NotCovered},
        {"sorry\n", EQueryOutcome::NoResult},
        // The first deciding line wins; what follows it is never read.
        {"nothing yet\r\nSorry\r\nBingo\r\n", EQueryOutcome::NotCovered},
        {"accessible\nSorry\n", EQueryOutcome::Covered},
        // A last line without a line end is read too.
        {"<html>\n</html>Bingo", EQueryOutcome::Covered},
        {"", EQueryOutcome::NoResult},
    };
    for (const SCase& testCase : aCases)
    {
        SCOPED_TRACE(testCase.m_pszBody);
        m_aMessages.clear();
        CScriptedHttpServer server({Server::Reply(200, "", testCase.m_pszBody)});
        EXPECT_EQ(Query(server).m_eOutcome, testCase.m_eOutcome);
        const SMessage expected = testCase.m_eOutcome == EQueryOutcome::Covered
                                      ? SMessage{CAPTION, COVERED_TEXT, EMessageIcon::None}
                                  : testCase.m_eOutcome == EQueryOutcome::NotCovered
                                      ? SMessage{CAPTION, NOT_COVERED_TEXT, EMessageIcon::Warning}
                                      : SMessage{CAPTION, NO_RESULT, EMessageIcon::Warning};
        ExpectOnly(expected);
    }
}

TEST_F(CoverageQueryTest, AKeywordSplitAcrossTwoPiecesOfALongLineIsNotFound)
{
    // 1020 characters and "Bi" fill the first piece of 1022; "ngo" starts the second.
    const std::string strSplit = std::string(1020, 'x') + "Bingo" + std::string(3000, 'y') + "\r\n";
    CScriptedHttpServer server({Server::Reply(200, "", strSplit)});
    EXPECT_EQ(Query(server).m_eOutcome, EQueryOutcome::NoResult);
    ExpectOnly({CAPTION, NO_RESULT, EMessageIcon::Warning});

    // Carriage returns take no room in a piece: the word still ends the first one.
    m_aMessages.clear();
    const std::string strFits = std::string(1017, 'x') + "\r\r\rBingo" + std::string(3000, 'y') + "\r\n";
    CScriptedHttpServer fits({Server::Reply(200, "", strFits)});
    EXPECT_EQ(Query(fits).m_eOutcome, EQueryOutcome::Covered);

    // The second piece of a long line is tested by itself.
    const std::string strSecond = std::string(1022, 'x') + "Sorry" + std::string(10, 'y');
    CScriptedHttpServer second({Server::Reply(200, "", strSecond)});
    EXPECT_EQ(Query(second).m_eOutcome, EQueryOutcome::NotCovered);
}

TEST_F(CoverageQueryTest, AnyFirstStatusButDenialAndRedirectHasItsBodyRead)
{
    CScriptedHttpServer notFound({Server::Reply(404, "", "<html><h1>Not Found</h1></html>\r\n")});
    EXPECT_EQ(Query(notFound).m_eOutcome, EQueryOutcome::NoResult);
    ExpectOnly({CAPTION, NO_RESULT, EMessageIcon::Warning});

    m_aMessages.clear();
    CScriptedHttpServer serverError({Server::Reply(500, "", "Sorry, try later\r\n")});
    EXPECT_EQ(Query(serverError).m_eOutcome, EQueryOutcome::NotCovered);
    ExpectOnly({CAPTION, NOT_COVERED_TEXT, EMessageIcon::Warning});
}

// ---- Redirects ----

TEST_F(CoverageQueryTest, OneRedirectIsFollowedWithTheSameHeaders)
{
    for (const int nStatus : {301, 302, 303})
    {
        SCOPED_TRACE(nStatus);
        m_aMessages.clear();
        CScriptedHttpServer target({Server::Reply(200, "", "Bingo\r\n")});
        // The CR before the header's line feed stays with the target until the URL is split.
        CScriptedHttpServer first({Server::Reply(
            nStatus, "Location: http://" + target.HostPort() + "/where/it/is?n=1#part\r\n", "moved")});
        EXPECT_EQ(Query(first).m_eOutcome, EQueryOutcome::Covered);
        ExpectOnly({CAPTION, COVERED_TEXT, EMessageIcon::None});
        ASSERT_EQ(target.Requests().size(), 1u);
        const std::string strRequest = target.Requests()[0];
        EXPECT_EQ(RequestLine(strRequest), "GET /where/it/is?n=1 HTTP/1.1");
        EXPECT_EQ(HeaderValue(strRequest, "User-Agent"), "Quill科技-Vellum");
        EXPECT_EQ(HeaderValue(strRequest, "Accept"), "text/*");
        EXPECT_EQ(first.Requests().size(), 1u);
    }
}

TEST_F(CoverageQueryTest, RedirectsThatCannotBeFollowedEndSilently)
{
    CScriptedHttpServer never({Server::Reply(200, "", "Bingo\r\n")});
    const std::string strNever = "http://" + never.HostPort() + "/";
    const std::string aLocations[] = {
        // To https: a redirect to any other scheme ends here.
        "Location: https://" + never.HostPort() + "/\r\n",
        // None at all, or not in the exact form.
        "",
        "location: " + strNever + "\r\n",
        "Location:" + strNever + "\r\n",
        // An empty target, and one that runs into the next header line.
        "Location: \r\n",
        "Location: \nServer: x\r\n",
        // Not a URL.
        "Location: /relative/path\r\n",
        "Location: http://\r\n",
        "Location: http://host:99999/\r\n",
    };
    for (const std::string& strLocation : aLocations)
    {
        SCOPED_TRACE(strLocation);
        CScriptedHttpServer first({Server::Reply(302, strLocation, "moved")});
        const SQueryResult result = Query(first);
        EXPECT_EQ(result.m_eOutcome, EQueryOutcome::RedirectNotFollowed);
        EXPECT_EQ(result.m_nTearCode, 2);
        EXPECT_EQ(first.Requests().size(), 1u);
    }
    EXPECT_TRUE(m_aMessages.empty());
    EXPECT_TRUE(never.Requests().empty());
}

TEST_F(CoverageQueryTest, OnlyOneRedirectIsFollowedAndItsTargetMustAnswer200)
{
    CScriptedHttpServer third({Server::Reply(200, "", "Bingo\r\n")});
    CScriptedHttpServer second({Server::Reply(302, "Location: http://" + third.HostPort() + "/\r\n", ""),
                                Server::Reply(404, "", "Sorry\r\n"), Server::Reply(401, "", "Bingo\r\n")});
    for (int nRun = 0; nRun < 3; ++nRun)
    {
        CScriptedHttpServer first(
            {Server::Reply(302, "Location: http://" + second.HostPort() + "/x\r\n", "")});
        const SQueryResult result = Query(first);
        EXPECT_EQ(result.m_eOutcome, EQueryOutcome::RedirectNotFollowed) << nRun;
        EXPECT_EQ(result.m_nTearCode, 2);
    }
    // The target's 302, 404 and 401 are neither followed, nor read, nor answered.
    EXPECT_EQ(second.Requests().size(), 3u);
    EXPECT_TRUE(third.Requests().empty());
    EXPECT_TRUE(m_aMessages.empty());
    EXPECT_TRUE(m_aAsked.empty());
}

// ---- 401 and the password ----

TEST_F(CoverageQueryTest, A401IsRetriedOnceWithBasicCredentials)
{
    m_answer = SCredentials{"fax user", "pa:ss科"};
    CScriptedHttpServer server({Server::Reply(401, "WWW-Authenticate: Basic realm=\"Coverage\"\r\n", "Bingo"),
                                Server::Reply(200, "", "Bingo\r\n")});
    EXPECT_EQ(Query(server).m_eOutcome, EQueryOutcome::Covered);
    ExpectOnly({CAPTION, COVERED_TEXT, EMessageIcon::None});
    ASSERT_EQ(m_aAsked.size(), 1u);
    EXPECT_EQ(m_aAsked[0], server.HostPort() + " Coverage");
    const auto aRequests = server.Requests();
    ASSERT_EQ(aRequests.size(), 2u);
    EXPECT_EQ(HeaderCount(aRequests[0], "Authorization"), 0u);
    EXPECT_EQ(HeaderValue(aRequests[1], "Authorization"), BasicOf("fax user:pa:ss科"));
    EXPECT_EQ(RequestLine(aRequests[1]), RequestLine(aRequests[0]));
    EXPECT_EQ(HeaderValue(aRequests[1], "User-Agent"), "Quill科技-Vellum");
}

TEST_F(CoverageQueryTest, ASecond401IsNotAskedAgainButHasItsBodyRead)
{
    m_answer = SCredentials{"user", "wrong"};
    CScriptedHttpServer sorry({Server::Reply(401, "", ""), Server::Reply(401, "", "<p>Sorry</p>\r\n")});
    EXPECT_EQ(Query(sorry).m_eOutcome, EQueryOutcome::NotCovered);
    ExpectOnly({CAPTION, NOT_COVERED_TEXT, EMessageIcon::Warning});
    EXPECT_EQ(sorry.Requests().size(), 2u);
    EXPECT_EQ(m_aAsked.size(), 1u);

    m_aMessages.clear();
    CScriptedHttpServer plain({Server::Reply(401, "", ""), Server::Reply(401, "", "<h1>Unauthorized</h1>")});
    EXPECT_EQ(Query(plain).m_eOutcome, EQueryOutcome::NoResult);
    ExpectOnly({CAPTION, NO_RESULT, EMessageIcon::Warning});
    EXPECT_EQ(plain.Requests().size(), 2u);
    EXPECT_EQ(m_aAsked.size(), 2u);
}

TEST_F(CoverageQueryTest, ADeclinedPasswordQuestionTearsTheQueryOffWithItsMessage)
{
    CScriptedHttpServer server({Server::Reply(401, "", "Bingo")});
    const SQueryResult result = Query(server);
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::RequestNotSetUp);
    EXPECT_EQ(result.m_nTearCode, 1);
    EXPECT_EQ(m_aAsked.size(), 1u);
    ExpectOnly({"Sendwell", "拒绝访问，口令不对", EMessageIcon::Warning});
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(CoverageQueryTest, CredentialsFollowARedirectToTheSameServerOnly)
{
    m_answer = SCredentials{"user", "secret"};
    CScriptedHttpServer other({Server::Reply(200, "", "Bingo")});
    CScriptedHttpServer server(
        {Server::Reply(401, "", ""), Server::Reply(302, "Location: http://" + other.HostPort() + "/\r\n", ""),
         Server::Reply(401, "", ""), Server::Reply(302, "Location: HTTP://{SELF}/again\r\n", ""),
         Server::Reply(200, "", "Sorry")});
    EXPECT_EQ(Query(server).m_eOutcome, EQueryOutcome::Covered);
    ASSERT_EQ(other.Requests().size(), 1u);
    EXPECT_EQ(HeaderCount(other.Requests()[0], "Authorization"), 0u);

    EXPECT_EQ(Query(server).m_eOutcome, EQueryOutcome::NotCovered);
    const auto aRequests = server.Requests();
    ASSERT_EQ(aRequests.size(), 5u);
    EXPECT_EQ(RequestLine(aRequests[4]), "GET /again HTTP/1.1");
    EXPECT_EQ(HeaderValue(aRequests[4], "Authorization"), BasicOf("user:secret"));
}

// ---- No answer, slow answers, endless answers ----

TEST_F(CoverageQueryTest, NoServerAtAllEndsSilently)
{
    const SQueryResult result = Query("127.0.0.1:" + std::to_string(UnusedPort()));
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::TransferFailed);
    EXPECT_FALSE(result.m_strError.empty());
    EXPECT_TRUE(m_aMessages.empty());
}

TEST_F(CoverageQueryTest, ASilentServerOrAGarbledReplyEndsSilently)
{
    m_options.m_limits.m_durTransfer = 500ms;
    Reply silent;
    silent.m_eThen = Reply::EThen::Hold;
    Reply halfHead = Server::Head(200, "Content-Type: text/html\r\n");
    halfHead.m_strBytes.resize(halfHead.m_strBytes.size() - 2);
    halfHead.m_eThen = Reply::EThen::Hold;
    Reply garbage;
    garbage.m_strBytes = "Bingo Bingo Bingo\r\n\r\n";
    // Header lines without end: the header block is capped like the body.
    Reply endlessHead = halfHead;
    endlessHead.m_eThen = Reply::EThen::Repeat;
    endlessHead.m_strRepeat = "X-Bingo: " + std::string(200, 'x') + "\r\n";
    std::string strLastError;
    for (const Reply& reply : {silent, halfHead, garbage, endlessHead})
    {
        CScriptedHttpServer server({reply});
        const SQueryResult result = Query(server);
        EXPECT_EQ(result.m_eOutcome, EQueryOutcome::TransferFailed);
        strLastError = result.m_strError;
    }
    EXPECT_EQ(strLastError, "the reply's header block is too long");
    EXPECT_TRUE(m_aMessages.empty());
}

TEST_F(CoverageQueryTest, ABodyCutByTheByteCapIsReadAndOneCutByATimeLimitOrABreakIsNot)
{
    // A head that promises more body than the server sends before it closes the connection.
    auto brokenAfter = [](const std::string& strBody)
    {
        Reply reply = Server::Head(200, "Content-Type: text/html\r\nContent-Length: 100000\r\n");
        reply.m_strBytes += strBody;
        return reply;
    };
    auto endless = [](const std::string& strRepeat, std::chrono::milliseconds durPause)
    {
        Reply reply = Server::Head(200, "Content-Type: text/html\r\n");
        reply.m_eThen = Reply::EThen::Repeat;
        reply.m_strRepeat = strRepeat;
        reply.m_durPause = durPause;
        return reply;
    };
    Reply heldInALine = Server::Head(200, "Content-Type: text/html\r\n");
    heldInALine.m_strBytes += "<p>Bingo";
    heldInALine.m_eThen = Reply::EThen::Hold;

    struct SCase
    {
        const char* m_pszName;
        Reply m_reply;
        EBodyEnd m_eEnd;
        EQueryOutcome m_eOutcome;
    };
    const SCase aCases[] = {
        {"endless line", endless(std::string(4096, 'x'), 0ms), EBodyEnd::ByteCap, EQueryOutcome::NoResult},
        {"endless lines", endless("<p>still looking</p>\r\n", 0ms), EBodyEnd::ByteCap,
         EQueryOutcome::NoResult},
        {"dripping lines", endless("<p>still looking</p>\r\n", 50ms), EBodyEnd::TimeLimit,
         EQueryOutcome::TransferFailed},
        // A failed read is a failed read, even where the unfinished line that was cut holds a
        // keyword: "Sorry" could have gone on to "accessible".
        {"time limit in a line", heldInALine, EBodyEnd::TimeLimit, EQueryOutcome::TransferFailed},
        {"broken after a line", brokenAfter("<p>still looking</p>\r\n"), EBodyEnd::Broken,
         EQueryOutcome::TransferFailed},
        {"broken in a line", brokenAfter("<p>Sorry, but this number is"), EBodyEnd::Broken,
         EQueryOutcome::TransferFailed},
    };
    m_options.m_limits.m_durTransfer = 1500ms;
    for (const SCase& testCase : aCases)
    {
        SCOPED_TRACE(testCase.m_pszName);
        m_aMessages.clear();
        CScriptedHttpServer server({testCase.m_reply});
        const SQueryResult result = Query(server);
        EXPECT_EQ(result.m_eOutcome, testCase.m_eOutcome);
        EXPECT_EQ(result.m_eBodyEnd, testCase.m_eEnd);
        if (testCase.m_eOutcome == EQueryOutcome::NoResult)
        {
            ExpectOnly({CAPTION, NO_RESULT, EMessageIcon::Warning});
        }
        else
        {
            EXPECT_TRUE(m_aMessages.empty());
            EXPECT_FALSE(result.m_strError.empty());
        }
    }
}

TEST_F(CoverageQueryTest, TheDecidingLineEndsTheReadingAtOnce)
{
    // The server would hold the rest of the body back until after the time limit.
    Reply decided = Server::Head(200, "Content-Length: 100000\r\n");
    decided.m_strBytes += "<p>Sorry</p>\r\n";
    decided.m_eThen = Reply::EThen::Hold;
    CScriptedHttpServer server({decided});
    const SQueryResult result = Query(server);
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::NotCovered);
    EXPECT_EQ(result.m_eBodyEnd, EBodyEnd::Decided);
}

TEST_F(CoverageQueryTest, AStopRequestEndsARunningQueryWithoutAMessage)
{
    Reply silent;
    silent.m_eThen = Reply::EThen::Hold;
    CScriptedHttpServer server({silent});
    m_options.m_strHost = server.HostPort();
    std::stop_source stop;
    std::thread stopper(
        [&]
        {
            if (server.WaitForRequests(1))
                stop.request_stop();
        });
    CCoverageQuery query(m_options, nullptr,
                         [this](const std::string& strCaption, const std::string& strText, EMessageIcon eIcon)
                         {
                             m_aMessages.push_back({strCaption, strText, eIcon});
                         });
    const SQueryResult result = query.Run(NUMBER, stop.get_token());
    stopper.join();
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::TransferFailed);
    EXPECT_EQ(result.m_eBodyEnd, EBodyEnd::NotRead);
    EXPECT_TRUE(m_aMessages.empty());
}

// ---- Setting the request up ----

TEST_F(CoverageQueryTest, AHostThatMakesNoHttpUrlTearsTheQueryOffWithItsMessage)
{
    for (const char* pszHost : {"", "bad host", "host:0", "[::1"})
    {
        SCOPED_TRACE(pszHost);
        m_aMessages.clear();
        const SQueryResult result = Query(pszHost);
        EXPECT_EQ(result.m_eOutcome, EQueryOutcome::RequestNotSetUp);
        EXPECT_EQ(result.m_nTearCode, 1);
        ExpectOnly({"Sendwell", "只能使用http://开头的URL地址", EMessageIcon::Warning});
    }
}

TEST_F(CoverageQueryTest, ANumberTheStartChecksRefuseIsNotQueriedEither)
{
    CScriptedHttpServer server({});
    EXPECT_EQ(Query(server.HostPort(), "12 34").m_eOutcome, EQueryOutcome::RequestNotSetUp);
    ExpectOnly({CAPTION, "Sorry, only number is adopted for fax number", EMessageIcon::Warning});
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(CoverageQueryTest, TheSingleDigitZeroIsQueriedAsItStands)
{
    CScriptedHttpServer server({Server::Reply(200, "", "Bingo")});
    EXPECT_EQ(Query(server.HostPort(), "0").m_eOutcome, EQueryOutcome::Covered);
    ExpectOnly({CAPTION, "OK! 0 is covered by the free fax service", EMessageIcon::None});
    EXPECT_EQ(RequestLine(server.Requests().at(0)), "GET /cgi-bin/tpcvrfy.pl?destnumber=0 HTTP/1.1");
}

TEST_F(CoverageQueryTest, TheGatewayIsAskedThroughTheProxyOfTheEnvironment)
{
    CScriptedHttpServer proxy({Server::Reply(200, "", "Bingo")});
    ::setenv("http_proxy", ("http://" + proxy.HostPort()).c_str(), 1);
    const SQueryResult result = Query(GATEWAY_WEB_HOST, "861234567890123");
    ::unsetenv("http_proxy");
    EXPECT_EQ(result.m_eOutcome, EQueryOutcome::Covered);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(RequestLine(proxy.Requests()[0]),
              "GET http://fax.vellum-gateway.example/cgi-bin/tpcvrfy.pl?destnumber=861234567890123 HTTP/1.1");
    EXPECT_EQ(HeaderValue(proxy.Requests()[0], "User-Agent"), "Quill科技-Vellum");
}

} // namespace
