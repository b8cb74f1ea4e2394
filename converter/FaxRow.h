#pragma once

#include "platform/PageFiles.h"

// The fax side of a page: rows of 1728 pixels, the raster at their left edge and white
// beyond it, packed one bit a pixel into 64-bit words for the encoder.
namespace converter
{

inline constexpr int FAX_ROW_PIXELS = 1728;
inline constexpr int FAX_PAGE_ROWS = platform::RASTER_ROWS;
// A packed fax row: 27 words.
inline constexpr int PAGE_ROW_WORDS = (FAX_ROW_PIXELS + 63) / 64;
static_assert(platform::RASTER_ROW_BYTES < FAX_ROW_PIXELS);

} // namespace converter
