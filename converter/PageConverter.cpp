#include "PageConverter.h"

#include "FaxPageWriter.h"
#include "PageFormat.h"
#include "T4Encoder.h"
#include "platform/BinaryFile.h"
#include "platform/Message.h"
#include "platform/Roots.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>

namespace converter
{

namespace
{

constexpr const char* kCaption = "警告";
constexpr const char* kNoPagesText = "该程序不能单独运行，只能与Quill科技--Vellum打印机共同使用";
constexpr const char* kOutOfMemoryText = "内存不够，请关闭其它应用程序";

// Rows read from the raster per read: large reads cost far less than 4 KiB ones.
constexpr int kRowsPerRead = 40;
static_assert(kRowsPerPage % kRowsPerRead == 0);

std::string NumberedName(const char* pszFormat, int nPage)
{
    char szName[32];
    std::snprintf(szName, sizeof szName, pszFormat, nPage);
    return szName;
}

// A diagnostic for whoever runs the converter from a terminal; the user sees no message
// for these, as the sender reports the failed conversion.
void Diagnose(int nPage, const std::string& strWhat)
{
    std::fprintf(stderr, "Pagemill: page %d: %s\n", nPage, strWhat.c_str());
}

// Reads the page-count byte P; nothing when the file is missing, unreadable or empty.
std::optional<int> ReadPageCountByte()
{
    platform::CFileReader file;
    std::uint8_t nByte = 0;
    if (!file.Open(platform::DrivePath("Page.tmp")) || !file.ReadByte(nByte))
        return std::nullopt;
    return nByte;
}

// The buffers of a run, obtained once for the first page and reused, so that the cost
// of touching fresh memory is paid once rather than for every page.
struct SBuffers
{
    std::unique_ptr<std::uint8_t[]> pPage;
    std::unique_ptr<std::uint8_t[]> pRows;

    bool Obtain()
    {
        if (!pPage)
            pPage.reset(new (std::nothrow) std::uint8_t[kPageBufferBytes]);
        if (!pRows)
            pRows.reset(new (std::nothrow) std::uint8_t[std::size_t{kRasterRowBytes} * kRowsPerRead]);
        return pPage && pRows;
    }
};

// Fills the page buffer from the raster: 1 for every nonzero byte, 0 for zero, and
// white in the columns 1700 to 1727 that the raster does not cover.
bool ReadRaster(platform::CFileReader& raster, SBuffers& buffers)
{
    std::uint8_t* pRows = buffers.pRows.get();
    for (int nFirstRow = 0; nFirstRow < kRowsPerPage; nFirstRow += kRowsPerRead)
    {
        const std::size_t nWanted = std::size_t{kRasterRowBytes} * kRowsPerRead;
        if (raster.Read(pRows, nWanted) != nWanted)
            return false;
        for (int nRow = 0; nRow < kRowsPerRead; ++nRow)
        {
            const std::uint8_t* pIn = pRows + std::size_t{kRasterRowBytes} * nRow;
            std::uint8_t* pOut = buffers.pPage.get() + std::size_t{kFaxRowPixels} * (nFirstRow + nRow);
            for (int nColumn = 0; nColumn < kRasterRowBytes; ++nColumn)
                pOut[nColumn] = pIn[nColumn] != 0 ? 1 : 0;
            std::fill(pOut + kRasterRowBytes, pOut + kFaxRowPixels, std::uint8_t{0});
        }
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
    const auto faxPath = platform::DrivePath(NumberedName("quill%d.tif", nPage));
    const auto rasterPath = platform::DrivePath(NumberedName("quill.%d", nPage));

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
    if (!ReadRaster(raster, buffers))
    {
        Diagnose(nPage, rasterPath.string() + (raster.Failed() ? " cannot be read" : " is shorter than a page"));
        return EPageResult::Failed;
    }
    raster.Close();

    encoder.EncodePage(buffers.pPage.get(), kFaxRowPixels, kRowsPerPage);
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
    const std::optional<int> nCountByte = ReadPageCountByte();
    if (!nCountByte || *nCountByte == 0)
        return EConvertResult::NothingToDo;
    if (*nCountByte == 1)
    {
        platform::ShowMessage(kCaption, kNoPagesText);
        return EConvertResult::NoPages;
    }

    const int nTotal = *nCountByte - 1;
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
            platform::ShowMessage(kCaption, kOutOfMemoryText);
        // A stale page of an earlier fax under this name must not pass for this one's.
        std::error_code ignored;
        std::filesystem::remove(platform::DrivePath(NumberedName("quill%d.tif", nPage)), ignored);
        return EConvertResult::Stopped;
    }
    return EConvertResult::Done;
}

int ExitCode(EConvertResult eResult) { return eResult == EConvertResult::Stopped ? 1 : 0; }

} // namespace converter
