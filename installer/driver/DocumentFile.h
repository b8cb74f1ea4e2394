#pragma once

#include "installer/driver/FaxBackend.h"

#include <chrono>
#include <filesystem>
#include <string>

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

struct SDocumentSettings
{
    // The fax printer's PPD, which chooses the filters as the queue does; empty: the installed
    // one in the system directory, else the one beside this program.
    std::filesystem::path ppd;
    // CUPS's filter runner; empty: cupsfilter, on PATH or among the administrator's programs.
    std::string strCupsfilter;
    // Converting the document into the PDF for the backend takes at most this long.
    std::chrono::milliseconds convertTimeout = std::chrono::seconds(120);
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

} // namespace driver
