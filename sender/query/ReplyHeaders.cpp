#include "sender/query/ReplyHeaders.h"

#include <algorithm>
#include <cctype>

namespace
{

constexpr std::string_view LOCATION_PREFIX = "Location: ";
constexpr std::string_view HTTP_VERSION_PREFIX = "HTTP/";
constexpr std::string_view REALM_PREFIX = "realm=\"";
// A realm is only shown to the user; a longer one is cut.
constexpr std::size_t REALM_MAX = 200;

} // namespace

int StatusOfLine(std::string_view strLine)
{
    if (strLine.substr(0, HTTP_VERSION_PREFIX.size()) != HTTP_VERSION_PREFIX)
        return 0;
    const auto nBlank = strLine.find(' ');
    if (nBlank == std::string_view::npos || strLine.size() < nBlank + 4)
        return 0;
    int nStatus = 0;
    for (const char ch : strLine.substr(nBlank + 1, 3))
    {
        if (ch < '0' || ch > '9')
            return 0;
        nStatus = nStatus * 10 + (ch - '0');
    }
    // Three digits and then the end, a blank or the line end.
    if (strLine.size() > nBlank + 4 && strLine[nBlank + 4] != ' ' && strLine[nBlank + 4] != '\r' &&
        strLine[nBlank + 4] != '\n')
        return 0;
    return nStatus;
}

std::optional<std::string> LocationFromHeaders(std::string_view strHeaders)
{
    const auto nPrefix = strHeaders.find(LOCATION_PREFIX);
    if (nPrefix == std::string_view::npos)
        return std::nullopt;
    std::string_view strTarget = strHeaders.substr(nPrefix + LOCATION_PREFIX.size());
    const auto nLineFeed = strTarget.find('\n');
    if (nLineFeed != std::string_view::npos && nLineFeed >= 1)
        strTarget = strTarget.substr(0, nLineFeed);
    return std::string(strTarget);
}

std::string RealmFromHeaders(std::string_view strHeaders)
{
    const auto it =
        std::search(strHeaders.begin(), strHeaders.end(), REALM_PREFIX.begin(), REALM_PREFIX.end(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    if (it == strHeaders.end())
        return {};
    std::string strRealm;
    for (auto pos = it + static_cast<std::ptrdiff_t>(REALM_PREFIX.size());
         pos != strHeaders.end() && *pos != '"' && *pos != '\r' && *pos != '\n' &&
         strRealm.size() < REALM_MAX;
         ++pos)
    {
        if (static_cast<unsigned char>(*pos) >= 0x20 && *pos != 0x7F)
            strRealm += *pos;
    }
    return strRealm;
}
