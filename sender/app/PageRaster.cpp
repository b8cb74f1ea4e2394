#include "sender/app/PageRaster.h"

#include "platform/BinaryFile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace
{

constexpr std::uint8_t BUFFER_WHITE = 1;
constexpr std::uint8_t BUFFER_BLACK = 0;
constexpr std::size_t READ_STEP_BYTES = 64 * 1024;

void StoreInverted(std::uint8_t* pDest, const std::uint8_t* pSource, std::size_t nBytes)
{
    for (std::size_t i = 0; i < nBytes; ++i)
        pDest[i] = platform::IsBlackPixel(pSource[i]) ? BUFFER_BLACK : BUFFER_WHITE;
}

} // namespace

bool CPageRaster::Allocate()
{
    if (!m_pRaster)
        m_pRaster.reset(new (std::nothrow) std::uint8_t[platform::RASTER_BYTES]);
    return m_pRaster != nullptr;
}

bool CPageRaster::LoadPage(const std::filesystem::path& path)
{
    if (!m_pRaster)
        return false;
    platform::CFileReader file;
    if (!file.Open(path))
        return false;
    auto pChunk = std::make_unique<std::uint8_t[]>(READ_STEP_BYTES);
    std::size_t nDone = 0;
    while (nDone < platform::RASTER_BYTES)
    {
        const std::size_t nWant = std::min(READ_STEP_BYTES, platform::RASTER_BYTES - nDone);
        const std::size_t nRead = file.Read(pChunk.get(), nWant);
        StoreInverted(m_pRaster.get() + nDone, pChunk.get(), nRead);
        nDone += nRead;
        if (nRead < nWant)
            break;
    }
    std::memset(m_pRaster.get() + nDone, BUFFER_WHITE, platform::RASTER_BYTES - nDone);
    return true;
}

void CPageRaster::LoadBytes(const std::uint8_t* pBytes, std::size_t nBytes)
{
    if (!m_pRaster)
        return;
    const std::size_t nUsed = std::min(nBytes, platform::RASTER_BYTES);
    StoreInverted(m_pRaster.get(), pBytes, nUsed);
    std::memset(m_pRaster.get() + nUsed, BUFFER_WHITE, platform::RASTER_BYTES - nUsed);
}

std::uint8_t CPageRaster::ViewPixel(int x, int y, int nHorzOffset, int nVertOffset) const
{
    const int h = std::clamp(nHorzOffset, 0, HORZ_OFFSET_MAX);
    const int v = std::clamp(nVertOffset, 0, VERT_OFFSET_MAX);
    const std::size_t nRow = static_cast<std::size_t>(VIEW_REDUCTION * (y + v));
    const std::size_t nColumn = static_cast<std::size_t>(VIEW_REDUCTION * (x + h));
    const std::uint8_t* p = m_pRaster.get() + platform::RASTER_ROW_BYTES * nRow + nColumn;
    const int nSum = p[0] + p[1] + p[platform::RASTER_ROW_BYTES] + p[platform::RASTER_ROW_BYTES + 1];
    // Integer division: the block is white only when all four pixels are.
    return static_cast<std::uint8_t>(nSum / 4 * VIEW_WHITE);
}

void CPageRaster::RenderView(int nHorzOffset, int nVertOffset, std::uint8_t* pView) const
{
    for (int y = 0; y < VIEW_HEIGHT; ++y)
        for (int x = 0; x < VIEW_WIDTH; ++x)
            pView[y * VIEW_WIDTH + x] = ViewPixel(x, y, nHorzOffset, nVertOffset);
}
