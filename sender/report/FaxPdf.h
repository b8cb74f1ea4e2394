#pragma once

#include "sender/record/SentFaxStore.h"

#include <filesystem>
#include <string>
#include <vector>

// Writes every page of a sent fax into one PDF at target, for archiving or forwarding: page n
// is the kept fax page aPages[n - 1], drawn at its true size (1728 pixels at 204 dpi wide, its
// rows at 196 dpi high) as the black-and-white image it is. The PDF replaces target only when
// it is whole; a page that is missing or cannot be decoded leaves target as it was, and
// strError names the fax and the page.
[[nodiscard]] bool WriteFaxPdf(const SSentFax& fax, const std::vector<std::filesystem::path>& aPages,
                               const std::filesystem::path& target, std::string& strError);
