#pragma once

#include "sender/cover/CoverRequest.h"
#include "sender/store/ProviderSettings.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The main dialog's cover page: which template the settings name and what the page says.

// The template a setting names: empty is the default template, anything else a file name
// in the user's cover folder (a path written by hand is taken as it is).
std::filesystem::path CoverTemplatePath(const std::string& strSetting);

// The sender's part of a cover page from the settings. A name or address left empty in the
// cover's settings is the user name or e-mail address that the mail is sent with.
void FillCoverSender(SCoverFields& fields, const SProviderSettings& provider, const std::string& strUserName,
                     const std::string& strEmail);

// Reads the request's template and draws the page into raster (platform::RASTER_BYTES bytes
// of a page raster file). On failure strError says why, naming the template.
[[nodiscard]] bool DrawCoverRequest(const SCoverRequest& request, std::vector<std::uint8_t>& raster,
                                    std::string& strError);
