// The response reader on bytes in memory: literals, bounds and a stream that ends too soon.
#include "sender/notice/ImapReader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

// Hands out its bytes a few at a time, then reports the peer closed.
class CMemoryStream : public platform::CByteStream
{
public:
    explicit CMemoryStream(std::string strBytes) : m_strBytes(std::move(strBytes)) {}
    platform::ESocketStatus SendAll(std::string_view, std::chrono::milliseconds) override
    {
        return platform::ESocketStatus::Ok;
    }
    platform::ESocketStatus Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                    Clock::time_point) override
    {
        if (m_nAt == m_strBytes.size())
            return platform::ESocketStatus::Closed;
        nReceived = std::min({nCapacity, m_strBytes.size() - m_nAt, std::size_t{7}});
        std::memcpy(pBuffer, m_strBytes.data() + m_nAt, nReceived);
        m_nAt += nReceived;
        return platform::ESocketStatus::Ok;
    }
    std::uint64_t BytesWritten() const override { return 0; }
    std::uint64_t BytesAcknowledged() const override { return 0; }
    bool IsOpen() const override { return true; }
    void Close() override {}
    void Abort() override {}

private:
    std::string m_strBytes;
    std::size_t m_nAt = 0;
};

struct SReadCase
{
    const char* m_pszName;
    std::string m_strBytes;
    EImapRead m_eRead;
};

TEST(ImapReaderTest, BoundsEveryPartOfAResponse)
{
    SImapLimits limits;
    limits.m_nMaxLineBytes = 40;
    limits.m_nMaxLiteralBytes = 10;
    limits.m_nMaxSessionBytes = 60;
    const SReadCase CASES[] = {
        {"line at its limit", "* " + std::string(38, 'a') + "\r\n", EImapRead::Ok},
        {"line past its limit", "* " + std::string(39, 'a') + "\r\n", EImapRead::LineTooLong},
        {"line without an end", "* " + std::string(60, 'a'), EImapRead::LineTooLong},
        {"literal past its limit", "* 1 FETCH (BODY[TEXT] {11}\r\n", EImapRead::LiteralTooBig},
        {"literal of 2^31", "* 1 FETCH (BODY[TEXT] {2147483648}\r\n", EImapRead::LiteralTooBig},
        {"literal cut off", "* 1 FETCH (BODY[TEXT] {10}\r\nabc", EImapRead::Closed},
        {"session past its limit",
         "* 1 FETCH (A {10}\r\n0123456789 B {10}\r\n0123456789 C {10}\r\n0123456789)\r\n",
         EImapRead::SessionTooBig},
    };
    for (const SReadCase& test : CASES)
    {
        CMemoryStream stream(test.m_strBytes);
        CImapReader reader(stream, limits);
        SImapResponse response;
        EXPECT_EQ(reader.Read(response, CMemoryStream::Clock::now()), test.m_eRead) << test.m_pszName;
    }
}

TEST(ImapReaderTest, TokensHoldLiteralsAndBracketedNames)
{
    CMemoryStream stream("* 3 FETCH (UID 5 FLAGS (\\Seen) INTERNALDATE \"09-Dec-2026 22:07:35 +0000\" "
                         "BODY[HEADER.FIELDS (DATE)]<0> {5}\r\nab\r\nc BODY[TEXT]<0> NIL)\r\nv1 OK done\r\n");
    CImapReader reader(stream, SImapLimits());
    SImapResponse response;
    ASSERT_EQ(reader.Read(response, CMemoryStream::Clock::now()), EImapRead::Ok);
    std::vector<SImapToken> aTokens;
    ASSERT_TRUE(TokenizeResponse(response, aTokens));
    std::vector<std::string> aTexts;
    for (const SImapToken& token : aTokens)
        aTexts.emplace_back(token.m_strText);
    const std::vector<std::string> EXPECTED = {"*",
                                               "3",
                                               "FETCH",
                                               "(",
                                               "UID",
                                               "5",
                                               "FLAGS",
                                               "(",
                                               "\\Seen",
                                               ")",
                                               "INTERNALDATE",
                                               "09-Dec-2026 22:07:35 +0000",
                                               "BODY[HEADER.FIELDS (DATE)]<0>",
                                               "ab\r\nc",
                                               "BODY[TEXT]<0>",
                                               "NIL",
                                               ")"};
    EXPECT_EQ(aTexts, EXPECTED);
    ASSERT_EQ(reader.Read(response, CMemoryStream::Clock::now()), EImapRead::Ok);
    EXPECT_EQ(response.Head(), "v1 OK done");
}

} // namespace
