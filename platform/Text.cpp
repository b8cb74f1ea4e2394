#include "platform/Text.h"

#include <cstdio>
#include <cstring>
#include <iterator>

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

std::string PrintableUtf8(std::string_view strText)
{
    static constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD"; // U+FFFD
    std::string strOut;
    strOut.reserve(strText.size());
    std::size_t i = 0;
    while (i < strText.size())
    {
        const auto nLead = static_cast<unsigned char>(strText[i]);
        if (nLead < 0x80)
        {
            // C0 controls and DEL.
            if (nLead < 0x20 || nLead == 0x7F)
                strOut += REPLACEMENT;
            else
                strOut += static_cast<char>(nLead);
            ++i;
            continue;
        }
        // RFC 3629 4: the length and the smallest code point of each sequence length.
        std::size_t nLength = 0;
        char32_t nCode = 0;
        if (nLead >= 0xC2 && nLead <= 0xDF)
        {
            nLength = 2;
            nCode = nLead & 0x1F;
        }
        else if (nLead >= 0xE0 && nLead <= 0xEF)
        {
            nLength = 3;
            nCode = nLead & 0x0F;
        }
        else if (nLead >= 0xF0 && nLead <= 0xF4)
        {
            nLength = 4;
            nCode = nLead & 0x07;
        }
        bool bValid = nLength != 0 && i + nLength <= strText.size();
        for (std::size_t k = 1; bValid && k < nLength; ++k)
        {
            const auto nNext = static_cast<unsigned char>(strText[i + k]);
            bValid = (nNext & 0xC0) == 0x80;
            nCode = (nCode << 6) | (nNext & 0x3F);
        }
        const bool bOverlong = (nLength == 3 && nCode < 0x800) || (nLength == 4 && nCode < 0x10000);
        const bool bSurrogate = nCode >= 0xD800 && nCode <= 0xDFFF;
        const bool bC1Control = nCode >= 0x80 && nCode <= 0x9F;
        if (!bValid || bOverlong || bSurrogate || bC1Control || nCode > 0x10FFFF)
        {
            // One replacement for the lead byte; what follows is looked at afresh.
            strOut += REPLACEMENT;
            ++i;
            continue;
        }
        strOut.append(strText.substr(i, nLength));
        i += nLength;
    }
    return strOut;
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

bool HoldsControlCharacter(std::string_view strText)
{
    for (const char ch : strText)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            return true;
    return false;
}

void WipeSecret(std::string& strSecret)
{
    strSecret.resize(strSecret.capacity());
    volatile char* p = strSecret.data();
    for (std::size_t i = 0; i < strSecret.size(); ++i)
        p[i] = 0;
    strSecret.clear();
}

std::string ByteSizeText(std::uint64_t nBytes)
{
    if (nBytes < 1000)
        return std::to_string(nBytes) + (nBytes == 1 ? " byte" : " bytes");
    constexpr const char* UNITS[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    std::uint64_t nUnit = 1000;
    for (const char* pszUnit : UNITS)
    {
        // Rounded to the nearest tenth, or whole unit, without overflowing near the top.
        const std::uint64_t nTenth = nUnit / 10;
        const std::uint64_t nTenths = nBytes / nTenth + (nBytes % nTenth >= nTenth / 2 ? 1 : 0);
        const std::uint64_t nWhole = nBytes / nUnit + (nBytes % nUnit >= nUnit / 2 ? 1 : 0);
        char text[32];
        if (nTenths < 1000)
        {
            std::snprintf(text, sizeof(text), "%llu.%llu %s", static_cast<unsigned long long>(nTenths / 10),
                          static_cast<unsigned long long>(nTenths % 10), pszUnit);
            return text;
        }
        if (nWhole < 1000 || pszUnit == UNITS[std::size(UNITS) - 1])
        {
            std::snprintf(text, sizeof(text), "%llu %s", static_cast<unsigned long long>(nWhole), pszUnit);
            return text;
        }
        nUnit *= 1000;
    }
    return {};
}

} // namespace platform
