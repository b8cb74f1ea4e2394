#pragma once

#include "platform/Process.h"

#include <filesystem>
#include <string>

// What installing and uninstalling share: the closing lines of their messages, how a CUPS
// tool's failure is told, and the clean-up of folders they emptied.
namespace installer
{

inline constexpr const char* WEB_LINE = "Web\xEF\xBC\x9A"
                                        "http://www.vellum-zeru.example/"; // full-width colon
inline constexpr const char* DEVELOPER_LINE = "Developer: Quill Technology";

// The first line of a tool's output that says something, past lpadmin's warnings about
// deprecated drivers, which it prints on every call.
std::string FirstLine(const std::string& strText);

// Why a CUPS tool failed: what it said, and how it ended.
std::string ToolFailure(const std::string& strProgram, const platform::SRunResult& result);

// Removes the empty folders from folder (or its nearest ancestor that is left) up to, not
// including, stop: what installing made and uninstalling emptied. Nothing above stop is touched.
void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& stop);

} // namespace installer
