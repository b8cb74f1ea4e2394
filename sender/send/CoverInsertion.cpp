#include "sender/send/CoverInsertion.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/PageJob.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/cover/CoverPage.h"
#include "sender/send/SendOperation.h"

#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

// The note is one short line; anything longer is not the note.
constexpr std::uint64_t MARK_MAX_BYTES = 128;

struct SCoverMark
{
    int m_nPrinted = 0;
    platform::SPageJob m_printed;
    std::optional<platform::SPageJob> m_covered;
};

std::string MarkText(const SCoverMark& mark)
{
    const platform::SPageJob covered = mark.m_covered.value_or(platform::SPageJob{});
    return std::to_string(mark.m_nPrinted) + " " + std::to_string(mark.m_printed.m_nInode) + " " +
           std::to_string(mark.m_printed.m_nModifiedNs) + " " + std::to_string(covered.m_nInode) + " " +
           std::to_string(covered.m_nModifiedNs) + "\n";
}

std::optional<SCoverMark> ReadCoverMark()
{
    const auto strText = platform::ReadWholeFile(platform::DrivePath(COVER_MARK_FILE_NAME), MARK_MAX_BYTES);
    if (!strText)
        return std::nullopt;
    std::istringstream in(*strText);
    SCoverMark mark;
    platform::SPageJob covered;
    if (!(in >> mark.m_nPrinted >> mark.m_printed.m_nInode >> mark.m_printed.m_nModifiedNs >>
          covered.m_nInode >> covered.m_nModifiedNs) ||
        mark.m_nPrinted < 1 || mark.m_nPrinted >= platform::MAX_PAGES)
        return std::nullopt;
    if (covered.m_nInode != 0)
        mark.m_covered = covered;
    return mark;
}

bool WriteCoverMark(const SCoverMark& mark, std::string& strError)
{
    if (platform::WriteWholeFile(platform::DrivePath(COVER_MARK_FILE_NAME), MarkText(mark)))
        return true;
    strError = platform::ErrnoText(std::string("cannot write ") + COVER_MARK_FILE_NAME);
    return false;
}

// The renames and the note reach the disk in the order made (one folder, one journal), but only
// once the folder is synced.
void SyncDriveRoot()
{
    const int fd = ::open(platform::DriveRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::fsync(fd);
    ::close(fd);
}

bool IsRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::regular;
}

bool Exists(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

bool Rename(const std::string& strFrom, const std::string& strTo, std::string& strError)
{
    std::error_code error;
    fs::rename(platform::DrivePath(strFrom), platform::DrivePath(strTo), error);
    if (!error)
        return true;
    strError = "cannot move " + strFrom + " to " + strTo + " (" + error.message() + ")";
    return false;
}

// Moves the rasters of pages 1 to nPrinted up one number, from the last down, so that nothing is
// overwritten. Each step is one rename, so at every moment exactly one number from 1 to
// nPrinted + 1 is free: nPrinted + 1 before the first step (a raster there is an older job's,
// which the first step replaces), the page just moved after each, 1 after the last. A move cut
// short thus goes on from the highest free number down, and loses no page.
bool MoveRastersUp(int nPrinted, std::string& strError)
{
    int nFree = nPrinted + 1;
    while (nFree > 1 && Exists(platform::DrivePath(platform::RasterFileName(nFree))))
        --nFree;
    if (nFree == 1 && Exists(platform::DrivePath(platform::RasterFileName(1))))
        nFree = nPrinted + 1; // nothing moved yet; the raster above the job is an older one's
    for (int nPage = nFree - 1; nPage >= 1; --nPage)
        if (!Rename(platform::RasterFileName(nPage), platform::RasterFileName(nPage + 1), strError))
            return false;
    return true;
}

// Everything after the note of the printed job: the rasters move up, the cover takes page 1 and
// the page-count file counts it, noted as the covered one before it takes its name. A step done
// already is seen as done: the staged cover is gone only once it is page 1.
bool CompleteInsertion(SCoverMark mark, std::string& strError)
{
    if (Exists(platform::DrivePath(COVER_STAGING_FILE_NAME)))
    {
        if (!MoveRastersUp(mark.m_nPrinted, strError) ||
            !Rename(COVER_STAGING_FILE_NAME, platform::RasterFileName(1), strError))
            return false;
        SyncDriveRoot();
    }
    // Sendwell shows these pages already: the watcher is not to take them for a new print job.
    return platform::WritePageCountFile(platform::DriveRoot(), mark.m_nPrinted + 1,
                                        platform::EPageOrigin::Sendwell, strError,
                                        [&mark](const platform::SPageJob& covered, std::string& strNoteError)
                                        {
                                            mark.m_covered = covered;
                                            return WriteCoverMark(mark, strNoteError);
                                        });
}

enum class ECoverState
{
    None,       // no note, or a stale one
    InProgress, // the page-count file is the printed job's that the note names
    In,         // the page-count file is the covered one
};

ECoverState CoverState(std::optional<SCoverMark>& mark)
{
    mark = ReadCoverMark();
    const auto job = platform::WaitingPageJob(platform::DriveRoot());
    if (!mark || !job)
        return ECoverState::None;
    if (mark->m_covered && *mark->m_covered == *job)
        return ECoverState::In;
    if (mark->m_printed == *job)
        return ECoverState::InProgress;
    return ECoverState::None;
}

// The page-count byte, read as the rest of the send reads it.
std::optional<std::uint8_t> ReadCountByte()
{
    platform::CFileReader countFile;
    std::uint8_t nCount = 0;
    if (!countFile.Open(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME)) || !countFile.ReadByte(nCount))
        return std::nullopt;
    return nCount;
}

} // namespace

void RemoveCoverFiles()
{
    std::error_code ignored;
    fs::remove(platform::DrivePath(COVER_MARK_FILE_NAME), ignored);
    fs::remove(platform::DrivePath(COVER_STAGING_FILE_NAME), ignored);
}

bool FinishCoverInsertion(std::string& strError)
{
    std::optional<SCoverMark> mark;
    switch (CoverState(mark))
    {
    case ECoverState::In:
        return true;
    case ECoverState::InProgress:
        return CompleteInsertion(*mark, strError);
    case ECoverState::None:
        break;
    }
    RemoveCoverFiles();
    return true;
}

bool WaitingFaxHasCover()
{
    std::optional<SCoverMark> mark;
    return CoverState(mark) == ECoverState::In;
}

SCoverInsertion InsertCoverPage(const SCoverRequest& request)
{
    SCoverInsertion insertion;
    if (!FinishCoverInsertion(insertion.m_strError))
    {
        insertion.m_eResult = ECoverInsertion::CannotMove;
        return insertion;
    }
    if (WaitingFaxHasCover())
    {
        insertion.m_eResult = ECoverInsertion::AlreadyIn;
        return insertion;
    }
    const auto nCount = ReadCountByte();
    const auto job = platform::WaitingPageJob(platform::DriveRoot());
    const int nPrinted = nCount ? platform::PagesOfCountByte(*nCount) : 0;
    if (nPrinted == 0 || !job)
        return insertion; // NoPages
    if (nPrinted + 1 > platform::MAX_PAGES)
    {
        insertion.m_eResult = ECoverInsertion::TooManyPages;
        return insertion;
    }
    if (WaitingFaxPagesAreMade())
    {
        insertion.m_eResult = ECoverInsertion::MadeWithoutCover;
        return insertion;
    }
    for (int nPage = 1; nPage <= nPrinted; ++nPage)
        if (!IsRegularFile(platform::DrivePath(platform::RasterFileName(nPage))))
        {
            insertion.m_eResult = ECoverInsertion::RasterMissing;
            return insertion;
        }

    // Drawn before anything moves: a template that cannot be drawn leaves every file as it was.
    SCoverFields fields = request.m_fields;
    fields.m_nPages = nPrinted + 1;
    fields.m_strDate.clear(); // today
    if (!WriteCoverPage(fields, request.m_template, platform::DrivePath(COVER_STAGING_FILE_NAME),
                        insertion.m_strError))
    {
        RemoveCoverFiles();
        insertion.m_eResult = ECoverInsertion::CannotDraw;
        return insertion;
    }
    // The note comes before the first move, so that a send after a crash finds where this one was.
    SCoverMark mark;
    mark.m_nPrinted = nPrinted;
    mark.m_printed = *job;
    if (!WriteCoverMark(mark, insertion.m_strError))
    {
        RemoveCoverFiles();
        insertion.m_eResult = ECoverInsertion::CannotMove;
        return insertion;
    }
    SyncDriveRoot();
    insertion.m_eResult = CompleteInsertion(mark, insertion.m_strError) ? ECoverInsertion::Inserted
                                                                        : ECoverInsertion::CannotMove;
    return insertion;
}

std::string CoverInsertionText(const SCoverInsertion& insertion)
{
    switch (insertion.m_eResult)
    {
    case ECoverInsertion::TooManyPages:
        return "Sorry, a fax may have at most " + std::to_string(platform::MAX_PAGES) +
               " pages, the cover page included, and this one has " + std::to_string(platform::MAX_PAGES) +
               " without it, so nothing was sent; please send it without a cover page";
    case ECoverInsertion::MadeWithoutCover:
        return "Sorry, the fax pages were made without a cover page, so nothing was sent; please print "
               "the document again to send it with a cover page";
    case ECoverInsertion::CannotDraw:
        return "Sorry, the cover page cannot be drawn, so nothing was sent: " + insertion.m_strError;
    case ECoverInsertion::CannotMove:
        return "Sorry, the cover page could not be put in as page 1, so nothing was sent: " +
               insertion.m_strError;
    case ECoverInsertion::Inserted:
    case ECoverInsertion::AlreadyIn:
    case ECoverInsertion::NoPages:
    case ECoverInsertion::RasterMissing:
        break;
    }
    return "";
}
