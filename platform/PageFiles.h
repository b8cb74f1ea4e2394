#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The page files that pass between the programs, in the drive root. The fax printer
// writes them, Sendwell lists and previews them, Pagemill turns them into fax pages:
//   Page.tmp      the page-count file: its first byte is the number of pages + 1
//   quill.N       the raster of page N (from 1): 2200 rows of 1700 bytes, one byte a pixel,
//                 0 white and anything else black
//   quillN.tif    the fax page of page N, made by Pagemill
// A page is US letter at 200 dpi: 8.5 x 11 inches make 1700 x 2200 pixels.
namespace platform
{

inline constexpr const char* PAGE_COUNT_FILE_NAME = "Page.tmp";

// Sendwell holds a shared lock (flock) on this file in the drive root while it runs. The
// watcher opens no second Sendwell while one is open: a job printed meanwhile waits for it to
// close.
inline constexpr const char* SENDWELL_OPEN_FILE_NAME = ".sendwell.open";

// Sendwell writes page files itself (a document file, a drop, a sent fax put back to be sent
// again); they are no print job, and the watcher must never open Sendwell for them. Before
// such a page-count file takes its name, this file names it by its inode and modification
// time, in nanoseconds, as decimal text: "<inode> <mtime>\n" (platform/PageJob.h). A job of the
// printer removes it, and a page-count file it does not name is a print job.
inline constexpr const char* SENDWELL_PAGES_FILE_NAME = ".Page.sendwell";

inline constexpr int RASTER_ROW_BYTES = 1700;
inline constexpr int RASTER_ROWS = 2200;
inline constexpr std::size_t RASTER_BYTES = std::size_t{RASTER_ROW_BYTES} * RASTER_ROWS;
inline constexpr int RASTER_DPI = 200;
static_assert(RASTER_BYTES == 3'740'000);

// What the printer writes; readers take any byte but 0 as black.
inline constexpr std::uint8_t RASTER_WHITE = 0;
inline constexpr std::uint8_t RASTER_BLACK = 1;
constexpr bool IsBlackPixel(std::uint8_t nPixel)
{
    return nPixel != RASTER_WHITE;
}

// One byte holds the page count + 1, so a print job has at most 254 pages.
inline constexpr int MAX_PAGES = 254;

// The count byte for a job of nPages (0 to MAX_PAGES): a byte of 1 says that the printer
// ran but left no page.
constexpr std::uint8_t PageCountByte(int nPages)
{
    return static_cast<std::uint8_t>(nPages + 1);
}

// The pages a count byte names: 1 to the byte - 1, none for a byte of 0 or 1.
constexpr int PagesOfCountByte(std::uint8_t nCountByte)
{
    return nCountByte > 1 ? nCountByte - 1 : 0;
}

static_assert(PageCountByte(MAX_PAGES) == 0xFF && PagesOfCountByte(PageCountByte(MAX_PAGES)) == MAX_PAGES);
static_assert(PagesOfCountByte(PageCountByte(0)) == 0 && PagesOfCountByte(0) == 0);

// "quill.N", the raster of page N.
inline std::string RasterFileName(int nPage)
{
    return "quill." + std::to_string(nPage);
}

// "quillN.tif", the fax page of page N.
inline std::string FaxPageFileName(int nPage)
{
    return "quill" + std::to_string(nPage) + ".tif";
}

} // namespace platform
