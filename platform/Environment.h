#pragma once

#include <string>
#include <string_view>

namespace platform
{

// The value of the environment variable pszName, or strDefault when it is unset or empty:
// an empty value counts as unset, as the XDG base directory rules have it.
std::string EnvOr(const char* pszName, std::string_view strDefault = {});

} // namespace platform
