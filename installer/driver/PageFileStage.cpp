#include "installer/driver/PageFileStage.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace driver
{

namespace
{

// Starts with a dot, so that nobody looking for page files mistakes it for one.
constexpr const char* STAGING_TEMPLATE = ".quill-job.XXXXXX";

} // namespace

CPageFileStage::CPageFileStage(std::filesystem::path driveRoot, int nMaxPages)
    : m_driveRoot(std::move(driveRoot)), m_nMaxPages(nMaxPages)
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

bool CPageFileStage::AddPage(std::span<const std::uint8_t> raster)
{
    if (m_staging.empty())
        return Fail("no job has been started");
    if (raster.size() != platform::RASTER_BYTES)
        return Fail("a page raster has " + std::to_string(raster.size()) + " bytes, not " +
                    std::to_string(platform::RASTER_BYTES));
    if (m_nPages >= m_nMaxPages)
    {
        m_bTooManyPages = true;
        return Fail("the job has more than " + std::to_string(m_nMaxPages) +
                    " pages; the fax printer takes at most " + std::to_string(m_nMaxPages));
    }
    const int nPage = m_nPages + 1;
    platform::CFileWriter writer;
    if (!writer.Create(m_staging / platform::RasterFileName(nPage), platform::EWriteMode::Atomic))
        return Fail("cannot write page " + std::to_string(nPage) + ": " + writer.Error());
    writer.Write(raster.data(), raster.size());
    if (!writer.Close())
        return Fail("cannot write page " + std::to_string(nPage) + ": " + writer.Error());
    m_nPages = nPage;
    return true;
}

bool CPageFileStage::Commit()
{
    if (m_staging.empty())
        return Fail("no job has been started");
    if (m_nPages == 0)
        return Fail("the job has no pages");

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
    platform::CFileWriter writer;
    if (!writer.Create(countPath, platform::EWriteMode::Atomic))
        return Fail("cannot write the page count: " + writer.Error());
    writer.WriteByte(platform::PageCountByte(m_nPages));
    if (!writer.Close())
        return Fail("cannot write the page count: " + writer.Error());
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
