#include "converter/PageConverter.h"

#include "converter/FaxPageWriter.h"
#include "converter/FaxRow.h"
#include "converter/RowPacker.h"
#include "converter/T4Encoder.h"
#include "platform/BinaryFile.h"
#include "platform/MappedFile.h"
#include "platform/Message.h"
#include "platform/Roots.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>

namespace converter
{

namespace
{

constexpr const char* CAPTION = "警告";
constexpr const char* NO_PAGES_TEXT = "该程序不能单独运行，只能与Quill科技--Vellum打印机共同使用";
constexpr const char* OUT_OF_MEMORY_TEXT = "内存不够，请关闭其它应用程序";

// Rows read from the raster per read: large reads cost far less than 4 KiB ones, and a
// band of 68,000 bytes still sits in the caches.
constexpr int ROWS_PER_READ = 40;
static_assert(FAX_PAGE_ROWS % ROWS_PER_READ == 0);

// A diagnostic for whoever runs the converter from a terminal; the user sees no message
// for these, as the sender reports the failed conversion.
void Diagnose(int nPage, const std::string& strWhat)
{
    std::fprintf(stderr, "Pagemill: page %d: %s\n", nPage, strWhat.c_str());
}

// Reads the page-count byte; nothing when the file is missing, unreadable or empty.
std::optional<std::uint8_t> ReadPageCountByte()
{
    platform::CFileReader file;
    std::uint8_t nByte = 0;
    if (!file.Open(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME)) || !file.ReadByte(nByte))
        return std::nullopt;
    return nByte;
}

// The page is read, packed and coded in bands of rows, so that a run touches a few
// small buffers again and again instead of a fresh 3.8 MB page for every page.
struct SBuffers
{
    std::unique_ptr<std::uint8_t[]> m_pRaster; // a band of raster rows as read
    std::unique_ptr<std::uint64_t[]> m_pBand;  // the same rows packed: the page buffer's band

    bool Obtain()
    {
        if (!m_pRaster)
            m_pRaster.reset(new (std::nothrow)
                                std::uint8_t[std::size_t{platform::RASTER_ROW_BYTES} * ROWS_PER_READ]);
        if (!m_pBand)
            m_pBand.reset(new (std::nothrow) std::uint64_t[std::size_t{PAGE_ROW_WORDS} * ROWS_PER_READ]);
        return m_pRaster && m_pBand;
    }
};

// Packs raster rows into the band, 1 for every nonzero byte and 0 for zero, the columns
// 1700 to 1727 white, and codes them.
void EncodeBand(const std::uint8_t* pRows, SBuffers& buffers, CT4Encoder& encoder)
{
    for (int nRow = 0; nRow < ROWS_PER_READ; ++nRow)
        PackRow(pRows + std::size_t{platform::RASTER_ROW_BYTES} * nRow, platform::RASTER_ROW_BYTES,
                buffers.m_pBand.get() + std::size_t{PAGE_ROW_WORDS} * nRow, PAGE_ROW_WORDS);
    encoder.EncodeRows(buffers.m_pBand.get(), FAX_ROW_PIXELS, ROWS_PER_READ);
}

// Codes the raster band by band. It is mapped where the system allows, which saves
// copying 3.7 MB a page, and read band by band otherwise. False if the raster ends
// early or cannot be read.
bool ReadAndEncodeRaster(platform::CFileReader& raster, SBuffers& buffers, CT4Encoder& encoder)
{
    constexpr std::size_t BAND_BYTES = std::size_t{platform::RASTER_ROW_BYTES} * ROWS_PER_READ;
    platform::CMappedFile mapped;
    const bool bMapped = mapped.Map(raster, platform::RASTER_BYTES);
    for (int nFirstRow = 0; nFirstRow < FAX_PAGE_ROWS; nFirstRow += ROWS_PER_READ)
    {
        if (bMapped)
        {
            EncodeBand(mapped.Data() + std::size_t{platform::RASTER_ROW_BYTES} * nFirstRow, buffers, encoder);
            continue;
        }
        if (raster.Read(buffers.m_pRaster.get(), BAND_BYTES) != BAND_BYTES)
            return false;
        EncodeBand(buffers.m_pRaster.get(), buffers, encoder);
    }
    return true;
}

enum class EPageResult
{
    Converted,
    Failed,
    OutOfMemory,
};

EPageResult ConvertPage(int nPage, int nTotal, SBuffers& buffers, CT4Encoder& encoder)
{
    const auto faxPath = platform::DrivePath(platform::FaxPageFileName(nPage));
    const auto rasterPath = platform::DrivePath(platform::RasterFileName(nPage));

    // The fax page is written beside its final name and renamed when complete, so that
    // no reader ever sees part of a page under that name.
    platform::CFileWriter fax;
    if (!fax.Create(faxPath, platform::EWriteMode::AtomicNoSync))
    {
        Diagnose(nPage, fax.Error());
        return EPageResult::Failed;
    }
    encoder.Reset();

    platform::CFileReader raster;
    if (!raster.Open(rasterPath))
    {
        Diagnose(nPage, rasterPath.string() + " cannot be opened");
        return EPageResult::Failed;
    }
    if (!buffers.Obtain())
        return EPageResult::OutOfMemory;
    if (!ReadAndEncodeRaster(raster, buffers, encoder))
    {
        Diagnose(nPage,
                 rasterPath.string() + (raster.Failed() ? " cannot be read" : " is shorter than a page"));
        return EPageResult::Failed;
    }
    raster.Close();

    if (!WriteFaxPageFile(fax, encoder.Data(), encoder.Count(), nPage - 1, nTotal) || !fax.Close())
    {
        Diagnose(nPage, fax.Error());
        return EPageResult::Failed;
    }
    // The raster goes only once its fax page is safely in place, so that a full disk
    // never costs the user a page. A raster that cannot be deleted simply stays.
    std::error_code ignored;
    std::filesystem::remove(rasterPath, ignored);
    return EPageResult::Converted;
}

} // namespace

EConvertResult ConvertPages()
{
    const std::optional<std::uint8_t> nCountByte = ReadPageCountByte();
    if (!nCountByte || *nCountByte == 0)
        return EConvertResult::NothingToDo;
    if (*nCountByte == platform::PageCountByte(0))
    {
        platform::ShowMessage(CAPTION, NO_PAGES_TEXT);
        return EConvertResult::NoPages;
    }

    const int nTotal = platform::PagesOfCountByte(*nCountByte);
    SBuffers buffers;
    CT4Encoder encoder;
    for (int nPage = 1; nPage <= nTotal; ++nPage)
    {
        EPageResult eResult = EPageResult::Failed;
        try
        {
            eResult = ConvertPage(nPage, nTotal, buffers, encoder);
        }
        catch (const std::bad_alloc&)
        {
            eResult = EPageResult::OutOfMemory;
        }
        if (eResult == EPageResult::Converted)
            continue;
        if (eResult == EPageResult::OutOfMemory)
            platform::ShowMessage(CAPTION, OUT_OF_MEMORY_TEXT);
        // A stale page of an earlier fax under this name must not pass for this one's.
        std::error_code ignored;
        std::filesystem::remove(platform::DrivePath(platform::FaxPageFileName(nPage)), ignored);
        return EConvertResult::Stopped;
    }
    return EConvertResult::Done;
}

int ExitCode(EConvertResult eResult)
{
    return eResult == EConvertResult::Stopped ? 1 : 0;
}

} // namespace converter
