#pragma once

#include "platform/PageFiles.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

// The preview's raster buffer and the reduced view drawn from it. The buffer holds one
// printed page, 2200 rows of 1700 bytes from the top left, 1 for a white pixel and 0
// for a black one (the inverse of the page raster file, where 0 is white). The view is
// 170 x 220 pixels; each stands for a block of 2 x 2 raster pixels and is white only
// when all four are white.

inline constexpr int VIEW_WIDTH = 170;
inline constexpr int VIEW_HEIGHT = 220;
inline constexpr int VIEW_REDUCTION = 2;
// Where the view starts in the preview control's window, its border included.
inline constexpr int VIEW_ORIGIN_X = 5;
inline constexpr int VIEW_ORIGIN_Y = 5;

// Slider ranges, in units of two raster columns or rows: 2 x (679 + 169) + 1 = 1697 is
// the last column and 2 x (879 + 219) + 1 = 2197 the last row the view can reach.
inline constexpr int HORZ_OFFSET_MAX = 679;
inline constexpr int VERT_OFFSET_MAX = 879;
static_assert(VIEW_REDUCTION * (HORZ_OFFSET_MAX + VIEW_WIDTH - 1) + 1 < platform::RASTER_ROW_BYTES);
static_assert(VIEW_REDUCTION * (VERT_OFFSET_MAX + VIEW_HEIGHT - 1) + 1 < platform::RASTER_ROWS);

inline constexpr std::uint8_t VIEW_BLACK = 0;
inline constexpr std::uint8_t VIEW_WHITE = 255;

class CPageRaster
{
public:
    // Takes the buffer's memory; false when it cannot be had (the preview then draws nothing).
    [[nodiscard]] bool Allocate();
    bool IsAllocated() const { return m_pRaster != nullptr; }

    // Reads a page raster file into the buffer. False, with the buffer unchanged, when
    // the file cannot be opened. A file shorter than a page fills what it holds; the rest
    // of the page is white.
    [[nodiscard]] bool LoadPage(const std::filesystem::path& path);
    // The same from bytes in memory (raster file bytes: 0 white, else black).
    void LoadBytes(const std::uint8_t* pBytes, std::size_t nBytes);

    // The grey level (VIEW_BLACK or VIEW_WHITE) of view pixel (x, y) at the offsets
    // (in slider units, clamped to the sliders' ranges). Needs the buffer.
    std::uint8_t ViewPixel(int x, int y, int nHorzOffset, int nVertOffset) const;
    // The whole view, VIEW_HEIGHT rows of VIEW_WIDTH levels, into pView.
    void RenderView(int nHorzOffset, int nVertOffset, std::uint8_t* pView) const;

private:
    std::unique_ptr<std::uint8_t[]> m_pRaster;
};
