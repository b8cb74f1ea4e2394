#include "converter/PageConverter.h"

#include "converter/FaxPageWriter.h"
#include "converter/PageCoder.h"
#include "platform/BinaryFile.h"
#include "platform/Descriptor.h"
#include "platform/Message.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>

namespace converter
{

namespace
{

constexpr const char* CAPTION = "警告";
constexpr const char* NO_PAGES_TEXT = "该程序不能单独运行，只能与Quill科技--Vellum打印机共同使用";
constexpr const char* OUT_OF_MEMORY_TEXT = "内存不够，请关闭其它应用程序";

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

enum class EPageResult
{
    Converted,
    Failed,
    OutOfMemory,
};

// Waits until the folder's entries (a fax page renamed into it) are on the disk.
bool SyncFolder(int nFolderFd)
{
    int nResult;
    do
        nResult = ::fsync(nFolderFd);
    while (nResult != 0 && errno == EINTR);
    return nResult == 0;
}

// The pages are coded ahead by the coder, on both cores; here each page's files change in
// the order they always did: its fax page is begun, written in full and renamed into place,
// and only then is its raster removed. Before the raster goes, the fax page's data and its
// name in the folder are on the disk: a machine that stops at any moment keeps the page as
// its raster or as its fax page.
EPageResult ConvertPage(int nPage, int nTotal, CPageCoder& coder, int nFolderFd)
{
    const auto faxPath = platform::DrivePath(platform::FaxPageFileName(nPage));
    const auto rasterPath = platform::DrivePath(platform::RasterFileName(nPage));

    // The fax page is written beside its final name, synced, and renamed when complete, so
    // that no reader ever sees part of a page under that name, nor a crash leaves one there.
    platform::CFileWriter fax;
    if (!fax.Create(faxPath, platform::EWriteMode::Atomic))
    {
        Diagnose(nPage, fax.Error());
        return EPageResult::Failed;
    }
    switch (coder.Code(nPage))
    {
    case ECodeResult::Coded:
        break;
    case ECodeResult::Failed:
        Diagnose(nPage, coder.Error());
        return EPageResult::Failed;
    case ECodeResult::OutOfMemory:
        return EPageResult::OutOfMemory;
    }

    const bool bWritten = WriteFaxPageFile(fax, coder.Segments(), nPage - 1, nTotal) && fax.Close();
    coder.Release(nPage);
    if (!bWritten)
    {
        Diagnose(nPage, fax.Error());
        return EPageResult::Failed;
    }
    // A folder that cannot be synced fails the page as a failed write does: its raster stays.
    if (!SyncFolder(nFolderFd))
    {
        Diagnose(nPage, platform::ErrnoText("sync " + platform::DrivePath("").string()));
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
    // The folder is held open for syncing the fax pages' names into it.
    const platform::CDescriptor folder(
        ::open(platform::DrivePath("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0)
    {
        Diagnose(1, platform::ErrnoText("open " + platform::DrivePath("").string()));
        return EConvertResult::Stopped;
    }
    std::unique_ptr<CPageCoder> pCoder;
    try
    {
        pCoder = std::make_unique<CPageCoder>(platform::DrivePath(""), nTotal);
        pCoder->StartHelper();
    }
    catch (const std::bad_alloc&)
    {
        // Reported as the first page running out of memory, below.
    }
    for (int nPage = 1; nPage <= nTotal; ++nPage)
    {
        EPageResult eResult = EPageResult::OutOfMemory;
        try
        {
            if (pCoder)
                eResult = ConvertPage(nPage, nTotal, *pCoder, folder.Get());
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
