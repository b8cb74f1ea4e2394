#include "pages/PageFileStage.h"

#include "pages/FolderDescriptor.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace driver
{

namespace
{

// The staging folder's name: a dot first, so that nobody looking for page files mistakes it
// for one, then random letters.
constexpr std::string_view STAGING_PREFIX = ".quill-job.";
constexpr int STAGING_RANDOM_CHARACTERS = 6;
constexpr int STAGING_ATTEMPTS = 100;

std::string RandomStagingName()
{
    static constexpr std::string_view LETTERS =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::string strName(STAGING_PREFIX);
    for (int n = 0; n < STAGING_RANDOM_CHARACTERS; ++n)
        strName += LETTERS[random() % LETTERS.size()];
    return strName;
}

bool IsOutOfRoom(int nError)
{
    return nError == ENOSPC || nError == EDQUOT;
}

// Writes a staged raster, at strName in the folder nFolderFd, in one write and sets it on its
// way to the disk without waiting: the commit waits for it, by when most of it has usually
// arrived. errno tells why it failed.
bool WriteStagedRaster(int nFolderFd, const std::string& strName, std::span<const std::uint8_t> data)
{
    const int fd =
        ::openat(nFolderFd, strName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    std::size_t nDone = 0;
    while (nDone < data.size())
    {
        const ssize_t n = ::write(fd, data.data() + nDone, data.size() - nDone);
        if (n > 0)
            nDone += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
        {
            // A part of a file is no use to anyone, and takes room a full disk lacks.
            const int nError = n == 0 ? ENOSPC : errno;
            ::close(fd);
            (void)::unlinkat(nFolderFd, strName.c_str(), 0);
            errno = nError;
            return false;
        }
    }
    // Only a start: a failure here shows at the commit's sync.
    (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return ::close(fd) == 0;
}

// Waits until the data of the file strName in the folder nFolderFd are on the disk.
bool SyncFileAt(int nFolderFd, const std::string& strName)
{
    const int fd = ::openat(nFolderFd, strName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool bOk = ::fdatasync(fd) == 0;
    const int nError = errno;
    ::close(fd);
    errno = nError;
    return bOk;
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
    m_driveFolder.Close();
    m_strError.clear();
    m_strOutOfRoom.clear();
    m_nPages = 0;
    m_nLastPage = 0;
    m_abStaged.clear();
    m_bTooManyPages = false;
    // The folders above the drive root are the user's choice and are followed as they are;
    // the drive root itself is held open, and everything the stage writes, moves and removes
    // goes through it (or the staging folder's descriptor), so that a drive root moved or
    // replaced during the job leads the pages nowhere else.
    auto drive = m_driveRoot.lexically_normal();
    if (!drive.has_filename() && drive.has_relative_path())
        drive = drive.parent_path(); // "root/c/"
    const auto parent = drive.has_parent_path() ? drive.parent_path() : std::filesystem::path(".");
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    const CFolderDescriptor parentFolder(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parentFolder.IsOpen())
        return Fail(platform::ErrnoText("cannot create the folder " + m_driveRoot.string()));
    std::string strError;
    // The page files are the user's own business: nobody else needs to read them.
    m_driveFolder = parentFolder.OpenChild(drive.filename().string(), 0700, m_driveRoot, strError);
    if (!m_driveFolder.IsOpen())
        return Fail(strError);
    for (int nAttempt = 0; nAttempt < STAGING_ATTEMPTS; ++nAttempt)
    {
        const std::string strName = RandomStagingName();
        if (::mkdirat(m_driveFolder.Fd(), strName.c_str(), 0700) != 0)
        {
            if (errno == EEXIST)
                continue;
            break;
        }
        m_stagingFolder = m_driveFolder.OpenChild(strName, 0700, m_driveRoot / strName, strError);
        if (!m_stagingFolder.IsOpen())
        {
            (void)::unlinkat(m_driveFolder.Fd(), strName.c_str(), AT_REMOVEDIR);
            return Fail(strError);
        }
        m_strStagingName = strName;
        m_staging = m_driveRoot / strName;
        return true;
    }
    return Fail(platform::ErrnoText("cannot write into the folder " + m_driveRoot.string()));
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
        // What was staged is of no use now: it goes at once, not when the caller gives up.
        ClearPages();
        m_bTooManyPages = true;
        return Fail("the job has more than " + std::to_string(m_nMaxPages) +
                    " pages; the fax printer takes at most " + std::to_string(m_nMaxPages));
    }
    // Once the disk is full the pages are only counted: a job of too many pages is then still
    // refused as one at the page past the limit, instead of as a full disk, and the disk has
    // its room back at once.
    if (m_strOutOfRoom.empty() &&
        !WriteStagedRaster(m_stagingFolder.Fd(), platform::RasterFileName(nPage), raster))
    {
        const int nError = errno;
        if (!IsOutOfRoom(nError))
            return Fail(platform::ErrnoText(
                "cannot write page " + std::to_string(nPage) + " into " + m_staging.string(), nError));
        m_strOutOfRoom = "there is not enough room for the pages in " + m_driveRoot.string() + " (" +
                         platform::ErrnoText("page " + std::to_string(nPage), nError) + ")";
        RemoveStagedRasters();
    }
    if (m_abStaged.size() < static_cast<std::size_t>(nPage))
        m_abStaged.resize(static_cast<std::size_t>(nPage), false);
    if (!m_abStaged[nPage - 1])
        ++m_nPages;
    m_abStaged[nPage - 1] = true;
    m_nLastPage = std::max(m_nLastPage, nPage);
    return true;
}

void CPageFileStage::RemoveStagedRasters()
{
    if (!m_stagingFolder.IsOpen())
        return;
    for (int nPage = 1; nPage <= m_nLastPage; ++nPage)
        if (m_abStaged[nPage - 1])
            (void)::unlinkat(m_stagingFolder.Fd(), platform::RasterFileName(nPage).c_str(), 0);
}

void CPageFileStage::ClearPages()
{
    RemoveStagedRasters();
    m_nPages = 0;
    m_nLastPage = 0;
    m_abStaged.clear();
}

bool CPageFileStage::Commit()
{
    if (m_staging.empty())
        return Fail("no job has been started");
    if (!m_strOutOfRoom.empty())
        return Fail(m_strOutOfRoom);
    if (m_nPages == 0)
        return Fail("the job has no pages");
    if (m_nPages != m_nLastPage)
    {
        const auto nMissing = std::find(m_abStaged.begin(), m_abStaged.end(), false) - m_abStaged.begin() + 1;
        return Fail("page " + std::to_string(nMissing) + " of " + std::to_string(m_nLastPage) +
                    " is missing");
    }
    const int nDrive = m_driveFolder.Fd();
    const int nStaging = m_stagingFolder.Fd();
    // The rasters reach the disk before a page count names them.
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
    {
        if (!SyncFileAt(nStaging, platform::RasterFileName(nPage)))
            return Fail(platform::ErrnoText("cannot write page " + std::to_string(nPage)));
    }

    // Without the old count no reader pairs it with the new rasters while they move in.
    const auto countPath = m_driveRoot / platform::PAGE_COUNT_FILE_NAME;
    if (::unlinkat(nDrive, platform::PAGE_COUNT_FILE_NAME, 0) != 0 && errno != ENOENT)
        return Fail(platform::ErrnoText("cannot replace " + countPath.string()));
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
    {
        const std::string strName = platform::RasterFileName(nPage);
        if (::renameat(nStaging, strName.c_str(), nDrive, strName.c_str()) != 0)
            return Fail(platform::ErrnoText("cannot move page " + std::to_string(nPage) + " to " +
                                            (m_driveRoot / strName).string()));
    }
    // An older, longer job's last rasters would otherwise stay beside this one's pages.
    for (int nPage = m_nPages + 1; nPage <= platform::MAX_PAGES; ++nPage)
    {
        const std::string strName = platform::RasterFileName(nPage);
        if (::unlinkat(nDrive, strName.c_str(), 0) != 0 && errno != ENOENT)
            return Fail(
                platform::ErrnoText("cannot remove the older page " + (m_driveRoot / strName).string()));
    }
    // The count is written beside its place and renamed into it, in the folder held open.
    std::string strError;
    if (!platform::WritePageCountFileAt(nDrive, m_driveRoot, m_nPages, m_eOrigin, strError))
        return Fail("cannot write the page count: " + strError);
    Discard();
    return true;
}

void CPageFileStage::Discard()
{
    if (m_staging.empty())
        return;
    m_stagingFolder.Close();
    (void)m_driveFolder.RemoveTree(m_strStagingName);
    m_strStagingName.clear();
    m_staging.clear();
}

} // namespace driver
