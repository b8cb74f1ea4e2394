#pragma once

#include "pages/FaxBackend.h"
#include "platform/CancelSignal.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A document file made into the page files with the fax printer's own rendering (CFaxBackend:
// Ghostscript at 200 dpi on US letter, at most 254 pages, the same refusals and messages), for
// Sendwell's "Sendwell FILE" and a file dropped on its dialog. The backend is run in this
// process as a library, not as the spooler's program.
//
// A document reaches the printer's backend as the PDF that the CUPS filters chosen by its PPD
// make of it (pdftopdf, gstopdf, imagetopdf, texttopdf). Here the same filters make it, run by
// cupsfilter with the printer's PPD, so that the pages are the ones printing would give.
namespace driver
{

// The documents the renderer takes: PDF, PostScript and the images by their first bytes.
// Other may still be plain text, which only the whole file tells (CPlainTextCheck).
enum class EDocumentKind
{
    Pdf,
    PostScript,
    Png,
    Jpeg,
    Tiff,
    Text,
    Other,
};

EDocumentKind DocumentKindOf(std::string_view firstBytes);

// The bounds of one rendering, so that no file can take the computer's memory or disk: an image
// is refused above MAX_IMAGE_PIXELS before anything is converted (a fax page holds some 3.7
// million), and each converting or rendering process may take at most this much memory, each
// file it writes and all that the converters write together at most this much disk.
inline constexpr std::uint64_t MAX_IMAGE_PIXELS = 100'000'000;
inline constexpr std::uint64_t MAX_RENDER_MEMORY_BYTES = 1024ULL * 1024 * 1024;
inline constexpr std::uint64_t MAX_RENDER_DISK_BYTES = 1024ULL * 1024 * 1024;

struct SImageSize
{
    std::uint32_t m_nWidth = 0;
    std::uint32_t m_nHeight = 0;
};

// The size of the (first) image of a PNG, JPEG or TIFF file as its header gives it, read
// from fd without reading the pixels; none when the header cannot be read.
std::optional<SImageSize> ImageSizeOf(int fd, EDocumentKind eKind);

struct SDocumentSettings
{
    // The fax printer's PPD, which chooses the filters as the queue does; empty: the installed
    // one in the system directory, else the one beside this program.
    std::filesystem::path m_ppd;
    // CUPS's filter runner; empty: cupsfilter, on PATH or among the administrator's programs.
    std::string m_strCupsfilter;
    // Converting the document into the PDF for the backend takes at most this long.
    std::chrono::milliseconds m_durConvertTimeout = std::chrono::seconds(120);
    // The bounds above; tests make them small.
    std::uint64_t m_nMaxImagePixels = MAX_IMAGE_PIXELS;
    std::uint64_t m_nMaxMemoryBytes = MAX_RENDER_MEMORY_BYTES;
    std::uint64_t m_nMaxDiskBytes = MAX_RENDER_DISK_BYTES;
    // Raised by another thread to stop the rendering: the converter and the renderers are
    // killed at once, and the result is Stopped with the earlier page files as they were.
    const platform::CCancelSignal* m_pCancel = nullptr;
};

struct SDocumentResult
{
    EJobResult m_eResult = EJobResult::Failed;
    int m_nPages = 0;
    // One sentence for the user when the result is not Done.
    std::string m_strReason;
};

// Renders the file into the page files of driveRoot. A file that is missing, not a regular
// file, of another kind, that cannot be converted or that the printer refuses leaves the
// earlier page files as they were.
SDocumentResult RenderDocumentFile(const std::filesystem::path& document,
                                   const std::filesystem::path& driveRoot,
                                   const SDocumentSettings& settings = {});

// Renders several files, in their order, into one job of the page files of driveRoot: each is
// rendered on its own into a private folder, and their pages then go in together, at most
// platform::MAX_PAGES in all. The first file refused or failed ends it, and the earlier page
// files stay as they were. One file is rendered as RenderDocumentFile renders it.
SDocumentResult RenderDocumentFiles(const std::vector<std::filesystem::path>& aDocuments,
                                    const std::filesystem::path& driveRoot,
                                    const SDocumentSettings& settings = {});

} // namespace driver
