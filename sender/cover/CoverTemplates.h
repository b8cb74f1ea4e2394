#pragma once

#include <filesystem>
#include <vector>

// Where cover templates come from: the default one installed with the programs, and the user's
// own in a folder of their system directory.

// The default template's file name beside the programs (platform::InstalledFile).
inline constexpr const char* DEFAULT_COVER_TEMPLATE = "Cover.svg";
// The user's templates: *.svg files in this folder of the system directory.
inline constexpr const char* USER_COVER_FOLDER = "covers";

std::filesystem::path DefaultCoverTemplate();
std::filesystem::path UserCoverFolder();

// The templates to choose from: the default first, then the user's, sorted by file name. Only
// lists them: each is checked when it is read.
std::vector<std::filesystem::path> AvailableCoverTemplates();
std::vector<std::filesystem::path> AvailableCoverTemplates(const std::filesystem::path& defaultTemplate,
                                                           const std::filesystem::path& userFolder);
