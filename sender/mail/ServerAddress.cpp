#include "sender/mail/ServerAddress.h"

#include "platform/Text.h"

#include <algorithm>

namespace
{

constexpr int MAX_PORT = 65535;

std::optional<int> ParsePort(std::string_view strPort)
{
    if (strPort.empty() || strPort.size() > 5)
        return std::nullopt;
    int nPort = 0;
    for (const char ch : strPort)
    {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        nPort = nPort * 10 + (ch - '0');
    }
    if (nPort < 1 || nPort > MAX_PORT)
        return std::nullopt;
    return nPort;
}

} // namespace

std::optional<SServerAddress> ParseServerAddress(std::string_view strText, int nDefaultPort)
{
    strText = platform::Trim(strText);
    SServerAddress address;
    address.m_nPort = nDefaultPort;
    std::string_view strHost = strText;

    if (!strText.empty() && strText.front() == '[')
    {
        const auto nClose = strText.find(']');
        if (nClose == std::string_view::npos)
            return std::nullopt;
        strHost = strText.substr(1, nClose - 1);
        const std::string_view strRest = strText.substr(nClose + 1);
        if (!strRest.empty())
        {
            if (strRest.front() != ':')
                return std::nullopt;
            const auto nPort = ParsePort(strRest.substr(1));
            if (!nPort)
                return std::nullopt;
            address.m_nPort = *nPort;
        }
    }
    else if (std::count(strText.begin(), strText.end(), ':') == 1)
    {
        const auto nColon = strText.find(':');
        strHost = strText.substr(0, nColon);
        const auto nPort = ParsePort(strText.substr(nColon + 1));
        if (!nPort)
            return std::nullopt;
        address.m_nPort = *nPort;
    }

    if (strHost.empty() || strHost.find_first_of(" \t[]") != std::string_view::npos)
        return std::nullopt;
    address.m_strHost = std::string(strHost);
    return address;
}
