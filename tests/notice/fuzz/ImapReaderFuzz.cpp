// libFuzzer target: the IMAP response reader on any bytes from the server, handed out in pieces.

#include "sender/notice/ImapReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace
{

// Small bounds, so that short inputs reach every one of them.
constexpr std::size_t MAX_LINE_BYTES = 256;
constexpr std::size_t MAX_LITERAL_BYTES = 128;
constexpr std::uint64_t MAX_SESSION_BYTES = 2048;
constexpr std::size_t MAX_PIECE_BYTES = 16;

// The server's bytes, at most nPiece at a time, then the peer closes.
class CMemoryStream : public platform::CByteStream
{
public:
    CMemoryStream(std::string_view strBytes, std::size_t nPiece) : m_strBytes(strBytes), m_nPiece(nPiece) {}
    platform::ESocketStatus SendAll(std::string_view, std::chrono::milliseconds) override
    {
        return platform::ESocketStatus::Ok;
    }
    platform::ESocketStatus Receive(char* pBuffer, std::size_t nCapacity, std::size_t& nReceived,
                                    Clock::time_point) override
    {
        if (m_nAt == m_strBytes.size())
            return platform::ESocketStatus::Closed;
        nReceived = std::min({nCapacity, m_strBytes.size() - m_nAt, m_nPiece});
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
    std::string_view m_strBytes;
    std::size_t m_nPiece;
    std::size_t m_nAt = 0;
};

bool Within(std::string_view strPart, const std::string& strWhole)
{
    const std::less_equal<const char*> notAfter;
    return notAfter(strWhole.data(), strPart.data()) &&
           notAfter(strPart.data() + strPart.size(), strWhole.data() + strWhole.size());
}

// Every token points into one piece of the response.
bool TokensWithin(const SImapResponse& response, const std::vector<SImapToken>& aTokens)
{
    for (const SImapToken& token : aTokens)
    {
        const auto inPiece = [&](const std::string& strPiece) { return Within(token.m_strText, strPiece); };
        if (std::none_of(response.m_aText.begin(), response.m_aText.end(), inPiece) &&
            std::none_of(response.m_aLiterals.begin(), response.m_aLiterals.end(), inPiece))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const std::string_view strBytes(reinterpret_cast<const char*>(pData), nSize);
    // The first byte also picks how the bytes arrive, so that a line or literal breaks anywhere.
    const std::size_t nPiece = nSize > 0 ? pData[0] % MAX_PIECE_BYTES + 1 : 1;
    CMemoryStream stream(strBytes, nPiece);
    SImapLimits limits;
    limits.m_nMaxLineBytes = MAX_LINE_BYTES;
    limits.m_nMaxLiteralBytes = MAX_LITERAL_BYTES;
    limits.m_nMaxSessionBytes = MAX_SESSION_BYTES;
    CImapReader reader(stream, limits);

    // Each response takes a line end at least: more responses than bytes would be a loop.
    for (std::size_t nResponses = 0;; ++nResponses)
    {
        if (nResponses > nSize)
            std::abort();
        SImapResponse response;
        const EImapRead eRead = reader.Read(response, CMemoryStream::Clock::now());
        // The session bound is checked before each receive, so one piece may pass it.
        if (reader.BytesRead() > MAX_SESSION_BYTES + nPiece || reader.BytesRead() > nSize)
            std::abort();
        if (eRead != EImapRead::Ok)
            break;
        if (response.m_aText.size() != response.m_aLiterals.size() + 1)
            std::abort();
        std::size_t nTextBytes = 0;
        for (const std::string& strPiece : response.m_aText)
            nTextBytes += strPiece.size();
        if (nTextBytes > MAX_LINE_BYTES)
            std::abort();
        for (const std::string& strLiteral : response.m_aLiterals)
            if (strLiteral.size() > MAX_LITERAL_BYTES)
                std::abort();
        std::vector<SImapToken> aTokens;
        if (TokenizeResponse(response, aTokens) && !TokensWithin(response, aTokens))
            std::abort();
    }
    return 0;
}
