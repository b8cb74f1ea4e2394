#include "sender/faxpage/FaxPageReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace
{

struct STiffCloser
{
    void operator()(TIFF* pTiff) const { TIFFClose(pTiff); }
};

} // namespace

std::optional<SFaxPage> ReadFaxPage(const std::filesystem::path& path, std::string& strError, int nMaxRows)
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
        strError = errno == ENOENT ? strName + " is missing"
                                   : "cannot read " + strName + ": " + std::strerror(errno);
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
    if (nWidth != FAX_PAGE_WIDTH || nRows < 1 || nRows > static_cast<std::uint32_t>(nMaxRows) || nBits != 1 ||
        nSamples != 1 || TIFFScanlineSize(pTiff.get()) != FAX_PAGE_ROW_BYTES)
    {
        strError = strName + " is not a fax page of 1728 x " + std::to_string(nMaxRows) + " pixels";
        return std::nullopt;
    }
    SFaxPage page;
    page.m_nRows = static_cast<int>(nRows);
    page.m_aBits.resize(std::size_t{nRows} * FAX_PAGE_ROW_BYTES);
    for (std::uint32_t nRow = 0; nRow < nRows; ++nRow)
    {
        std::uint8_t* pRow = page.m_aBits.data() + std::size_t{nRow} * FAX_PAGE_ROW_BYTES;
        if (TIFFReadScanline(pTiff.get(), pRow, nRow, 0) < 0)
        {
            strError = "cannot decode row " + std::to_string(nRow + 1) + " of " + strName;
            return std::nullopt;
        }
        // Class F pages are min-is-white, a set bit black; a min-is-black page is turned round.
        if (nPhotometric == PHOTOMETRIC_MINISBLACK)
            for (int i = 0; i < FAX_PAGE_ROW_BYTES; ++i)
                pRow[i] = static_cast<std::uint8_t>(~pRow[i]);
    }
    return page;
}
