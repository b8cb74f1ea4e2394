#pragma once

#include <cstddef>

// The fixed geometry of the page files that cross programs.
namespace converter
{

inline constexpr int kRasterRowBytes = 1700;  // one byte per pixel, 0 white, anything else black
inline constexpr int kRowsPerPage = 2200;
inline constexpr int kFaxRowPixels = 1728;    // the width of a fax row; the raster sits at its left edge
inline constexpr std::size_t kRasterBytes = std::size_t{kRasterRowBytes} * kRowsPerPage;    // 3,740,000
inline constexpr std::size_t kPageBufferBytes = std::size_t{kFaxRowPixels} * kRowsPerPage; // 3,801,600
inline constexpr int kMaxPages = 254; // the page-count byte holds pages + 1

static_assert(kRasterBytes == 3'740'000 && kPageBufferBytes == 3'801'600);

} // namespace converter
