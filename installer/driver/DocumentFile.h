#pragma once

#include "installer/driver/FaxBackend.h"

#include <filesystem>
#include <string>

// A document file made into the page files with the fax printer's own rendering (CFaxBackend:
// Ghostscript at 200 dpi on US letter, at most 254 pages, the same refusals and messages), for
// Sendwell's "Sendwell FILE" and a file dropped on its dialog. The backend is run in this
// process as a library, not as the spooler's program.
namespace driver
{

// The documents the renderer reads as they are: PDF and PostScript, known by their first bytes.
enum class EDocumentKind
{
    Pdf,
    PostScript,
    Other,
};

EDocumentKind DocumentKindOf(std::string_view firstBytes);

struct SDocumentResult
{
    EJobResult m_eResult = EJobResult::Failed;
    int m_nPages = 0;
    // One sentence for the user when the result is not Done.
    std::string m_strReason;
};

// Renders the file into the page files of driveRoot. A file that is missing, not a regular
// file, of another kind, or that the printer refuses leaves the earlier page files as they were.
SDocumentResult RenderDocumentFile(const std::filesystem::path& document,
                                   const std::filesystem::path& driveRoot);

} // namespace driver
