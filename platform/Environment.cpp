#include "platform/Environment.h"

#include <algorithm>
#include <cstdlib>

extern char** environ;

namespace platform
{

std::string EnvOr(const char* pszName, std::string_view strDefault)
{
    const char* pszValue = std::getenv(pszName);
    return pszValue != nullptr && *pszValue != '\0' ? std::string(pszValue) : std::string(strDefault);
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& aEntries)
{
    std::vector<std::string> aEnvironment;
    for (char** ppEntry = environ; *ppEntry != nullptr; ++ppEntry)
    {
        const std::string_view strEntry = *ppEntry;
        const auto nEquals = strEntry.find('=');
        // The name with its "=", so that NAME does not replace NAME_2.
        const std::string_view strName = strEntry.substr(0, nEquals + 1);
        const bool bReplaced =
            nEquals != std::string_view::npos &&
            std::any_of(aEntries.begin(), aEntries.end(),
                        [&](const std::string& strOwn) { return strOwn.starts_with(strName); });
        if (!bReplaced)
            aEnvironment.emplace_back(strEntry);
    }
    aEnvironment.insert(aEnvironment.end(), aEntries.begin(), aEntries.end());
    return aEnvironment;
}

} // namespace platform
