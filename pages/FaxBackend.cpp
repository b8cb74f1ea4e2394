#include "pages/FaxBackend.h"

#include "pages/FaxPrinter.h"
#include "pages/PageFileStage.h"
#include "pages/PnmPageReader.h"
#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace driver
{

namespace
{

using Clock = std::chrono::steady_clock;

// The printer's name, which begins most messages.
const std::string PRINTER(PRINTER_NAME);
// What every user of the queue may read about a job that failed for a reason of its own.
const std::string PUBLIC_CANNOT_RENDER = PRINTER + " cannot render this document. Nothing was written.";
const std::string PUBLIC_CANNOT_FINISH =
    PRINTER + " could not finish this job; the administrator's log says why. Nothing was written.";

constexpr const char* DOCUMENT_NAME = "document";
constexpr std::string_view PDF_MAGIC = "%PDF-";
constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr int POLL_SLICE_MS = 500;
constexpr std::size_t MAX_COMPLAINT_BYTES = 200;
constexpr std::uint64_t MAX_RENDERER_LOG_BYTES = 64 * 1024;
// After its last page the renderer has this long to end.
constexpr std::chrono::seconds RENDERER_EXIT_TIMEOUT{30};
// What is trimmed around a line of the renderer's output; at its start also the stars that
// Ghostscript puts before its errors and warnings.
constexpr std::string_view LINE_BLANKS = " \t\r\n";
constexpr std::string_view LINE_LEAD = " \t\r\n*";

// Calls onLine with each line of text that is not blank, trimmed.
template <typename OnLine> void ForEachLine(std::string_view text, OnLine onLine)
{
    std::size_t nStart = 0;
    while (nStart < text.size())
    {
        std::size_t nEnd = text.find('\n', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = text.size();
        const std::string strLine(platform::TrimEnd(
            platform::TrimStart(text.substr(nStart, nEnd - nStart), LINE_LEAD), LINE_BLANKS));
        if (!strLine.empty())
            onLine(strLine);
        nStart = nEnd + 1;
    }
}

constexpr std::string_view PAGE_COUNT_MARK = "%%VellumPages: ";
constexpr int RENDERER_PIPE_BYTES = 1024 * 1024;

// PostScript that each of nRenderers renderers of a PDF runs before the document. It counts
// the document's pages and prints the count (PAGE_COUNT_MARK, then the number) for the
// backend. A renderer then renders nothing when there are more pages than a job may have, or
// when the pages cannot be counted and others share the work (the backend then has the
// document rendered by one process); otherwise it keeps its share, every nRenderers-th page
// from page nRenderer + 1 on, as the page list that the PDF interpreter honours.
std::string PageSharePrologue(int nRenderer, int nRenderers, int nMaxPages)
{
    const std::string strFirst = std::to_string(nRenderer + 1);
    const std::string strStep = std::to_string(nRenderers);
    // The count opens the document as the interpreter's own run does, and closes it again
    // without touching the page device. A document that cannot be opened leaves the count at
    // -1, and whatever the failure left on the stacks is cleared.
    return "/VellumPages -1 def "
           "countdictstack mark "
           "{ VellumDocument (r) file runpdfbegin pdfpagecount pdfclose PDFSave restore end "
           "/VellumPages exch def } stopped pop cleartomark "
           "countdictstack exch sub { end } repeat "
           "(" +
           std::string(PAGE_COUNT_MARK) + ") print VellumPages = flush " + "VellumPages " +
           std::to_string(nMaxPages) + " gt { quit } if " + "VellumPages 1 lt { " + strStep +
           " 1 gt { quit } if } { " + strStep + " 1 gt { " + strFirst + " VellumPages gt { quit } if " +
           "/VellumList () def " + strFirst + " " + strStep +
           " VellumPages { 10 string cvs VellumList length 0 gt "
           "{ VellumList (,) concatstrings exch concatstrings } if /VellumList exch def } for "
           "/PageList VellumList def } if } ifelse";
}

// One Ghostscript process and the pages it delivers: renderer nRenderer of nRenderers renders
// pages nRenderer + 1, nRenderer + 1 + nRenderers, and so on, and they are staged under
// those numbers as they come.
struct SRenderer
{
    SRenderer(int nRenderer, int nRenderers, CPageFileStage& stage, std::ostream& log)
        : m_nRenderer(nRenderer), m_nRenderers(nRenderers),
          m_reader(
              [this, &stage, &log](const std::vector<std::uint8_t>& raster)
              {
                  const int nPage = m_nRenderer + 1 + m_nDelivered * m_nRenderers;
                  if (!stage.AddPage(nPage, raster))
                      return false;
                  ++m_nDelivered;
                  log << "INFO: Rendered page " << nPage << std::endl;
                  return true;
              })
    {
    }

    // The pages of a document of nPages that are this renderer's share.
    int SharedPages(long nPages) const
    {
        return m_nRenderer + 1 <= nPages ? static_cast<int>((nPages - m_nRenderer - 1) / m_nRenderers) + 1
                                         : 0;
    }

    int m_nRenderer;
    int m_nRenderers;
    int m_nDelivered = 0;
    platform::CProcess m_process;
    std::filesystem::path m_errorLog;
    CPnmPageReader m_reader;
    bool m_bOutputOpen = true;
};

// The page count a renderer printed into its log before anything else of the document; -1
// when there is none.
long CountedPages(const std::filesystem::path& errorLog)
{
    platform::CFileReader reader;
    std::string strHead(MAX_RENDERER_LOG_BYTES, '\0');
    strHead.resize(reader.Open(errorLog) ? reader.Read(strHead.data(), strHead.size()) : 0);
    long nPages = -1;
    ForEachLine(strHead,
                [&](const std::string& strLine)
                {
                    if (nPages != -1 || strLine.rfind(PAGE_COUNT_MARK, 0) != 0)
                        return;
                    const std::string strNumber = strLine.substr(PAGE_COUNT_MARK.size());
                    if (!strNumber.empty() && strNumber.size() < 10 &&
                        std::all_of(strNumber.begin(), strNumber.end(),
                                    [](char ch) { return ch >= '0' && ch <= '9'; }))
                        nPages = std::stol(strNumber);
                });
    return nPages;
}

// The renderer's environment: nothing of the spooler's, and temporary files in the job's own
// folder (the spooler's temporary folder is not the user's to write).
std::vector<std::string> RendererEnvironment(const std::filesystem::path& tempDir)
{
    const char* pszPath = std::getenv("PATH");
    return {std::string("PATH=") + (pszPath != nullptr ? pszPath : "/usr/bin:/bin"),
            "TMPDIR=" + tempDir.string(), "LC_ALL=C"};
}

} // namespace

CFaxBackend::CFaxBackend(SBackendSettings settings, std::ostream& log)
    : m_settings(std::move(settings)), m_log(log)
{
}

std::vector<std::string> CFaxBackend::RenderArguments(const std::string& strGhostscript,
                                                      const std::string& strInput)
{
    const std::string strSize =
        std::to_string(platform::RASTER_ROW_BYTES) + "x" + std::to_string(platform::RASTER_ROWS);
    return {strGhostscript, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw",
            "-r" + std::to_string(platform::RASTER_DPI), "-g" + strSize,
            // Every page becomes US letter; a PDF page of another size is scaled to fit.
            "-dFIXEDMEDIA", "-dPDFFitPage",
            // PostScript that prints to its standard output must not mix with the pages.
            "-sstdout=%stderr", "-sOutputFile=-", "-f", strInput};
}

EJobResult CFaxBackend::Stop(EJobResult eResult, std::string strReason)
{
    // The spooler's clients refuse text values with control characters in them.
    m_strReason = platform::PrintableUtf8(strReason);
    m_log << "ERROR: " << m_strReason << std::endl;
    return eResult;
}

EJobResult CFaxBackend::StopPrivately(EJobResult eResult, std::string strReason)
{
    // An ERROR line becomes the printer's state message, which every user of the shared queue
    // reads; the reason may quote the document (Ghostscript's complaint does) or name the
    // user's folders, so it goes only into the administrator's log. The reason itself stays
    // for a caller that renders the user's own file for them.
    m_strReason = platform::PrintableUtf8(strReason);
    m_log << "DEBUG: " << m_strReason << std::endl;
    m_log << "ERROR: " << (eResult == EJobResult::Refused ? PUBLIC_CANNOT_RENDER : PUBLIC_CANNOT_FINISH)
          << std::endl;
    return eResult;
}

EJobResult CFaxBackend::Run(int nInputFd)
{
    m_nPages = 0;
    m_strReason.clear();
    CPageFileStage stage(m_settings.m_driveRoot, m_settings.m_nMaxPages);
    if (!stage.Begin())
        return StopPrivately(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());

    const auto document = stage.StagingDirectory() / DOCUMENT_NAME;
    const EJobResult eResult = CopyInput(nInputFd, document);
    if (eResult != EJobResult::Done)
        return eResult;
    // The spooler's filters hand on nothing when they could not convert the document (PostScript
    // with an error, say): that is a document that cannot be printed, not one without pages.
    std::error_code error;
    if (std::filesystem::file_size(document, error) == 0 && !error)
        return StopPrivately(
            EJobResult::Refused,
            "The job reached " + PRINTER +
                " empty: the spooler's filters could not convert the document for printing.");
    return RenderAndCommit(document, stage);
}

EJobResult CFaxBackend::RenderDocument(const std::filesystem::path& document)
{
    m_nPages = 0;
    m_strReason.clear();
    CPageFileStage stage(m_settings.m_driveRoot, m_settings.m_nMaxPages, platform::EPageOrigin::Sendwell);
    if (!stage.Begin())
        return StopPrivately(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());
    return RenderAndCommit(document, stage);
}

EJobResult CFaxBackend::RenderAndCommit(const std::filesystem::path& document, CPageFileStage& stage)
{
    const EJobResult eResult = Render(document, stage);
    if (eResult != EJobResult::Done)
        return eResult; // the stage discards itself: the earlier page files stay as they were

    if (!stage.Commit())
        return StopPrivately(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());
    m_nPages = stage.Pages();
    m_log << "INFO: " << m_nPages << (m_nPages == 1 ? " page" : " pages") << " ready to send as a fax"
          << std::endl;
    return EJobResult::Done;
}

EJobResult CFaxBackend::CopyInput(int nInputFd, const std::filesystem::path& target)
{
    platform::CFileWriter writer;
    if (!writer.Create(target))
        return StopPrivately(EJobResult::Failed, PRINTER + " cannot store the job: " + writer.Error());
    std::vector<char> chunk(READ_CHUNK);
    for (;;)
    {
        if (StopRequested())
            return Stop(EJobResult::Stopped, "The job was stopped.");
        const ssize_t n = ::read(nInputFd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return StopPrivately(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot read the job"));
        if (n == 0)
            break;
        writer.Write(chunk.data(), static_cast<std::size_t>(n));
    }
    if (!writer.Close())
        return StopPrivately(EJobResult::Failed, PRINTER + " cannot store the job: " + writer.Error());
    return EJobResult::Done;
}

std::string CFaxBackend::RendererComplaint(const std::filesystem::path& errorLog) const
{
    const auto text = platform::ReadWholeFile(errorLog, MAX_RENDERER_LOG_BYTES).value_or(std::string());
    std::string strFirst;
    std::string strLast;
    ForEachLine(text,
                [&](const std::string& strLine)
                {
                    m_log << "DEBUG: Ghostscript: " << platform::PrintableUtf8(strLine) << std::endl;
                    // Ghostscript's own first complaint ("Error: /undefined in ...") says most.
                    if (strFirst.empty() && strLine.find("rror") != std::string::npos)
                        strFirst = strLine;
                    strLast = strLine;
                });
    std::string strComplaint = strFirst.empty() ? strLast : strFirst;
    if (strComplaint.size() > MAX_COMPLAINT_BYTES)
        strComplaint = strComplaint.substr(0, MAX_COMPLAINT_BYTES) + "...";
    return strComplaint;
}

int CFaxBackend::RendererCount() const
{
    if (m_settings.m_nRenderers > 0)
        return std::min(m_settings.m_nRenderers, MAX_RENDERERS);
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int nCores = ::sched_getaffinity(0, sizeof cores, &cores) == 0
                           ? CPU_COUNT(&cores)
                           : static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(nCores, 1, MAX_RENDERERS);
}

EJobResult CFaxBackend::Render(const std::filesystem::path& document, CPageFileStage& stage)
{
    platform::CFileReader reader;
    char magic[PDF_MAGIC.size()] = {};
    const bool bPdf = reader.Open(document) && reader.Read(magic, sizeof magic) == sizeof magic &&
                      std::string_view(magic, sizeof magic) == PDF_MAGIC;
    reader.Close();

    // Only a PDF says how many pages it has before they are rendered, which is what sharing
    // them out needs; other documents are rendered by one process and counted as they come.
    const int nRenderers = bPdf ? RendererCount() : 1;
    bool bShared = true;
    const EJobResult eResult = RenderWith(nRenderers, bPdf, document, stage, bShared);
    if (eResult != EJobResult::Done || bShared)
        return eResult;
    // A document that could not be counted, or one with a page that Ghostscript could not draw
    // at all and left out (so that the shares no longer say which page is which), is rendered
    // again by one process, as it always was.
    m_log << "DEBUG: the renderers did not deliver the pages the document counts; rendering it again in one "
             "process"
          << std::endl;
    stage.ClearPages();
    return RenderWith(1, bPdf, document, stage, bShared);
}

EJobResult CFaxBackend::RenderWith(int nRenderers, bool bPdf, const std::filesystem::path& document,
                                   CPageFileStage& stage, bool& bShared)
{
    std::vector<std::unique_ptr<SRenderer>> renderers;
    for (int nRenderer = 0; nRenderer < nRenderers; ++nRenderer)
    {
        auto pRenderer = std::make_unique<SRenderer>(nRenderer, nRenderers, stage, m_log);
        pRenderer->m_errorLog = stage.StagingDirectory() / ("render-" + std::to_string(nRenderer) + ".log");
        const int nErrorFd =
            ::open(pRenderer->m_errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (nErrorFd < 0)
            return StopPrivately(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot store the job"));

        platform::SSpawnOptions spawn;
        spawn.m_aEnvironment = RendererEnvironment(stage.StagingDirectory());
        spawn.m_eInput = platform::EChildStream::Null;
        spawn.m_eOutput = platform::EChildStream::Pipe;
        spawn.m_eErrors = platform::EChildStream::Descriptor;
        spawn.m_nErrorsFd = nErrorFd;
        spawn.m_nMaxAddressSpaceBytes = m_settings.m_nMaxRendererMemoryBytes;
        spawn.m_nMaxFileBytes = m_settings.m_nMaxRendererFileBytes;
        spawn.m_nMaxCpuSeconds = m_settings.m_nMaxRendererCpuSeconds;
        auto args = RenderArguments(m_settings.m_strGhostscript, document.string());
        if (bPdf)
        {
            // The page count and this renderer's share come before the document.
            const std::vector<std::string> prologue = {
                "--permit-file-read=" + document.string(), "-sVellumDocument=" + document.string(), "-c",
                PageSharePrologue(nRenderer, nRenderers, m_settings.m_nMaxPages)};
            args.insert(args.end() - 2, prologue.begin(), prologue.end());
        }
        const bool bStarted = pRenderer->m_process.Start(args, spawn);
        ::close(nErrorFd);
        if (!bStarted)
            return Stop(EJobResult::Failed, PRINTER + " cannot start Ghostscript (" +
                                                pRenderer->m_process.Error() +
                                                "); is the ghostscript package installed?");
        // Room for two bitmap pages in the pipe: the renderer draws on while a page is stored.
        (void)::fcntl(pRenderer->m_process.OutputFd(), F_SETPIPE_SZ, RENDERER_PIPE_BYTES);
        renderers.push_back(std::move(pRenderer));
    }

    std::vector<std::uint8_t> chunk(READ_CHUNK);
    std::vector<pollfd> polled;
    std::vector<SRenderer*> open;
    auto lastProgress = Clock::now();
    for (;;)
    {
        if (StopRequested())
            return Stop(EJobResult::Stopped, "The job was stopped.");
        polled.clear();
        open.clear();
        for (const auto& pRenderer : renderers)
            if (pRenderer->m_bOutputOpen)
            {
                polled.push_back({pRenderer->m_process.OutputFd(), POLLIN, 0});
                open.push_back(pRenderer.get());
            }
        if (open.empty())
            break;
        // A cancel signal's descriptor ends the wait as soon as it is raised.
        const int nCancelFd = m_settings.m_pCancel != nullptr ? m_settings.m_pCancel->Descriptor() : -1;
        if (nCancelFd >= 0)
            polled.push_back({nCancelFd, POLLIN, 0});
        const int nReady = ::poll(polled.data(), polled.size(), POLL_SLICE_MS);
        if (nCancelFd >= 0)
            polled.pop_back();
        if (StopRequested())
            return Stop(EJobResult::Stopped, "The job was stopped.");
        if (nReady < 0 && errno != EINTR)
            return StopPrivately(EJobResult::Failed,
                                 platform::ErrnoText(PRINTER + " cannot read the rendered pages"));
        if (nReady <= 0)
        {
            if (Clock::now() - lastProgress > m_settings.m_durRenderStall)
                return Stop(EJobResult::Refused,
                            "Ghostscript stopped making progress on this job; it was given up.");
            continue;
        }
        for (std::size_t i = 0; i < polled.size(); ++i)
        {
            if (polled[i].revents == 0)
                continue;
            SRenderer& renderer = *open[i];
            const ssize_t n = ::read(polled[i].fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return StopPrivately(EJobResult::Failed,
                                     platform::ErrnoText(PRINTER + " cannot read the rendered pages"));
            if (n == 0)
            {
                renderer.m_bOutputOpen = false;
                renderer.m_process.CloseOutput();
                continue;
            }
            lastProgress = Clock::now();
            switch (renderer.m_reader.Feed(chunk.data(), static_cast<std::size_t>(n)))
            {
            case EFeedResult::More:
                break;
            case EFeedResult::BadStream:
                return StopPrivately(EJobResult::Failed, "Ghostscript produced pages " + PRINTER +
                                                             " cannot read: " + renderer.m_reader.Error());
            case EFeedResult::Stopped:
                if (stage.TooManyPages())
                    return Stop(EJobResult::Refused,
                                "The job has more than " + std::to_string(m_settings.m_nMaxPages) +
                                    " pages; the fax printer " + PRINTER + " takes at most " +
                                    std::to_string(m_settings.m_nMaxPages) + ". Nothing was written.");
                return StopPrivately(EJobResult::Failed,
                                     PRINTER + " cannot store the pages: " + stage.Error());
            }
        }
    }

    for (const auto& pRenderer : renderers)
    {
        platform::CProcess& renderer = pRenderer->m_process;
        if (renderer.Wait(RENDERER_EXIT_TIMEOUT) == platform::EWaitResult::TimedOut)
            return Stop(EJobResult::Refused, "Ghostscript did not finish this job; it was given up.");
        if (!renderer.Succeeded())
        {
            const std::string strComplaint = RendererComplaint(pRenderer->m_errorLog);
            return StopPrivately(EJobResult::Refused,
                                 PRINTER + " cannot print this document: Ghostscript cannot render it (" +
                                     renderer.Describe() + (strComplaint.empty() ? "" : ": " + strComplaint) +
                                     "). Nothing was written.");
        }
    }
    // Every renderer of a PDF counted its pages; more than a job may have, and none rendered any.
    const long nCounted = bPdf ? CountedPages(renderers.front()->m_errorLog) : -1;
    if (nCounted > m_settings.m_nMaxPages)
        return Stop(EJobResult::Refused, "The job has " + std::to_string(nCounted) +
                                             " pages; the fax printer " + PRINTER + " takes at most " +
                                             std::to_string(m_settings.m_nMaxPages) +
                                             ". Nothing was written.");
    for (const auto& pRenderer : renderers)
        if (!pRenderer->m_reader.Finish())
            return StopPrivately(EJobResult::Failed, "Ghostscript produced pages " + PRINTER +
                                                         " cannot read: " + pRenderer->m_reader.Error());
    // The shares hold when the document was counted and every renderer delivered exactly the
    // pages the count gave it; otherwise the caller has one process render it all.
    bShared = nRenderers == 1 || (nCounted >= 1 && std::all_of(renderers.begin(), renderers.end(),
                                                               [&](const auto& pRenderer) {
                                                                   return pRenderer->m_nDelivered ==
                                                                          pRenderer->SharedPages(nCounted);
                                                               }));
    if (!bShared)
        return EJobResult::Done;
    if (stage.Pages() == 0)
        return Stop(EJobResult::Refused, "The job has no pages to fax. Nothing was written.");
    return EJobResult::Done;
}

} // namespace driver
