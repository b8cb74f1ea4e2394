#include "sender/notice/ImapReader.h"

#include <charconv>

namespace
{

constexpr std::size_t RECEIVE_CHUNK_BYTES = 16 * 1024;

// RFC 3501 9: the characters that end an atom. '[' opens a part of it that runs to its ']',
// blanks and parentheses included ("BODY[HEADER.FIELDS (DATE)]").
bool EndsAtom(char ch)
{
    return ch == ' ' || ch == '(' || ch == ')' || ch == '"' || ch == '{' ||
           static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f;
}

// The literal's size when the line ends in "{n}" or "{n+}" (RFC 7888); the line loses it.
bool TakeLiteralSize(std::string& strLine, std::uint64_t& nSize)
{
    if (strLine.empty() || strLine.back() != '}')
        return false;
    const std::size_t nOpen = strLine.rfind('{');
    if (nOpen == std::string::npos)
        return false;
    std::string_view strDigits(strLine.data() + nOpen + 1, strLine.size() - nOpen - 2);
    if (!strDigits.empty() && strDigits.back() == '+')
        strDigits.remove_suffix(1);
    // Twenty digits would not fit; anything longer than a few is refused by the limit anyway.
    if (strDigits.empty() || strDigits.size() > 19)
        return false;
    const auto [pEnd, error] = std::from_chars(strDigits.data(), strDigits.data() + strDigits.size(), nSize);
    if (error != std::errc() || pEnd != strDigits.data() + strDigits.size())
        return false;
    strLine.resize(nOpen);
    return true;
}

} // namespace

bool TokenizeResponse(const SImapResponse& response, std::vector<SImapToken>& aTokens)
{
    aTokens.clear();
    for (std::size_t nPiece = 0; nPiece < response.m_aText.size(); ++nPiece)
    {
        const std::string_view strText = response.m_aText[nPiece];
        std::size_t i = 0;
        while (i < strText.size())
        {
            const char ch = strText[i];
            if (ch == ' ')
            {
                ++i;
            }
            else if (ch == '(' || ch == ')')
            {
                aTokens.push_back({ch == '(' ? EImapToken::Open : EImapToken::Close, strText.substr(i, 1)});
                ++i;
            }
            else if (ch == '"')
            {
                // The token keeps the escapes; quoted values this client reads (dates) hold none.
                std::size_t j = i + 1;
                while (j < strText.size() && strText[j] != '"')
                    j += strText[j] == '\\' ? 2 : 1;
                if (j >= strText.size())
                    return false;
                aTokens.push_back({EImapToken::String, strText.substr(i + 1, j - i - 1)});
                i = j + 1;
            }
            else if (EndsAtom(ch))
            {
                return false;
            }
            else
            {
                std::size_t j = i;
                while (j < strText.size() && !EndsAtom(strText[j]))
                {
                    if (strText[j] == '[')
                    {
                        const std::size_t nClose = strText.find(']', j);
                        if (nClose == std::string_view::npos)
                            return false;
                        j = nClose;
                    }
                    ++j;
                }
                aTokens.push_back({EImapToken::Atom, strText.substr(i, j - i)});
                i = j;
            }
        }
        if (nPiece < response.m_aLiterals.size())
            aTokens.push_back({EImapToken::String, response.m_aLiterals[nPiece]});
    }
    return true;
}

EImapRead CImapReader::Fill(platform::CByteStream::Clock::time_point deadline)
{
    if (m_nRead >= m_limits.m_nMaxSessionBytes)
        return EImapRead::SessionTooBig;
    char buffer[RECEIVE_CHUNK_BYTES];
    std::size_t nReceived = 0;
    switch (m_pStream->Receive(buffer, sizeof buffer, nReceived, deadline))
    {
    case platform::ESocketStatus::Ok:
        break;
    case platform::ESocketStatus::Closed:
        return EImapRead::Closed;
    case platform::ESocketStatus::TimedOut:
        return EImapRead::TimedOut;
    case platform::ESocketStatus::Cancelled:
        return EImapRead::Cancelled;
    case platform::ESocketStatus::Failed:
        return EImapRead::Failed;
    }
    m_nRead += nReceived;
    m_strBuffer.append(buffer, nReceived);
    return EImapRead::Ok;
}

EImapRead CImapReader::Read(SImapResponse& response, platform::CByteStream::Clock::time_point deadline)
{
    response.m_aText.clear();
    response.m_aLiterals.clear();
    std::size_t nTextBytes = 0;
    for (;;)
    {
        // One line: up to its LF (a lone LF is taken as well as CR LF).
        std::size_t nEnd = m_strBuffer.find('\n');
        while (nEnd == std::string::npos)
        {
            // One more for the CR that may come before the LF.
            if (nTextBytes + m_strBuffer.size() > m_limits.m_nMaxLineBytes + 1)
                return EImapRead::LineTooLong;
            const EImapRead eFill = Fill(deadline);
            if (eFill != EImapRead::Ok)
                return eFill;
            nEnd = m_strBuffer.find('\n');
        }
        const std::size_t nLength = nEnd > 0 && m_strBuffer[nEnd - 1] == '\r' ? nEnd - 1 : nEnd;
        if (nTextBytes + nLength > m_limits.m_nMaxLineBytes)
            return EImapRead::LineTooLong;
        std::string strLine = m_strBuffer.substr(0, nEnd);
        m_strBuffer.erase(0, nEnd + 1);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        nTextBytes += strLine.size();

        std::uint64_t nLiteral = 0;
        const bool bLiteral = TakeLiteralSize(strLine, nLiteral);
        response.m_aText.push_back(std::move(strLine));
        if (!bLiteral)
            return EImapRead::Ok;
        if (nLiteral > m_limits.m_nMaxLiteralBytes)
            return EImapRead::LiteralTooBig;

        std::string strLiteral;
        strLiteral.reserve(static_cast<std::size_t>(nLiteral));
        while (strLiteral.size() < nLiteral)
        {
            if (m_strBuffer.empty())
            {
                const EImapRead eFill = Fill(deadline);
                if (eFill != EImapRead::Ok)
                    return eFill;
            }
            const std::size_t nTake = std::min<std::size_t>(
                m_strBuffer.size(), static_cast<std::size_t>(nLiteral) - strLiteral.size());
            strLiteral.append(m_strBuffer, 0, nTake);
            m_strBuffer.erase(0, nTake);
        }
        response.m_aLiterals.push_back(std::move(strLiteral));
    }
}

bool CImapReader::SwitchTo(platform::CByteStream& stream)
{
    m_pStream = &stream;
    const bool bClean = m_strBuffer.empty();
    m_strBuffer.clear();
    return bClean;
}
