#pragma once

#include "sender/store/ArchiveString.h"

#include <filesystem>
#include <string>

// The settings file quill.cfg in the system directory: three archive strings, the SMTP
// server, the user's e-mail address and the user name, with nothing before, between or
// after them.

inline constexpr const char* SETTINGS_FILE_NAME = "quill.cfg";

std::filesystem::path SettingsPath();

// Reads the three strings. False when the file cannot be opened or is damaged (it ends
// early or announces more than it holds): a damaged file counts as missing, and the
// strings are left as they were.
[[nodiscard]] bool ReadSettings(std::string& strSmtpServer, std::string& strEmail, std::string& strUserName,
                                const std::filesystem::path& path = SettingsPath());
[[nodiscard]] bool ReadSettingsFrom(CArchiveIn& in, std::string& strSmtpServer, std::string& strEmail,
                                    std::string& strUserName);

// The file's bytes for the three strings; nullopt when a text has no archive form.
[[nodiscard]] std::optional<std::string>
EncodeSettings(std::string_view strSmtpServer, std::string_view strEmail, std::string_view strUserName);

// Replaces the file atomically: the old file stays whole unless the new one is complete.
// On failure strError says what went wrong, naming the file.
[[nodiscard]] bool WriteSettings(std::string_view strSmtpServer, std::string_view strEmail,
                                 std::string_view strUserName, std::string& strError,
                                 const std::filesystem::path& path = SettingsPath());
