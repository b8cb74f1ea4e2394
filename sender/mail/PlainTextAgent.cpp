#include "sender/mail/PlainTextAgent.h"

#include <string_view>

namespace
{

constexpr std::string_view WHITE_SPACE = " \t\r\n\v\f";

} // namespace

std::string CPlainTextAgent::GetContentType()
{
    return "text/plain";
}

std::string CPlainTextAgent::BuildPartHeader(const char* /*pszText*/, const char* pszParams)
{
    std::string strHeader =
        "Content-Type: " + GetContentType() + (pszParams != nullptr ? pszParams : "") + "\r\n";
    strHeader += "Content-Transfer-Encoding: 7Bit\r\n";
    strHeader += "\r\n";
    return strHeader;
}

bool CPlainTextAgent::AppendPart(const char* pszText, const char* pszParams, std::string& strBody)
{
    strBody += BuildPartHeader(pszText, pszParams);
    strBody += WrapText(pszText);
    return true;
}

std::string CPlainTextAgent::WrapText(const char* pszText) const
{
    if (pszText == nullptr)
        return {};
    std::string strText = pszText;
    // The limit is compared unsigned, so a negative line length never breaks anything.
    const auto nLimit = static_cast<std::uint32_t>(m_nLineLength);
    std::size_t nBreak = 0; // last space seen; 0 until one is, so the first break goes in front
    std::uint32_t nColumn = 0;
    for (std::size_t i = 0; i < strText.size(); ++i)
    {
        if (strText[i] == ' ')
            nBreak = i;
        if (strText.compare(i, 2, "\r\n") == 0)
            nColumn = 0;
        if (nColumn > nLimit)
        {
            // The white space on both sides of the break gives way to one line break.
            std::size_t nHeadEnd = nBreak;
            while (nHeadEnd > 0 && WHITE_SPACE.find(strText[nHeadEnd - 1]) != std::string_view::npos)
                --nHeadEnd;
            std::size_t nTailStart = nBreak;
            while (nTailStart < strText.size() &&
                   WHITE_SPACE.find(strText[nTailStart]) != std::string_view::npos)
                ++nTailStart;
            strText.replace(nHeadEnd, nTailStart - nHeadEnd, "\r\n");
            nColumn = 0;
        }
        else
            ++nColumn;
    }
    return strText;
}
