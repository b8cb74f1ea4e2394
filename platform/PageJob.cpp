#include "platform/PageJob.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{

// "<inode> <mtime>\n" is far shorter; anything longer is not the mark.
constexpr std::uint64_t MARK_MAX_BYTES = 64;

std::string MarkText(const SPageJob& job)
{
    return std::to_string(job.m_nInode) + " " + std::to_string(job.m_nModifiedNs) + "\n";
}

constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr int TEMP_NAME_RANDOM_CHARACTERS = 6;

// Creates a temporary file for pszName beside it in the folder nFolderFd (a dot, the name, a
// dot and random letters), named in strTemp, with the mode the umask leaves of 0666; -1 when
// none could be made.
int CreateTempFileAt(int nFolderFd, const char* pszName, std::string& strTemp)
{
    static constexpr std::string_view LETTERS =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int nAttempt = 0; nAttempt < TEMP_NAME_ATTEMPTS; ++nAttempt)
    {
        strTemp = "." + std::string(pszName) + ".";
        for (int n = 0; n < TEMP_NAME_RANDOM_CHARACTERS; ++n)
            strTemp += LETTERS[random() % LETTERS.size()];
        const int fd =
            ::openat(nFolderFd, strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes Sendwell's mark beside the page count: a temporary file renamed into place.
bool WriteMarkAt(int nDriveFd, const std::string& strText)
{
    std::string strTemp;
    const int fd = CreateTempFileAt(nDriveFd, SENDWELL_PAGES_FILE_NAME, strTemp);
    if (fd < 0)
        return false;
    ssize_t nWritten = 0;
    do
        nWritten = ::write(fd, strText.data(), strText.size());
    while (nWritten < 0 && errno == EINTR);
    bool bOk = nWritten == static_cast<ssize_t>(strText.size()) && ::fdatasync(fd) == 0;
    bOk = ::close(fd) == 0 && bOk;
    bOk = bOk && ::renameat(nDriveFd, strTemp.c_str(), nDriveFd, SENDWELL_PAGES_FILE_NAME) == 0;
    if (!bOk)
        (void)::unlinkat(nDriveFd, strTemp.c_str(), 0);
    return bOk;
}

} // namespace

SPageJob PageJobOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::optional<SPageJob> WaitingPageJob(const std::filesystem::path& driveRoot)
{
    struct stat info = {};
    if (::stat((driveRoot / PAGE_COUNT_FILE_NAME).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return PageJobOf(info);
}

bool IsSendwellsOwnJob(const std::filesystem::path& driveRoot, const SPageJob& job)
{
    return ReadWholeFile(driveRoot / SENDWELL_PAGES_FILE_NAME, MARK_MAX_BYTES) == MarkText(job);
}

bool WritePageCountFile(const std::filesystem::path& driveRoot, int nPages, EPageOrigin eOrigin,
                        std::string& strError, const PageJobNote& fnBeforeRename)
{
    const int nDriveFd = ::open(driveRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (nDriveFd < 0)
    {
        strError = ErrnoText("cannot open the folder " + driveRoot.string());
        return false;
    }
    const bool bOk = WritePageCountFileAt(nDriveFd, driveRoot, nPages, eOrigin, strError, fnBeforeRename);
    ::close(nDriveFd);
    return bOk;
}

bool WritePageCountFileAt(int nDriveFd, const std::filesystem::path& driveRoot, int nPages,
                          EPageOrigin eOrigin, std::string& strError, const PageJobNote& fnBeforeRename)
{
    const auto countPath = driveRoot / PAGE_COUNT_FILE_NAME;
    const auto markPath = driveRoot / SENDWELL_PAGES_FILE_NAME;
    std::string strCountTemp;
    const int fd = CreateTempFileAt(nDriveFd, PAGE_COUNT_FILE_NAME, strCountTemp);
    if (fd < 0)
    {
        strError = ErrnoText("cannot create a file beside " + countPath.string());
        return false;
    }
    const std::uint8_t nCount = PageCountByte(nPages);
    struct stat info = {};
    ssize_t nWritten = 0;
    do
        nWritten = ::write(fd, &nCount, 1);
    while (nWritten < 0 && errno == EINTR);
    // The file is complete once written: the sync and the rename change neither its inode nor
    // its modification time, which thus name the job from here on.
    bool bOk = nWritten == 1 && ::fdatasync(fd) == 0 && ::fstat(fd, &info) == 0;
    if (!bOk)
        strError = ErrnoText("cannot write " + countPath.string(), nWritten == 0 ? ENOSPC : errno);
    if (::close(fd) != 0 && bOk)
    {
        strError = ErrnoText("cannot write " + countPath.string());
        bOk = false;
    }
    if (bOk && eOrigin == EPageOrigin::Sendwell && !WriteMarkAt(nDriveFd, MarkText(PageJobOf(info))))
    {
        strError = "cannot mark the pages as Sendwell's own in " + markPath.string();
        bOk = false;
    }
    // An earlier mark names a count file that is gone, and no later one has both its inode and
    // its time: removing it only keeps the drive root tidy.
    if (bOk && eOrigin == EPageOrigin::Printer)
        (void)::unlinkat(nDriveFd, SENDWELL_PAGES_FILE_NAME, 0);
    if (bOk && fnBeforeRename && !fnBeforeRename(PageJobOf(info), strError))
        bOk = false;
    if (bOk && ::renameat(nDriveFd, strCountTemp.c_str(), nDriveFd, PAGE_COUNT_FILE_NAME) != 0)
    {
        strError = ErrnoText("cannot write " + countPath.string());
        bOk = false;
    }
    if (!bOk)
        (void)::unlinkat(nDriveFd, strCountTemp.c_str(), 0);
    return bOk;
}

} // namespace platform
