#pragma once

#include "sender/record/SentFaxStore.h"
#include "sender/send/SendOperation.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What Sendwell does with the faxes it sent, without a window: keeping a record of a send
// the server took, reading a kept fax page back into a page raster, and putting a kept fax's
// pages back into the drive root so that the main dialog can send them again.

// Records the fax of a send that the server took (result.m_eOutcome == Sent): its fields and
// a copy of the fax page files it carried (result.m_aPageFiles, else 1 to result.m_nPages in
// the drive root). False with strError when
// the record could not be kept; the fax has gone out all the same.
[[nodiscard]] bool KeepSentFax(const std::string& strRecipient, const std::string& strFaxNumber,
                               const std::string& strGatewayAddress, const SSendResult& result,
                               const SSentFaxLimits& limits, std::string& strError,
                               const std::filesystem::path& folder = SentFaxFolder());

// A fax page file (TIFF Class F, 1728 x 2200) read through libtiff as a page raster:
// platform::RASTER_BYTES bytes, RASTER_BLACK or RASTER_WHITE, the first 1700 columns of
// each row. Nullopt with strError for a file that is not such a page.
std::optional<std::vector<std::uint8_t>> ReadFaxPageRaster(const std::filesystem::path& path,
                                                           std::string& strError);

// Puts the pages of a kept fax into the drive root as the printer does (every raster first,
// the page-count file last), so that a reader never sees a count without its rasters. The
// cover page of a fax sent with one is left out: a send again draws it anew. On failure the
// page files there stay as they were.
[[nodiscard]] bool RestoreSentPages(const CSentFaxStore& store, const SSentFax& fax, std::string& strError);
