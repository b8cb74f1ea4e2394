#include "installer/driver/FaxBackend.h"

#include "installer/driver/FaxPrinter.h"
#include "installer/driver/PageFileStage.h"
#include "installer/driver/PnmPageReader.h"
#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace driver
{

namespace
{

using Clock = std::chrono::steady_clock;

// The printer's name, which begins most messages.
const std::string PRINTER(PRINTER_NAME);

constexpr const char* DOCUMENT_NAME = "document";
constexpr const char* RENDERER_LOG_NAME = "render.log";
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
    // The reason may quote the document (Ghostscript's complaint does), and it becomes the job's
    // state message: the spooler's clients refuse text values with control characters in them.
    m_strReason = platform::PrintableUtf8(strReason);
    m_log << "ERROR: " << m_strReason << std::endl;
    return eResult;
}

EJobResult CFaxBackend::Run(int nInputFd)
{
    m_nPages = 0;
    m_strReason.clear();
    CPageFileStage stage(m_settings.driveRoot, m_settings.nMaxPages);
    if (!stage.Begin())
        return Stop(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());

    const auto document = stage.StagingDirectory() / DOCUMENT_NAME;
    EJobResult eResult = CopyInput(nInputFd, document);
    if (eResult == EJobResult::Done)
        eResult = CheckPageCount(document);
    if (eResult == EJobResult::Done)
        eResult = Render(document, stage);
    if (eResult != EJobResult::Done)
        return eResult; // the stage discards itself: the earlier page files stay as they were

    if (!stage.Commit())
        return Stop(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());
    m_nPages = stage.Pages();
    m_log << "INFO: " << m_nPages << (m_nPages == 1 ? " page" : " pages") << " ready to send as a fax"
          << std::endl;
    return EJobResult::Done;
}

EJobResult CFaxBackend::CopyInput(int nInputFd, const std::filesystem::path& target)
{
    platform::CFileWriter writer;
    if (!writer.Create(target))
        return Stop(EJobResult::Failed, PRINTER + " cannot store the job: " + writer.Error());
    std::vector<char> chunk(READ_CHUNK);
    for (;;)
    {
        if (StopRequested())
            return Stop(EJobResult::Stopped, "The job was stopped.");
        const ssize_t n = ::read(nInputFd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Stop(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot read the job"));
        if (n == 0)
            break;
        writer.Write(chunk.data(), static_cast<std::size_t>(n));
    }
    if (!writer.Close())
        return Stop(EJobResult::Failed, PRINTER + " cannot store the job: " + writer.Error());
    return EJobResult::Done;
}

EJobResult CFaxBackend::CheckPageCount(const std::filesystem::path& document)
{
    // A PDF document says how many pages it has, so a job that is too long is refused before
    // hundreds of pages are rendered only to be thrown away. Other documents are counted while
    // they are rendered.
    platform::CFileReader reader;
    char magic[5] = {};
    if (!reader.Open(document) || reader.Read(magic, sizeof magic) != sizeof magic ||
        std::string_view(magic, sizeof magic) != PDF_MAGIC)
        return EJobResult::Done;
    reader.Close();

    platform::SRunOptions options;
    options.m_aEnvironment = RendererEnvironment(document.parent_path());
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = m_settings.countTimeout;
    const auto result = platform::RunProgram(
        {m_settings.strGhostscript, "-q", "-dNODISPLAY", "-dSAFER", "-dBATCH", "-dNOPAUSE",
         "--permit-file-read=" + document.string(), "-sVellumDocument=" + document.string(), "-c",
         "VellumDocument (r) file runpdfbegin pdfpagecount = quit"},
        options);
    if (result.m_eOutcome == platform::EOutcome::NotStarted)
        return Stop(EJobResult::Failed, PRINTER + " cannot start Ghostscript (" + result.Describe() +
                                            "); is the ghostscript package installed?");
    // The count is the last line that is a number; a damaged document gives none, or 0,
    // and is left for the rendering to judge.
    long nPages = -1;
    ForEachLine(result.m_strOutput,
                [&](const std::string& strLine)
                {
                    if (strLine.size() < 10 && std::all_of(strLine.begin(), strLine.end(),
                                                           [](char ch) { return ch >= '0' && ch <= '9'; }))
                        nPages = std::stol(strLine);
                });
    if (nPages > m_settings.nMaxPages)
        return Stop(EJobResult::Refused, "The job has " + std::to_string(nPages) +
                                             " pages; the fax printer " + PRINTER + " takes at most " +
                                             std::to_string(m_settings.nMaxPages) + ". Nothing was written.");
    if (nPages > 0)
        m_log << "DEBUG: the document has " << nPages << " pages" << std::endl;
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

EJobResult CFaxBackend::Render(const std::filesystem::path& document, CPageFileStage& stage)
{
    const auto errorLog = stage.StagingDirectory() / RENDERER_LOG_NAME;
    const int nErrorFd = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (nErrorFd < 0)
        return Stop(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot store the job"));

    platform::SSpawnOptions spawn;
    spawn.m_aEnvironment = RendererEnvironment(stage.StagingDirectory());
    spawn.m_eInput = platform::EChildStream::Null;
    spawn.m_eOutput = platform::EChildStream::Pipe;
    spawn.m_eErrors = platform::EChildStream::Descriptor;
    spawn.m_nErrorsFd = nErrorFd;
    platform::CProcess renderer;
    const bool bStarted =
        renderer.Start(RenderArguments(m_settings.strGhostscript, document.string()), spawn);
    ::close(nErrorFd);
    if (!bStarted)
        return Stop(EJobResult::Failed, PRINTER + " cannot start Ghostscript (" + renderer.Error() +
                                            "); is the ghostscript package installed?");

    CPnmPageReader reader(
        [&](const std::vector<std::uint8_t>& raster)
        {
            if (!stage.AddPage(raster))
                return false;
            m_log << "INFO: Rendered page " << stage.Pages() << std::endl;
            return true;
        });

    std::vector<std::uint8_t> chunk(READ_CHUNK);
    auto lastProgress = Clock::now();
    for (;;)
    {
        if (StopRequested())
            return Stop(EJobResult::Stopped, "The job was stopped.");
        pollfd pfd{renderer.OutputFd(), POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, POLL_SLICE_MS);
        if (nReady < 0 && errno != EINTR)
            return Stop(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot read the rendered pages"));
        if (nReady <= 0)
        {
            if (Clock::now() - lastProgress > m_settings.renderStall)
                return Stop(EJobResult::Refused,
                            "Ghostscript stopped making progress on this job; it was given up.");
            continue;
        }
        const ssize_t n = ::read(renderer.OutputFd(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Stop(EJobResult::Failed, platform::ErrnoText(PRINTER + " cannot read the rendered pages"));
        if (n == 0)
            break;
        lastProgress = Clock::now();
        switch (reader.Feed(chunk.data(), static_cast<std::size_t>(n)))
        {
        case EFeedResult::More:
            break;
        case EFeedResult::BadStream:
            return Stop(EJobResult::Failed,
                        "Ghostscript produced pages " + PRINTER + " cannot read: " + reader.Error());
        case EFeedResult::Stopped:
            if (stage.TooManyPages())
                return Stop(EJobResult::Refused,
                            "The job has more than " + std::to_string(m_settings.nMaxPages) +
                                " pages; the fax printer " + PRINTER + " takes at most " +
                                std::to_string(m_settings.nMaxPages) + ". Nothing was written.");
            return Stop(EJobResult::Failed, PRINTER + " cannot store the pages: " + stage.Error());
        }
    }
    renderer.CloseOutput();
    if (renderer.Wait(RENDERER_EXIT_TIMEOUT) == platform::EWaitResult::TimedOut)
        return Stop(EJobResult::Refused, "Ghostscript did not finish this job; it was given up.");
    if (!renderer.Succeeded())
    {
        const std::string strComplaint = RendererComplaint(errorLog);
        return Stop(EJobResult::Refused,
                    PRINTER + " cannot print this document: Ghostscript cannot render it (" +
                        renderer.Describe() + (strComplaint.empty() ? "" : ": " + strComplaint) +
                        "). Nothing was written.");
    }
    if (!reader.Finish())
        return Stop(EJobResult::Failed,
                    "Ghostscript produced pages " + PRINTER + " cannot read: " + reader.Error());
    if (stage.Pages() == 0)
        return Stop(EJobResult::Refused, "The job has no pages to fax. Nothing was written.");
    return EJobResult::Done;
}

} // namespace driver
