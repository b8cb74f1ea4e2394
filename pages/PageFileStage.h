#pragma once

#include "pages/FolderDescriptor.h"
#include "platform/PageFiles.h"
#include "platform/PageJob.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// Puts one print job's page files into the drive root so that a reader never sees a page
// count whose rasters are not all there, and a job that fails leaves the earlier page
// files as they were:
//   1. every page raster is written into a private staging folder beside the page files, in
//      any order, and its way to the disk begins at once;
//   2. Commit() waits until every raster is on the disk, removes the old page-count file, moves
//      the rasters into place, removes the rasters of an older job numbered above this one's
//      pages, and writes the new page-count file last (temporary file + rename);
//   3. a job that is refused or fails is discarded: the staging folder goes, nothing else changes.
// Pages that Sendwell stages itself are marked as its own with the page-count file
// (platform/PageJob.h), so that the watcher does not take them for a print job.
// The drive root is held open from Begin() on, and every file the stage writes, moves or
// removes is named relative to it: a drive root moved or replaced by a link meanwhile leads
// no page elsewhere.
namespace driver
{

class CPageFileStage
{
public:
    // nMaxPages: the most pages a job may have (less only to try the limit quickly).
    explicit CPageFileStage(std::filesystem::path driveRoot, int nMaxPages = platform::MAX_PAGES,
                            platform::EPageOrigin eOrigin = platform::EPageOrigin::Printer);
    CPageFileStage(const CPageFileStage&) = delete;
    CPageFileStage& operator=(const CPageFileStage&) = delete;
    // Discards whatever was not committed.
    ~CPageFileStage();

    // Creates the drive root if needed (a symbolic link in its place is not followed), opens
    // it, and makes a fresh staging folder in it.
    [[nodiscard]] bool Begin();
    const std::filesystem::path& StagingDirectory() const { return m_staging; }

    // Stages page nPage (from 1; a raster of platform::RASTER_BYTES), replacing a page of that
    // number staged before. Refuses a page past the most a job may have, and removes what was
    // staged then. Once the disk has no room for a page, the pages that follow are counted
    // but not kept (so that a job of too many pages is still refused as such), and Commit()
    // fails saying so.
    [[nodiscard]] bool AddPage(int nPage, std::span<const std::uint8_t> raster);
    // Stages the page after the last one staged.
    [[nodiscard]] bool AddPage(std::span<const std::uint8_t> raster)
    {
        return AddPage(m_nLastPage + 1, raster);
    }
    // The pages staged, and the highest page number among them.
    int Pages() const { return m_nPages; }
    int LastPage() const { return m_nLastPage; }
    bool TooManyPages() const { return m_bTooManyPages; }

    // Moves the staged job into place. Refuses a job without pages or with a page missing
    // below its last one.
    [[nodiscard]] bool Commit();
    // Removes the staged pages and nothing else, so that the job can be staged afresh.
    void ClearPages();
    // Removes the staging folder and everything in it.
    void Discard();

    const std::string& Error() const { return m_strError; }

private:
    bool Fail(std::string strError);
    void RemoveStagedRasters();

    std::filesystem::path m_driveRoot;
    std::filesystem::path m_staging;
    std::string m_strStagingName;
    CFolderDescriptor m_driveFolder;
    CFolderDescriptor m_stagingFolder;
    // Why the pages since the disk was full are not kept; empty while there is room.
    std::string m_strOutOfRoom;
    int m_nMaxPages;
    platform::EPageOrigin m_eOrigin;
    int m_nPages = 0;
    int m_nLastPage = 0;
    std::vector<bool> m_abStaged; // by page number - 1
    bool m_bTooManyPages = false;
    std::string m_strError;
};

} // namespace driver
