#include "installer/driver/PageFileStage.h"

#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace driver
{

namespace
{

// Starts with a dot, so that nobody looking for page files mistakes it for one.
constexpr const char* STAGING_TEMPLATE = ".quill-job.XXXXXX";

// Writes a staged raster in one write and sets it on its way to the disk without waiting:
// the commit waits for it, by when most of it has usually arrived.
bool WriteStagedRaster(const std::filesystem::path& path, std::span<const std::uint8_t> raster,
                       std::string& strError)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        strError = platform::ErrnoText("create " + path.string());
        return false;
    }
    std::size_t nDone = 0;
    while (nDone < raster.size())
    {
        const ssize_t n = ::write(fd, raster.data() + nDone, raster.size() - nDone);
        if (n > 0)
            nDone += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
        {
            strError = platform::ErrnoText("write " + path.string(), n == 0 ? ENOSPC : errno);
            ::close(fd);
            return false;
        }
    }
    // Only a start: a failure here shows at the commit's sync.
    (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(fd) != 0)
    {
        strError = platform::ErrnoText("close " + path.string());
        return false;
    }
    return true;
}

// Waits until the file's data are on the disk.
bool SyncFile(const std::filesystem::path& path, std::string& strError)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fdatasync(fd) != 0)
    {
        strError = platform::ErrnoText("sync " + path.string());
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

CPageFileStage::CPageFileStage(std::filesystem::path driveRoot, int nMaxPages, platform::EPageOrigin eOrigin)
    : m_driveRoot(std::move(driveRoot)), m_nMaxPages(nMaxPages), m_eOrigin(eOrigin)
{
}

CPageFileStage::~CPageFileStage()
{
    Discard();
}

bool CPageFileStage::Fail(std::string strError)
{
    if (m_strError.empty())
        m_strError = std::move(strError);
    return false;
}

bool CPageFileStage::Begin()
{
    Discard();
    m_strError.clear();
    m_nPages = 0;
    m_nLastPage = 0;
    m_abStaged.clear();
    m_bTooManyPages = false;
    // The page files are the user's own business: nobody else needs to read them.
    std::error_code error;
    std::filesystem::create_directories(m_driveRoot.parent_path(), error);
    if (::mkdir(m_driveRoot.c_str(), 0700) != 0 && errno != EEXIST)
        return Fail(platform::ErrnoText("cannot create the folder " + m_driveRoot.string()));
    std::string strTemplate = (m_driveRoot / STAGING_TEMPLATE).string();
    if (::mkdtemp(strTemplate.data()) == nullptr)
        return Fail(platform::ErrnoText("cannot write into the folder " + m_driveRoot.string()));
    m_staging = strTemplate;
    return true;
}

bool CPageFileStage::AddPage(int nPage, std::span<const std::uint8_t> raster)
{
    if (m_staging.empty())
        return Fail("no job has been started");
    if (raster.size() != platform::RASTER_BYTES)
        return Fail("a page raster has " + std::to_string(raster.size()) + " bytes, not " +
                    std::to_string(platform::RASTER_BYTES));
    if (nPage < 1)
        return Fail("there is no page " + std::to_string(nPage));
    if (nPage > m_nMaxPages)
    {
        m_bTooManyPages = true;
        return Fail("the job has more than " + std::to_string(m_nMaxPages) +
                    " pages; the fax printer takes at most " + std::to_string(m_nMaxPages));
    }
    std::string strError;
    if (!WriteStagedRaster(m_staging / platform::RasterFileName(nPage), raster, strError))
        return Fail("cannot write page " + std::to_string(nPage) + ": " + strError);
    if (m_abStaged.size() < static_cast<std::size_t>(nPage))
        m_abStaged.resize(static_cast<std::size_t>(nPage), false);
    if (!m_abStaged[nPage - 1])
        ++m_nPages;
    m_abStaged[nPage - 1] = true;
    m_nLastPage = std::max(m_nLastPage, nPage);
    return true;
}

void CPageFileStage::ClearPages()
{
    for (int nPage = 1; nPage <= m_nLastPage; ++nPage)
        if (m_abStaged[nPage - 1])
            ::unlink((m_staging / platform::RasterFileName(nPage)).c_str());
    m_nPages = 0;
    m_nLastPage = 0;
    m_abStaged.clear();
}

bool CPageFileStage::Commit()
{
    if (m_staging.empty())
        return Fail("no job has been started");
    if (m_nPages == 0)
        return Fail("the job has no pages");
    if (m_nPages != m_nLastPage)
    {
        const auto nMissing = std::find(m_abStaged.begin(), m_abStaged.end(), false) - m_abStaged.begin() + 1;
        return Fail("page " + std::to_string(nMissing) + " of " + std::to_string(m_nLastPage) +
                    " is missing");
    }
    // The rasters reach the disk before a page count names them.
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
    {
        std::string strError;
        if (!SyncFile(m_staging / platform::RasterFileName(nPage), strError))
            return Fail("cannot write page " + std::to_string(nPage) + ": " + strError);
    }

    // Without the old count no reader pairs it with the new rasters while they move in.
    const auto countPath = m_driveRoot / platform::PAGE_COUNT_FILE_NAME;
    if (::unlink(countPath.c_str()) != 0 && errno != ENOENT)
        return Fail(platform::ErrnoText("cannot replace " + countPath.string()));
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
    {
        const auto from = m_staging / platform::RasterFileName(nPage);
        const auto to = m_driveRoot / platform::RasterFileName(nPage);
        if (::rename(from.c_str(), to.c_str()) != 0)
            return Fail(
                platform::ErrnoText("cannot move page " + std::to_string(nPage) + " to " + to.string()));
    }
    // An older, longer job's last rasters would otherwise stay beside this one's pages.
    for (int nPage = m_nPages + 1; nPage <= platform::MAX_PAGES; ++nPage)
    {
        const auto stale = m_driveRoot / platform::RasterFileName(nPage);
        if (::unlink(stale.c_str()) != 0 && errno != ENOENT)
            return Fail(platform::ErrnoText("cannot remove the older page " + stale.string()));
    }
    std::string strError;
    if (!platform::WritePageCountFile(m_driveRoot, m_nPages, m_eOrigin, strError))
        return Fail("cannot write the page count: " + strError);
    Discard();
    return true;
}

void CPageFileStage::Discard()
{
    if (m_staging.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(m_staging, error);
    m_staging.clear();
}

} // namespace driver
