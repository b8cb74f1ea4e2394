#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The fax pages that Pagemill writes: 1728 pixels a row at 204 dpi, 2200 rows at 196 dpi, one
// bit a pixel.
inline constexpr int FAX_PAGE_WIDTH = 1728;
inline constexpr int FAX_PAGE_ROWS = 2200;
inline constexpr int FAX_PAGE_ROW_BYTES = FAX_PAGE_WIDTH / 8;
inline constexpr int FAX_X_DPI = 204;
inline constexpr int FAX_Y_DPI = 196;

// A decoded fax page: m_nRows rows of FAX_PAGE_ROW_BYTES bytes, the leftmost pixel in the
// highest bit, a set bit black.
struct SFaxPage
{
    int m_nRows = 0;
    std::vector<std::uint8_t> m_aBits;
};

// Reads a fax page file through libtiff: FAX_PAGE_WIDTH pixels wide, one bit a pixel, at most
// nMaxRows rows. Only a regular file is opened (never a FIFO or a link put in a page's place).
// Nullopt with strError for a file that is missing or not such a page; the error names the
// file, never its folders.
std::optional<SFaxPage> ReadFaxPage(const std::filesystem::path& path, std::string& strError,
                                    int nMaxRows = FAX_PAGE_ROWS);
