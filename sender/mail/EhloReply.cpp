#include "sender/mail/EhloReply.h"

#include <algorithm>

namespace
{

char ToUpper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

// Splits a line's text after the code into blank-separated words.
std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> aWords;
    std::size_t i = 0;
    while (i < text.size())
    {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        const std::size_t nStart = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (i > nStart)
            aWords.push_back(text.substr(nStart, i - nStart));
    }
    return aWords;
}

std::string Upper(std::string_view word)
{
    std::string strOut(word);
    std::transform(strOut.begin(), strOut.end(), strOut.begin(), ToUpper);
    return strOut;
}

// A plain decimal number without sign; false for anything else, an overflow included.
bool ParseNumber(std::string_view text, std::uint64_t& nValue)
{
    if (text.empty() || text.size() > 19)
        return false;
    nValue = 0;
    for (const char ch : text)
    {
        if (ch < '0' || ch > '9')
            return false;
        nValue = nValue * 10 + static_cast<std::uint64_t>(ch - '0');
    }
    return true;
}

void AddMechanisms(SSmtpExtensions& extensions, const std::vector<std::string_view>& aWords,
                   std::size_t nFirst)
{
    extensions.m_bAuth = true;
    for (std::size_t i = nFirst; i < aWords.size(); ++i)
    {
        std::string strMechanism = Upper(aWords[i]);
        if (!extensions.OffersMechanism(strMechanism))
            extensions.m_aAuthMechanisms.push_back(std::move(strMechanism));
    }
}

} // namespace

bool SSmtpExtensions::OffersMechanism(std::string_view mechanism) const
{
    return std::find(m_aAuthMechanisms.begin(), m_aAuthMechanisms.end(), mechanism) !=
           m_aAuthMechanisms.end();
}

SSmtpExtensions ParseEhloReply(std::string_view reply)
{
    SSmtpExtensions extensions;
    std::size_t nLineStart = 0;
    for (std::size_t nLine = 0; nLine < MAX_EHLO_LINES && nLineStart < reply.size(); ++nLine)
    {
        std::size_t nLineEnd = reply.find('\n', nLineStart);
        if (nLineEnd == std::string_view::npos)
            nLineEnd = reply.size();
        std::string_view line = reply.substr(nLineStart, nLineEnd - nLineStart);
        nLineStart = nLineEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = line.substr(0, MAX_EHLO_LINE_BYTES);
        // The first line carries the server's name, not an extension.
        if (nLine == 0 || line.size() < 4)
            continue;
        const std::vector<std::string_view> aWords = Words(line.substr(4));
        if (aWords.empty())
            continue;
        const std::string strKeyword = Upper(aWords[0]);
        if (strKeyword == "STARTTLS")
            extensions.m_bStartTls = true;
        else if (strKeyword == "AUTH")
            AddMechanisms(extensions, aWords, 1);
        else if (strKeyword.rfind("AUTH=", 0) == 0)
        {
            // Older servers announce "AUTH=LOGIN PLAIN" beside or instead of the standard line.
            std::vector<std::string_view> aMechanisms = aWords;
            aMechanisms[0].remove_prefix(5);
            AddMechanisms(extensions, aMechanisms, aMechanisms[0].empty() ? 1 : 0);
        }
        else if (strKeyword == "SIZE")
        {
            extensions.m_bSize = true;
            std::uint64_t nLimit = 0;
            extensions.m_nSizeLimit = aWords.size() > 1 && ParseNumber(aWords[1], nLimit) ? nLimit : 0;
        }
    }
    return extensions;
}
