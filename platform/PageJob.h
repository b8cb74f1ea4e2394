#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>

// Which job the page files in the drive root are, and who wrote them (platform/PageFiles.h):
// each job's page-count file is a new file renamed into place, so its inode and modification
// time tell one job from the next even when both have as many pages, and survive anything
// that only reads the pages (a preview, a send that fails).
namespace platform
{

enum class EPageOrigin
{
    Printer,  // a print job, for which the watcher opens Sendwell
    Sendwell, // pages Sendwell wrote itself, which it already shows
};

struct SPageJob
{
    std::uint64_t m_nInode = 0;
    std::int64_t m_nModifiedNs = 0;

    bool operator==(const SPageJob&) const = default;
};

SPageJob PageJobOf(const struct stat& info);

// The job whose page-count file is in the drive root now; none without one.
std::optional<SPageJob> WaitingPageJob(const std::filesystem::path& driveRoot);

// Whether Sendwell wrote this job's pages itself.
bool IsSendwellsOwnJob(const std::filesystem::path& driveRoot, const SPageJob& job);

// Writes the page-count file of a job of nPages: a temporary file renamed into place, synced
// first. Pages of Sendwell's own are marked as such before the count takes its name, so that
// a watcher reading the mark when the count arrives finds this job's; a print job removes
// the mark of an earlier one. fnBeforeRename, when given, learns the job that the new file will
// be once it is complete and before it takes its name (so that a note of it can be written
// first); when it fails, with strError, the old page-count file stays.
using PageJobNote = std::function<bool(const SPageJob& newJob, std::string& strError)>;
[[nodiscard]] bool WritePageCountFile(const std::filesystem::path& driveRoot, int nPages, EPageOrigin eOrigin,
                                      std::string& strError, const PageJobNote& fnBeforeRename = {});
// The same in the drive root held open as nDriveFd: every file is named relative to it, so
// that a drive root renamed or replaced meanwhile leads nothing elsewhere. driveRoot names
// it in strError.
[[nodiscard]] bool WritePageCountFileAt(int nDriveFd, const std::filesystem::path& driveRoot, int nPages,
                                        EPageOrigin eOrigin, std::string& strError,
                                        const PageJobNote& fnBeforeRename = {});

} // namespace platform
