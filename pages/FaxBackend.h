#pragma once

#include "platform/CancelSignal.h"
#include "platform/PageFiles.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// The work of the fax printer's backend for one print job: render the job's document with
// Ghostscript at 200 dpi on US letter, one bit a pixel, and leave its pages in the drive
// root as page rasters and a page-count file (see CPageFileStage for the order). A PDF is
// rendered by several Ghostscript processes at once, one per processor core, each taking
// every n-th page; the pages are exactly those one process would render.
// Progress and failures go to the log stream as the spooler reads them from a backend's
// standard error: "INFO: ...", "ERROR: ...", "DEBUG: ..." lines. INFO and ERROR lines become
// the shared printer's state message, which every user reads: they never quote the document,
// name a user or a path; such details go into DEBUG lines, which only the administrator's log
// keeps.
namespace driver
{

enum class EJobResult
{
    Done,
    Refused, // the job itself cannot be faxed: unreadable, no pages, too many pages
    Failed,  // the page files could not be written, or the renderer is missing or broke
    Stopped, // the spooler asked the backend to stop (the job was cancelled)
};

struct SBackendSettings
{
    // The drive root the page files go to.
    std::filesystem::path m_driveRoot;
    // The most pages a job may have: the page-count file's one byte holds pages + 1.
    int m_nMaxPages = platform::MAX_PAGES;
    // The renderer; a name is looked up on PATH.
    std::string m_strGhostscript = "gs";
    // A renderer that produces nothing for this long is taken to hang.
    std::chrono::milliseconds m_durRenderStall = std::chrono::seconds(120);
    // The Ghostscript processes that share a PDF's pages; 0: one per processor core this
    // process may use, at most MAX_RENDERERS. Other documents have one.
    int m_nRenderers = 0;
    // Set (by a signal handler) when the job is to stop.
    const volatile std::sig_atomic_t* m_pStop = nullptr;
    // Raised by another thread when the job is to stop: the renderers are stopped at once.
    const platform::CCancelSignal* m_pCancel = nullptr;
    // The limits each Ghostscript process runs under (platform::SSpawnOptions); 0: none.
    std::uint64_t m_nMaxRendererMemoryBytes = 0;
    std::uint64_t m_nMaxRendererFileBytes = 0;
    std::uint64_t m_nMaxRendererCpuSeconds = 0;
};

class CFaxBackend
{
public:
    static constexpr int MAX_RENDERERS = 4;

    CFaxBackend(SBackendSettings settings, std::ostream& log);

    // Reads the document from nInputFd to its end and makes the page files from it.
    [[nodiscard]] EJobResult Run(int nInputFd);
    // Makes the page files in the drive root from the document (PDF or PostScript) at this
    // path, which the renderer must be able to read; the same rendering as a print job's. This
    // is Sendwell's way to a document file, so the pages are marked as Sendwell's own, not a
    // print job for the watcher.
    [[nodiscard]] EJobResult RenderDocument(const std::filesystem::path& document);

    int Pages() const { return m_nPages; }
    // One sentence for the user when the result is not Done.
    const std::string& Reason() const { return m_strReason; }

    // The Ghostscript arguments that render the document at strInput as a stream of page
    // bitmaps on standard output. Tests render reference pages with the same arguments.
    static std::vector<std::string> RenderArguments(const std::string& strGhostscript,
                                                    const std::string& strInput);

private:
    // Ends the job with a reason that every user of the queue may read.
    EJobResult Stop(EJobResult eResult, std::string strReason);
    // Ends the job with a reason that may quote the document or name the user's folders: it goes
    // to the administrator's log, and the public line says only what kind of failure it was.
    EJobResult StopPrivately(EJobResult eResult, std::string strReason);
    bool StopRequested() const
    {
        return (m_settings.m_pStop != nullptr && *m_settings.m_pStop != 0) ||
               (m_settings.m_pCancel != nullptr && m_settings.m_pCancel->IsRaised());
    }
    EJobResult CopyInput(int nInputFd, const std::filesystem::path& target);
    EJobResult RenderAndCommit(const std::filesystem::path& document, class CPageFileStage& stage);
    EJobResult Render(const std::filesystem::path& document, CPageFileStage& stage);
    EJobResult RenderWith(int nRenderers, bool bPdf, const std::filesystem::path& document,
                          CPageFileStage& stage, bool& bShared);
    int RendererCount() const;
    std::string RendererComplaint(const std::filesystem::path& errorLog) const;

    SBackendSettings m_settings;
    std::ostream& m_log;
    int m_nPages = 0;
    std::string m_strReason;
};

} // namespace driver
