#pragma once

#include <cstddef>
#include <string>

// The page files the fax printer leaves for Sendwell and Pagemill, in the drive root:
//   Page.tmp  the page-count file: its first byte is the number of pages + 1
//   quill.N   the raster of page N (from 1): 2200 rows of 1700 bytes, 0 white, anything else black
// A page is US letter at 200 dpi: 8.5 x 11 inches make 1700 x 2200 pixels.
namespace driver
{

inline constexpr std::size_t kRasterRowBytes = 1700;
inline constexpr std::size_t kRasterRows = 2200;
inline constexpr std::size_t kRasterBytes = kRasterRowBytes * kRasterRows;
inline constexpr int kResolutionDpi = 200;

// One byte holds the page count + 1, so a job has at most 254 pages.
inline constexpr int kMaxPages = 254;

inline constexpr const char* kPageCountFileName = "Page.tmp";
inline constexpr unsigned char kRasterWhite = 0;
inline constexpr unsigned char kRasterBlack = 1;

// "quill.N" for page N.
inline std::string RasterFileName(int nPage)
{
    return "quill." + std::to_string(nPage);
}

} // namespace driver
