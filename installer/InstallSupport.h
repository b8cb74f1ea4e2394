#pragma once

#include <filesystem>
#include <string>

// What installing and uninstalling share: the closing lines of their messages and the clean-up
// of folders they emptied.
namespace installer
{

inline constexpr const char* WEB_LINE = "Web\xEF\xBC\x9A"
                                        "http://www.vellum-zeru.example/"; // full-width colon
inline constexpr const char* DEVELOPER_LINE = "Developer: Quill Technology";

// Removes the empty folders from folder (or its nearest ancestor that is left) up to, not
// including, stop: what installing made and uninstalling emptied. Nothing above stop is touched.
void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& stop);

} // namespace installer
