#pragma once

#include <filesystem>

namespace platform
{

// The folder that holds the running program (from /proc/self/exe); empty if unknown.
std::filesystem::path ProgramDirectory();

} // namespace platform
