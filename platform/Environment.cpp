#include "platform/Environment.h"

#include <cstdlib>

namespace platform
{

std::string EnvOr(const char* pszName, std::string_view strDefault)
{
    const char* pszValue = std::getenv(pszName);
    return pszValue != nullptr && *pszValue != '\0' ? std::string(pszValue) : std::string(strDefault);
}

} // namespace platform
