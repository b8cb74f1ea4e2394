#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Replaces a file with new bytes atomically: a temporary file beside it, flushed, then
// renamed over it, so that a crash or a full disk leaves the old file whole. The folder
// is made first when it is missing (nothing may have been installed into it yet). On
// failure strError says what went wrong, naming the file.
[[nodiscard]] bool ReplaceFile(const std::filesystem::path& path, std::string_view strBytes,
                               std::string& strError);
