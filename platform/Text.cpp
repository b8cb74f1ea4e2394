#include "platform/Text.h"

#include <cstring>

namespace platform
{

std::string_view TrimStart(std::string_view strText, std::string_view strSet)
{
    const auto nFirst = strText.find_first_not_of(strSet);
    return nFirst == std::string_view::npos ? std::string_view() : strText.substr(nFirst);
}

std::string_view TrimEnd(std::string_view strText, std::string_view strSet)
{
    const auto nLast = strText.find_last_not_of(strSet);
    return nLast == std::string_view::npos ? std::string_view() : strText.substr(0, nLast + 1);
}

std::string_view Trim(std::string_view strText, std::string_view strSet)
{
    return TrimEnd(TrimStart(strText, strSet), strSet);
}

std::string ErrnoText(std::string_view strWhat, int nError)
{
    return std::string(strWhat) + ": " + std::strerror(nError);
}

std::string PrintableText(std::string_view strText, std::size_t nMax)
{
    std::string strOut;
    for (const char ch : strText)
    {
        const auto nByte = static_cast<unsigned char>(ch);
        if (nByte >= 0x80 && nByte < 0xC0)
            continue;
        if (strOut.size() == nMax)
        {
            strOut += "...";
            break;
        }
        strOut += (nByte >= 0x20 && nByte < 0x7F) ? ch : '?';
    }
    return strOut;
}

void WipeSecret(std::string& strSecret)
{
    strSecret.resize(strSecret.capacity());
    volatile char* p = strSecret.data();
    for (std::size_t i = 0; i < strSecret.size(); ++i)
        p[i] = 0;
    strSecret.clear();
}

} // namespace platform
