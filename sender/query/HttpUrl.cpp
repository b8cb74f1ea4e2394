#include "sender/query/HttpUrl.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace
{

constexpr std::string_view HTTP_SCHEME = "http";
constexpr std::string_view SCHEME_SEPARATOR = "://";
constexpr int MAX_PORT = 65535;

bool IsBlankOrControl(unsigned char ch)
{
    return ch <= 0x20 || ch == 0x7F;
}

std::string_view Trim(std::string_view str)
{
    while (!str.empty() && IsBlankOrControl(static_cast<unsigned char>(str.front())))
        str.remove_prefix(1);
    while (!str.empty() && IsBlankOrControl(static_cast<unsigned char>(str.back())))
        str.remove_suffix(1);
    return str;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) {
                                                  return std::tolower(static_cast<unsigned char>(x)) ==
                                                         std::tolower(static_cast<unsigned char>(y));
                                              });
}

std::string Lower(std::string_view str)
{
    std::string strLower(str);
    for (char& ch : strLower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return strLower;
}

// RFC 3986 3.2.2: unreserved characters and sub-delimiters; percent-escapes are not needed
// for any host this program talks to and are refused.
bool IsHostNameChar(unsigned char ch)
{
    return std::isalnum(ch) ||
           std::string_view("-._~!$&'()*+,;=").find(static_cast<char>(ch)) != std::string_view::npos;
}

bool IsV6LiteralChar(unsigned char ch)
{
    return std::isxdigit(ch) || ch == ':' || ch == '.';
}

bool ParsePort(std::string_view str, int& nPort)
{
    // RFC 3986 3.2.3: an empty port means the scheme's default.
    if (str.empty())
        return true;
    if (str.size() > 5 ||
        !std::all_of(str.begin(), str.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return false;
    int nValue = 0;
    std::from_chars(str.data(), str.data() + str.size(), nValue);
    if (nValue < 1 || nValue > MAX_PORT)
        return false;
    nPort = nValue;
    return true;
}

bool ParseAuthority(std::string_view strAuthority, SHttpUrl& url)
{
    if (const auto nAt = strAuthority.rfind('@'); nAt != std::string_view::npos)
        strAuthority.remove_prefix(nAt + 1);
    std::string_view strHost;
    std::string_view strPort;
    if (!strAuthority.empty() && strAuthority.front() == '[')
    {
        const auto nClose = strAuthority.find(']');
        if (nClose == std::string_view::npos || nClose < 2)
            return false;
        const std::string_view strLiteral = strAuthority.substr(1, nClose - 1);
        if (!std::all_of(strLiteral.begin(), strLiteral.end(),
                         [](char ch) { return IsV6LiteralChar(static_cast<unsigned char>(ch)); }))
            return false;
        strHost = strAuthority.substr(0, nClose + 1);
        const std::string_view strRest = strAuthority.substr(nClose + 1);
        if (!strRest.empty())
        {
            if (strRest.front() != ':')
                return false;
            strPort = strRest.substr(1);
        }
    }
    else
    {
        const auto nColon = strAuthority.find(':');
        strHost = strAuthority.substr(0, nColon);
        if (nColon != std::string_view::npos)
            strPort = strAuthority.substr(nColon + 1);
        if (strHost.empty() ||
            !std::all_of(strHost.begin(), strHost.end(),
                         [](char ch) { return IsHostNameChar(static_cast<unsigned char>(ch)); }))
            return false;
    }
    url.m_strHost = Lower(strHost);
    return ParsePort(strPort, url.m_nPort);
}

void AppendObject(std::string_view strObject, std::string& strOut)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    if (strObject.empty() || strObject.front() == '?')
        strOut += '/';
    for (const char ch : strObject)
    {
        const auto uch = static_cast<unsigned char>(ch);
        if (uch >= 0x80)
        {
            strOut += '%';
            strOut += HEX[uch >> 4];
            strOut += HEX[uch & 0x0F];
        }
        else
            strOut += ch;
    }
}

} // namespace

std::string SHttpUrl::ToString() const
{
    return std::string(HTTP_SCHEME) + std::string(SCHEME_SEPARATOR) + m_strHost + ":" +
           std::to_string(m_nPort) + m_strObject;
}

bool SHttpUrl::SameServer(const SHttpUrl& other) const
{
    return m_strHost == other.m_strHost && m_nPort == other.m_nPort;
}

std::optional<SHttpUrl> ParseHttpUrl(std::string_view strUrl)
{
    strUrl = Trim(strUrl);
    if (std::any_of(strUrl.begin(), strUrl.end(),
                    [](char ch) { return IsBlankOrControl(static_cast<unsigned char>(ch)); }))
        return std::nullopt;
    const auto nSeparator = strUrl.find(SCHEME_SEPARATOR);
    if (nSeparator == std::string_view::npos || !EqualsNoCase(strUrl.substr(0, nSeparator), HTTP_SCHEME))
        return std::nullopt;
    std::string_view strRest = strUrl.substr(nSeparator + SCHEME_SEPARATOR.size());
    // The fragment stays with the client; it is never sent.
    strRest = strRest.substr(0, strRest.find('#'));
    const auto nObject = strRest.find_first_of("/?");
    SHttpUrl url;
    if (!ParseAuthority(strRest.substr(0, nObject), url))
        return std::nullopt;
    AppendObject(nObject == std::string_view::npos ? std::string_view() : strRest.substr(nObject),
                 url.m_strObject);
    return url;
}
