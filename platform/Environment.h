#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform
{

// The value of the environment variable pszName, or strDefault when it is unset or empty:
// an empty value counts as unset, as the XDG base directory rules have it.
std::string EnvOr(const char* pszName, std::string_view strDefault = {});

// This process's environment as NAME=value entries, with aEntries put in: each replaces the
// entry of the same name, or is added. For a child that needs a few variables of its own.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& aEntries);

} // namespace platform
