// The pieces of the coverage query that need no server: the start checks, splitting URLs,
// finding the redirect target and reading the reply in pieces.

#include "sender/common/Gateway.h"
#include "sender/query/HttpUrl.h"
#include "sender/query/QueryNumber.h"
#include "sender/query/ReplyHeaders.h"
#include "sender/query/ReplyScanner.h"

#include <gtest/gtest.h>

namespace
{

constexpr const char* BLANK = "Sorry, the fax number could not be blank";
constexpr const char* ONLY_DIGITS = "Sorry, only number is adopted for fax number";

TEST(QueryNumber, StartChecksRefuseInTheirOrderAndStripNothing)
{
    EXPECT_EQ(CheckQueryNumber("", GATEWAY_WEB_HOST), BLANK);
    for (const char* pszNumber :
         {" 8675512345", "86755 12345", "+8675512345", "86-755", "８６", "12a", "1\n"})
        EXPECT_EQ(CheckQueryNumber(pszNumber, GATEWAY_WEB_HOST), ONLY_DIGITS) << pszNumber;
    EXPECT_EQ(CheckQueryNumber("0", GATEWAY_WEB_HOST), std::nullopt);
    // A non-digit is reported before the length.
    EXPECT_EQ(CheckQueryNumber(std::string(100, '1') + "x", GATEWAY_WEB_HOST), ONLY_DIGITS);
}

TEST(QueryNumber, TheUrlOfTheGatewayHoldsFifteenDigitsAtMost)
{
    const std::string strLongest(15, '9');
    EXPECT_EQ(MakeQueryUrl(GATEWAY_WEB_HOST, strLongest),
              "http://fax.vellum-gateway.example/cgi-bin/tpcvrfy.pl?destnumber=999999999999999");
    EXPECT_EQ(MakeQueryUrl(GATEWAY_WEB_HOST, strLongest).size(), QUERY_URL_MAX);
    EXPECT_EQ(CheckQueryNumber(strLongest, GATEWAY_WEB_HOST), std::nullopt);
    EXPECT_EQ(CheckQueryNumber(strLongest + "9", GATEWAY_WEB_HOST),
              "Sorry, the fax number could not be longer than 15 digits");
    // Another host leaves a different room.
    EXPECT_EQ(MaxQueryNumberLength("127.0.0.1:8080"), 79u - 7 - 14 - 31);
    EXPECT_EQ(MaxQueryNumberLength(std::string(60, 'h')), 0u);
}

TEST(HttpUrl, SplitsWhatARequestNeeds)
{
    const auto url = ParseHttpUrl("HTTP://Fax.Example:8080/cgi-bin/x.pl?n=1#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->m_strHost, "fax.example");
    EXPECT_EQ(url->m_nPort, 8080);
    EXPECT_EQ(url->m_strObject, "/cgi-bin/x.pl?n=1");
    EXPECT_EQ(url->ToString(), "http://fax.example:8080/cgi-bin/x.pl?n=1");

    EXPECT_EQ(ParseHttpUrl("http://host")->m_strObject, "/");
    EXPECT_EQ(ParseHttpUrl("http://host")->m_nPort, 80);
    EXPECT_EQ(ParseHttpUrl("http://host:")->m_nPort, 80);
    EXPECT_EQ(ParseHttpUrl("http://host?q")->m_strObject, "/?q");
    EXPECT_EQ(ParseHttpUrl("http://[::1]:81/")->ToString(), "http://[::1]:81/");
    EXPECT_EQ(ParseHttpUrl("http://user:pw@host/")->ToString(), "http://host:80/");
    EXPECT_EQ(ParseHttpUrl("http://host/\xC3\xA9")->m_strObject, "/%C3%A9");
}

TEST(HttpUrl, DropsBlanksAndControlsAtTheEndsOnlyAndRefusesTheRest)
{
    // The carriage return a Location header's target keeps from its line end.
    EXPECT_EQ(ParseHttpUrl("http://host/a\r")->m_strObject, "/a");
    EXPECT_EQ(ParseHttpUrl("  http://host/a \r\n")->m_strObject, "/a");
    for (const char* pszUrl :
         {"https://host/", "ftp://host/", "host/a", "/a", "http:/host", "http://", "http://:80/",
          "http://host:0/", "http://host:65536/", "http://host:8x/", "http://ho st/", "http://host/a b",
          "http://host/a\r\nX: y", "http://[::1/", "http://[zz]/", "http://ho\"st/", ""})
        EXPECT_FALSE(ParseHttpUrl(pszUrl)) << pszUrl;
}

TEST(HttpUrl, TheSameServerHasTheSameHostAndPort)
{
    const auto a = *ParseHttpUrl("http://Host:80/a");
    EXPECT_TRUE(a.SameServer(*ParseHttpUrl("http://host/b")));
    EXPECT_FALSE(a.SameServer(*ParseHttpUrl("http://host:81/a")));
    EXPECT_FALSE(a.SameServer(*ParseHttpUrl("http://other/a")));
}

TEST(ReplyHeaders, TheTargetFollowsTheFirstExactLocationPrefixUpToTheLineFeed)
{
    const std::string strBlock = "HTTP/1.1 302 Found\r\nlocation: http://lower/\r\nLocation: http://a/b\r\n"
                                 "Location: http://second/\r\n\r\n";
    EXPECT_EQ(LocationFromHeaders(strBlock), "http://a/b\r");
    EXPECT_EQ(LocationFromHeaders("HTTP/1.1 302 Found\r\nLocation: http://a/\n\n"), "http://a/");
    // A line feed right after the prefix does not cut: the rest of the block follows.
    EXPECT_EQ(LocationFromHeaders("HTTP/1.1 302 Found\r\nLocation: \nServer: x\r\n\r\n"),
              "\nServer: x\r\n\r\n");
    EXPECT_EQ(LocationFromHeaders("HTTP/1.1 302 Found\r\nLocation: \r\n\r\n"), "\r");
    EXPECT_EQ(LocationFromHeaders("HTTP/1.1 302 Found\r\nlocation: http://a/\r\n\r\n"), std::nullopt);
    EXPECT_EQ(LocationFromHeaders("HTTP/1.1 302 Found\r\nLocation:http://a/\r\n\r\n"), std::nullopt);
}

TEST(ReplyHeaders, StatusAndRealm)
{
    EXPECT_EQ(StatusOfLine("HTTP/1.1 302 Found\r\n"), 302);
    EXPECT_EQ(StatusOfLine("HTTP/1.0 200\r\n"), 200);
    EXPECT_EQ(StatusOfLine("HTTP/2 401 \r\n"), 401);
    EXPECT_EQ(StatusOfLine("HTTP/1.1 20 OK\r\n"), 0);
    EXPECT_EQ(StatusOfLine("HTTP/1.1 2000 OK\r\n"), 0);
    EXPECT_EQ(StatusOfLine("Location: HTTP/1.1 302\r\n"), 0);
    EXPECT_EQ(RealmFromHeaders("HTTP/1.1 401 No\r\nWWW-Authenticate: Basic Realm=\"Fax \x01zone\"\r\n\r\n"),
              "Fax zone");
    EXPECT_EQ(RealmFromHeaders("HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"open\r\nX: y\r\n\r\n"),
              "open");
    EXPECT_EQ(RealmFromHeaders("HTTP/1.1 401 No\r\n\r\n"), "");
}

TEST(ReplyScanner, PiecesAreTheSameHoweverTheBytesArrive)
{
    const std::string strBody =
        std::string(1500, 'a') + "\r\n" + std::string(1019, 'b') + "Sorry" + "\n" + "Bingo\n";
    for (const std::size_t nChunk : {std::size_t{1}, std::size_t{7}, std::size_t{1022}, strBody.size()})
    {
        CReplyScanner scanner;
        for (std::size_t nAt = 0; nAt < strBody.size(); nAt += nChunk)
            (void)scanner.Feed(std::string_view(strBody).substr(nAt, nChunk));
        // "Sorry" straddles the first two pieces of its line; "Bingo" decides.
        EXPECT_EQ(scanner.Finish(), EReplyVerdict::Covered) << nChunk;
        EXPECT_EQ(scanner.BytesTaken(), strBody.size()) << nChunk;
    }
}

TEST(ReplyScanner, NothingAfterTheDecidingPieceIsTaken)
{
    CReplyScanner scanner;
    EXPECT_EQ(scanner.Feed("abc\r\nSorry!\r\nBingo\r\n"), EReplyVerdict::NotCovered);
    EXPECT_EQ(scanner.BytesTaken(), 13u);
    EXPECT_EQ(scanner.Feed("Bingo\n"), EReplyVerdict::NotCovered);
    EXPECT_EQ(scanner.BytesTaken(), 13u);

    // A piece of exactly 1022 characters decides as soon as it is full.
    CReplyScanner full;
    EXPECT_EQ(full.Feed(std::string(1017, 'x') + "Bingo"), EReplyVerdict::Covered);
    CReplyScanner pending;
    EXPECT_EQ(pending.Feed(std::string(1016, 'x') + "Bingo"), EReplyVerdict::Undecided);
    EXPECT_EQ(pending.Finish(), EReplyVerdict::Covered);
}

} // namespace
