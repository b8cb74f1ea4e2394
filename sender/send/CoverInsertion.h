#pragma once

#include "sender/cover/CoverRequest.h"

#include <string>

// Putting a cover page in as page 1 of the waiting fax, before Pagemill runs: the printed
// rasters move up one number, the cover's raster becomes quill.1 and the page-count file counts
// it. The stored page files keep their shape; two files of the send's own sit beside them in
// the drive root while the fax waits:
//   .quill.cover   the cover's raster, drawn before anything moves
//   .Page.cover    the note of an insertion: "<printed pages> <inode> <mtime> <inode> <mtime>\n",
//                  the page-count file of the printed job and the one that counts the cover
//                  (0 0 until it is written), as platform/PageJob.h names a job
// The note is what makes a retry safe: a fax whose page-count file is the covered one has its
// cover already and gets no second, and one whose page-count file is still the printed one was
// cut short and is finished. Any other page-count file is a new job, and the note is stale.
// Both files go with the page-count file.

inline constexpr const char* COVER_STAGING_FILE_NAME = ".quill.cover";
inline constexpr const char* COVER_MARK_FILE_NAME = ".Page.cover";

enum class ECoverInsertion
{
    Inserted,
    // The waiting page-count file is the covered one of an earlier attempt.
    AlreadyIn,
    // No page-count file, or one of no pages: the send reports that as it always has.
    NoPages,
    // A printed raster is missing: Pagemill reports that as it always has.
    RasterMissing,
    // Refused, nothing moved: the fax and the cover are more than platform::MAX_PAGES.
    TooManyPages,
    // Refused, nothing moved: the fax pages were made without a cover, their rasters are gone.
    MadeWithoutCover,
    // Refused, nothing moved: the template cannot be read or drawn (strError names it).
    CannotDraw,
    // The files could not be moved or written (strError says which); what moved is noted, and
    // the next send finishes it.
    CannotMove,
};

struct SCoverInsertion
{
    ECoverInsertion m_eResult = ECoverInsertion::NoPages;
    std::string m_strError;
};

// Puts request's cover in as page 1 of the waiting fax, drawn with the fax's page count (the
// cover included) and today's date; see above for a retry.
SCoverInsertion InsertCoverPage(const SCoverRequest& request);

// Finishes an insertion that was cut short (a crash, a full disk), so that no printed page is
// lost whether or not this send asks for a cover, and forgets a stale note. False with strError
// when it cannot be finished; the files then stay as they are, for the next try.
[[nodiscard]] bool FinishCoverInsertion(std::string& strError);

// Whether the waiting fax's page 1 is a cover that the send put in.
bool WaitingFaxHasCover();

// Removes the note and the staged cover; the send calls it where it removes the page-count file.
void RemoveCoverFiles();

// The message for a refused or failed insertion.
std::string CoverInsertionText(const SCoverInsertion& insertion);
