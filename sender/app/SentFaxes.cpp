#include "sender/app/SentFaxes.h"

#include "pages/PageFileStage.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace
{

// The fax page that Pagemill writes: 1728 pixels a row, 2200 rows, one bit a pixel.
constexpr std::uint32_t FAX_PAGE_WIDTH = 1728;
constexpr std::uint32_t FAX_PAGE_ROWS = 2200;
static_assert(FAX_PAGE_ROWS == platform::RASTER_ROWS && FAX_PAGE_WIDTH >= platform::RASTER_ROW_BYTES);

struct STiffCloser
{
    void operator()(TIFF* pTiff) const { TIFFClose(pTiff); }
};

} // namespace

bool KeepSentFax(const std::string& strRecipient, const std::string& strFaxNumber,
                 const std::string& strGatewayAddress, const SSendResult& result,
                 const SSentFaxLimits& limits, std::string& strError, const std::filesystem::path& folder)
{
    SSentFax fax;
    fax.m_nSentAt = result.m_nSentAt;
    fax.m_strRecipient = strRecipient;
    fax.m_strFaxNumber = strFaxNumber;
    fax.m_strGatewayAddress = strGatewayAddress;
    fax.m_nMailBytes = result.m_nMailBytes;
    fax.m_strMessageId = result.m_strMessageId;
    fax.m_strServerReply = result.m_strDataReply;
    std::vector<std::filesystem::path> aPages;
    for (int nPage = 1; nPage <= result.m_nPages; ++nPage)
        aPages.push_back(platform::DrivePath(platform::FaxPageFileName(nPage)));
    CSentFaxStore store(folder);
    return store.Add(fax, aPages, limits, strError);
}

std::optional<std::vector<std::uint8_t>> ReadFaxPageRaster(const std::filesystem::path& path,
                                                           std::string& strError)
{
    // libtiff would print what it finds wrong, quoting the file, on standard error.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    // Only a regular file is read: opening a FIFO put in a copy's place would wait for a writer
    // for good, and a link could lead anywhere.
    const std::string strName = path.filename().string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
    {
        strError = "cannot read " + strName + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        strError = strName + " is not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    // libtiff owns the descriptor once it has opened it, and closes it with the TIFF.
    std::unique_ptr<TIFF, STiffCloser> pTiff(TIFFFdOpen(fd, strName.c_str(), "r"));
    if (!pTiff)
    {
        ::close(fd);
        strError = strName + " is not a TIFF file";
        return std::nullopt;
    }
    std::uint32_t nWidth = 0;
    std::uint32_t nRows = 0;
    std::uint16_t nBits = 1;
    std::uint16_t nSamples = 1;
    std::uint16_t nPhotometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(pTiff.get(), TIFFTAG_IMAGEWIDTH, &nWidth);
    TIFFGetField(pTiff.get(), TIFFTAG_IMAGELENGTH, &nRows);
    TIFFGetFieldDefaulted(pTiff.get(), TIFFTAG_BITSPERSAMPLE, &nBits);
    TIFFGetFieldDefaulted(pTiff.get(), TIFFTAG_SAMPLESPERPIXEL, &nSamples);
    TIFFGetField(pTiff.get(), TIFFTAG_PHOTOMETRIC, &nPhotometric);
    if (nWidth != FAX_PAGE_WIDTH || nRows != FAX_PAGE_ROWS || nBits != 1 || nSamples != 1 ||
        TIFFScanlineSize(pTiff.get()) != FAX_PAGE_WIDTH / 8)
    {
        strError = strName + " is not a fax page of 1728 x 2200 pixels";
        return std::nullopt;
    }
    // Class F pages are min-is-white: a set bit is black.
    const std::uint8_t nBlackBit = nPhotometric == PHOTOMETRIC_MINISBLACK ? 0 : 1;
    std::vector<std::uint8_t> aRow(FAX_PAGE_WIDTH / 8);
    std::vector<std::uint8_t> aRaster(platform::RASTER_BYTES);
    for (std::uint32_t nRow = 0; nRow < nRows; ++nRow)
    {
        if (TIFFReadScanline(pTiff.get(), aRow.data(), nRow, 0) < 0)
        {
            strError = "cannot decode row " + std::to_string(nRow + 1) + " of " + strName;
            return std::nullopt;
        }
        std::uint8_t* pOut = aRaster.data() + std::size_t{nRow} * platform::RASTER_ROW_BYTES;
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
        {
            const std::uint8_t nBit = (aRow[static_cast<std::size_t>(x) >> 3] >> (7 - (x & 7))) & 1;
            pOut[x] = nBit == nBlackBit ? platform::RASTER_BLACK : platform::RASTER_WHITE;
        }
    }
    return aRaster;
}

bool RestoreSentPages(const CSentFaxStore& store, const SSentFax& fax, std::string& strError)
{
    if (fax.m_nPages < 1 || fax.m_nPages > platform::MAX_PAGES)
    {
        strError = "the fax has no pages that can be sent again";
        return false;
    }
    driver::CPageFileStage stage(platform::DriveRoot(), platform::MAX_PAGES, platform::EPageOrigin::Sendwell);
    if (!stage.Begin())
    {
        strError = stage.Error();
        return false;
    }
    for (int nPage = 1; nPage <= fax.m_nPages; ++nPage)
    {
        const auto path = store.PagePath(fax, nPage);
        std::string strProblem = "it is missing";
        const auto raster = path.empty() ? std::nullopt : ReadFaxPageRaster(path, strProblem);
        if (!raster)
        {
            strError = "the copy of page " + std::to_string(nPage) + " cannot be used (" + strProblem + ")";
            return false;
        }
        if (!stage.AddPage(*raster))
        {
            strError = stage.Error();
            return false;
        }
    }
    if (!stage.Commit())
    {
        strError = stage.Error();
        return false;
    }
    return true;
}
