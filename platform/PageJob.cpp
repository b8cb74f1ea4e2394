#include "platform/PageJob.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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
                        std::string& strError)
{
    const auto countPath = driveRoot / PAGE_COUNT_FILE_NAME;
    const auto markPath = driveRoot / SENDWELL_PAGES_FILE_NAME;
    std::string strTemplate = (driveRoot / ("." + std::string(PAGE_COUNT_FILE_NAME) + ".XXXXXX")).string();
    const int fd = ::mkostemp(strTemplate.data(), O_CLOEXEC);
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
    if (bOk && eOrigin == EPageOrigin::Sendwell &&
        !WriteWholeFile(markPath, MarkText(PageJobOf(info)), EWriteMode::Atomic))
    {
        strError = "cannot mark the pages as Sendwell's own in " + markPath.string();
        bOk = false;
    }
    // An earlier mark names a count file that is gone, and no later one has both its inode and
    // its time: removing it only keeps the drive root tidy.
    if (bOk && eOrigin == EPageOrigin::Printer)
        (void)::unlink(markPath.c_str());
    if (bOk && ::rename(strTemplate.c_str(), countPath.c_str()) != 0)
    {
        strError = ErrnoText("cannot write " + countPath.string());
        bOk = false;
    }
    if (!bOk)
        ::unlink(strTemplate.c_str());
    return bOk;
}

} // namespace platform
