#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Replaces a file with new bytes atomically: a temporary file beside it, flushed, then
// renamed over it, so that a crash or a full disk leaves the old file whole. What the store
// keeps (servers, addresses, recipients) is the user's alone: the new file is readable by
// its owner only, whatever mode the old one had, and a folder made because it was missing
// (nothing may have been installed into it yet) is the owner's only too. On failure
// strError says what went wrong, naming the file.
[[nodiscard]] bool ReplaceFile(const std::filesystem::path& path, std::string_view strBytes,
                               std::string& strError);
