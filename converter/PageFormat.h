#pragma once

#include <cstddef>

// The fixed geometry of the page files that cross programs.
namespace converter
{

inline constexpr int kRasterRowBytes = 1700;  // one byte per pixel, 0 white, anything else black
inline constexpr int kRowsPerPage = 2200;
inline constexpr int kFaxRowPixels = 1728;    // the width of a fax row; the raster sits at its left edge
inline constexpr std::size_t kRasterBytes = std::size_t{kRasterRowBytes} * kRowsPerPage;    // 3,740,000
inline constexpr int kPageRowWords = (kFaxRowPixels + 63) / 64; // a packed fax row: 27 words
inline constexpr int kMaxPages = 254; // the page-count byte holds pages + 1

static_assert(kRasterBytes == 3'740'000);

} // namespace converter
