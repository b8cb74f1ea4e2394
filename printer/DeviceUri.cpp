#include "printer/DeviceUri.h"

#include <charconv>
#include <limits>

namespace driver
{

namespace
{

constexpr std::string_view UID_FIELD = "uid=";

bool IsUnreserved(unsigned char ch)
{
    // RFC 3986 2.3, plus the slash that separates the path's segments.
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
           ch == '.' || ch == '_' || ch == '~' || ch == '/';
}

int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

} // namespace

std::string SDeviceUri::Format() const
{
    if (IsShared())
        return std::string(SHARED_DEVICE_URI);
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string strUri(DEVICE_SCHEME);
    strUri += ':';
    for (unsigned char ch : m_root.string())
    {
        if (IsUnreserved(ch))
            strUri += static_cast<char>(ch);
        else
        {
            strUri += '%';
            strUri += HEX[ch >> 4];
            strUri += HEX[ch & 0xF];
        }
    }
    strUri += '?';
    strUri += UID_FIELD;
    strUri += std::to_string(*m_nUid);
    return strUri;
}

std::optional<SDeviceUri> SDeviceUri::Parse(std::string_view strUri, std::string& strError)
{
    if (strUri == SHARED_DEVICE_URI)
        return SDeviceUri{};
    const std::string strPrefix = std::string(DEVICE_SCHEME) + ":";
    if (strUri.substr(0, strPrefix.size()) != strPrefix)
    {
        strError = "the device URI does not start with " + strPrefix;
        return std::nullopt;
    }
    std::string_view rest = strUri.substr(strPrefix.size());
    // "vellumfax:///path" (an empty host) means the same as "vellumfax:/path".
    if (rest.substr(0, 3) == "///")
        rest.remove_prefix(2);
    const std::size_t nQuery = rest.find('?');
    if (nQuery == std::string_view::npos)
    {
        strError = "the device URI names no user (uid=)";
        return std::nullopt;
    }
    const std::string_view encodedPath = rest.substr(0, nQuery);
    const std::string_view query = rest.substr(nQuery + 1);

    std::string strPath;
    for (std::size_t i = 0; i < encodedPath.size(); ++i)
    {
        char ch = encodedPath[i];
        if (ch == '%')
        {
            const bool bComplete = i + 2 < encodedPath.size();
            const int nHigh = bComplete ? HexValue(encodedPath[i + 1]) : -1;
            const int nLow = bComplete ? HexValue(encodedPath[i + 2]) : -1;
            if (nHigh < 0 || nLow < 0)
            {
                strError = "the device URI has a broken %-escape";
                return std::nullopt;
            }
            ch = static_cast<char>(nHigh * 16 + nLow);
            i += 2;
        }
        if (ch == '\0')
        {
            strError = "the device URI's folder contains a NUL character";
            return std::nullopt;
        }
        strPath += ch;
    }
    if (strPath.empty() || strPath[0] != '/')
    {
        strError = "the device URI's folder is not an absolute path";
        return std::nullopt;
    }

    if (query.substr(0, UID_FIELD.size()) != UID_FIELD)
    {
        strError = "the device URI names no user (uid=)";
        return std::nullopt;
    }
    const std::string_view digits = query.substr(UID_FIELD.size());
    unsigned long long nUid = 0;
    const auto [pEnd, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), nUid);
    if (digits.empty() || ec != std::errc() || pEnd != digits.data() + digits.size() ||
        nUid >= std::numeric_limits<uid_t>::max())
    {
        strError = "the device URI's user id is not a number";
        return std::nullopt;
    }

    SDeviceUri uri;
    uri.m_root = strPath;
    uri.m_nUid = static_cast<uid_t>(nUid);
    return uri;
}

} // namespace driver
