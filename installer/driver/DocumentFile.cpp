#include "installer/driver/DocumentFile.h"

#include "installer/driver/FaxPrinter.h"
#include "installer/driver/PlainTextCheck.h"
#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace driver
{

namespace
{

namespace fs = std::filesystem;

constexpr std::string_view PDF_MAGIC = "%PDF-";
constexpr std::string_view POSTSCRIPT_MAGIC = "%!";
// The first bytes by which CUPS's own type rules know these images (mime.types).
constexpr std::string_view PNG_MAGIC = "\x89PNG\r\n\x1a\n";
constexpr std::string_view JPEG_MAGIC = "\xFF\xD8\xFF";
constexpr std::string_view TIFF_INTEL_MAGIC{"II*\0", 4};
constexpr std::string_view TIFF_MOTOROLA_MAGIC{"MM\0*", 4};
constexpr std::size_t MAGIC_BYTES = 8;

// The type the PPD's filter takes: the queue runs the filters from the document's type to this
// one and hands their PDF to the backend.
constexpr const char* QUEUE_INPUT_TYPE = "application/vnd.cups-pdf";
constexpr const char* FOLDER_TEMPLATE = "vellum-document-XXXXXX";
constexpr const char* COPY_NAME = "document";
constexpr const char* PDF_NAME = "document.pdf";
constexpr const char* CONVERTER_LOG_NAME = "convert.log";
constexpr std::size_t COPY_CHUNK = 64 * 1024;
constexpr std::uint64_t MAX_CONVERTER_LOG_BYTES = 256 * 1024;
constexpr std::size_t MAX_COMPLAINT_BYTES = 200;
// A converter told to stop has this long before it is killed.
constexpr std::chrono::seconds CONVERTER_STOP_GRACE{2};

const std::string KINDS_TAKEN = "PDF, PostScript, PNG, JPEG or TIFF images, and plain text";

SDocumentResult Refused(const std::string& strReason)
{
    return SDocumentResult{EJobResult::Refused, 0, strReason};
}

SDocumentResult Failed(const std::string& strReason)
{
    return SDocumentResult{EJobResult::Failed, 0, strReason};
}

const char* MimeTypeOf(EDocumentKind eKind)
{
    switch (eKind)
    {
    case EDocumentKind::Pdf:
        return "application/pdf";
    case EDocumentKind::PostScript:
        return "application/postscript";
    case EDocumentKind::Png:
        return "image/png";
    case EDocumentKind::Jpeg:
        return "image/jpeg";
    case EDocumentKind::Tiff:
        return "image/tiff";
    default:
        return "text/plain";
    }
}

// The installed PPD, which the queue was made from, else the distribution's beside Sendwell.
fs::path FindPpd()
{
    std::error_code error;
    const fs::path installed = platform::SystemDirectory() / PPD_FILE_NAME;
    if (fs::is_regular_file(installed, error))
        return installed;
    return platform::ProgramDirectory() / PPD_FILE_NAME;
}

// Runs the backend's rendering on the converted PDF, in its private folder.
SDocumentResult RenderWithBackend(const fs::path& pdf, const fs::path& driveRoot)
{
    SBackendSettings settings;
    settings.driveRoot = driveRoot;
    // The spooler reads these lines; here only the reason of a refusal counts.
    std::ostringstream log;
    CFaxBackend backend(settings, log);
    SDocumentResult result;
    result.m_eResult = backend.RenderDocument(pdf);
    result.m_nPages = backend.Pages();
    result.m_strReason = backend.Reason();
    return result;
}

// What the filters said against the document: the first ERROR line, or cupsfilter's own
// complaint, printable and short, since it may quote the document. The private copy the
// filters read is named as the user's file.
std::string ConverterComplaint(const fs::path& log, const fs::path& copy, const std::string& strName)
{
    std::string strLog = platform::ReadWholeFile(log, MAX_CONVERTER_LOG_BYTES).value_or("");
    const std::string strCopy = copy.string();
    for (std::size_t nAt = strLog.find(strCopy); nAt != std::string::npos;
         nAt = strLog.find(strCopy, nAt + strName.size()))
        strLog.replace(nAt, strCopy.size(), strName);
    std::size_t nStart = 0;
    while (nStart < strLog.size())
    {
        std::size_t nEnd = strLog.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strLog.size();
        std::string_view line(strLog.data() + nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (line.starts_with("ERROR:"))
            line.remove_prefix(6);
        else if (!line.starts_with("cupsfilter:"))
            continue;
        line = platform::Trim(line);
        if (line.empty())
            continue;
        std::string strComplaint = platform::PrintableUtf8(line.substr(0, MAX_COMPLAINT_BYTES));
        if (line.size() > MAX_COMPLAINT_BYTES)
            strComplaint += "...";
        return strComplaint;
    }
    return {};
}

// Copies the document into the private folder, so that the converter reads exactly the file
// that was checked (not one put in its place since), and tells plain text from other files on
// the way.
SDocumentResult CopyDocument(int fd, EDocumentKind& eKind, const fs::path& copy, const std::string& strName)
{
    platform::CFileWriter writer;
    if (!writer.Create(copy) || !writer.SetPermissions(fs::perms::owner_read | fs::perms::owner_write))
        return Failed(strName + " cannot be copied for converting: " + writer.Error());
    CPlainTextCheck textCheck;
    bool bPlain = eKind == EDocumentKind::Other;
    std::vector<char> chunk(COPY_CHUNK);
    off_t nOffset = 0;
    for (;;)
    {
        const ssize_t nRead = ::pread(fd, chunk.data(), chunk.size(), nOffset);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
        {
            const std::string strReason = platform::ErrnoText(strName + " cannot be read");
            writer.Discard();
            return Failed(strReason);
        }
        if (nRead == 0)
            break;
        nOffset += nRead;
        if (bPlain && !textCheck.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(nRead))))
        {
            bPlain = false;
            break; // another kind of file: it is refused, and the rest of it need not be read
        }
        writer.Write(chunk.data(), static_cast<std::size_t>(nRead));
    }
    if (!writer.Close())
        return Failed(strName + " cannot be copied for converting: " + writer.Error());
    if (eKind == EDocumentKind::Other)
    {
        if (!bPlain || !textCheck.Finish())
            return Refused(strName + " is not a kind of document the fax printer takes; it takes " +
                           KINDS_TAKEN + ".");
        eKind = EDocumentKind::Text;
    }
    return SDocumentResult{EJobResult::Done, 0, {}};
}

// Makes the document into the PDF that the queue would hand the backend, with the filters CUPS
// chooses by the printer's PPD, and renders that. PDF and PostScript take this road too: the
// queue's pdftopdf fits other page sizes to letter, and its gstopdf draws PostScript as PDF,
// each a little differently from Ghostscript on the document itself.
SDocumentResult ConvertAndRender(int fd, EDocumentKind eKind, const std::string& strName,
                                 const fs::path& folder, const fs::path& driveRoot,
                                 const SDocumentSettings& settings)
{
    const fs::path copy = folder / COPY_NAME;
    SDocumentResult copied = CopyDocument(fd, eKind, copy, strName);
    if (copied.m_eResult != EJobResult::Done)
        return copied;

    std::error_code error;
    const fs::path ppd = settings.ppd.empty() ? FindPpd() : settings.ppd;
    if (!fs::is_regular_file(ppd, error))
        return Failed("The fax printer's description " + platform::PrintableUtf8(ppd.string()) +
                      " is missing, so documents cannot be converted for it; run the Installer again.");

    const fs::path pdf = folder / PDF_NAME;
    const fs::path log = folder / CONVERTER_LOG_NAME;
    const int nPdfFd = ::open(pdf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int nLogFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (nPdfFd < 0 || nLogFd < 0)
    {
        const std::string strReason = platform::ErrnoText("The file cannot be converted for the fax printer");
        if (nPdfFd >= 0)
            ::close(nPdfFd);
        if (nLogFd >= 0)
            ::close(nLogFd);
        return Failed(strReason);
    }
    platform::SSpawnOptions spawn;
    // The filters keep their temporary files in the private folder too.
    spawn.m_aEnvironment = platform::EnvironmentWith({"TMPDIR=" + folder.string()});
    spawn.m_eInput = platform::EChildStream::Null;
    spawn.m_eOutput = platform::EChildStream::Descriptor;
    spawn.m_nOutputFd = nPdfFd;
    spawn.m_eErrors = platform::EChildStream::Descriptor;
    spawn.m_nErrorsFd = nLogFd;
    // cupsfilter runs each filter as a process of its own: a time limit must end them all.
    spawn.m_bOwnProcessGroup = true;
    const std::string strCupsfilter =
        settings.strCupsfilter.empty() ? platform::FindSystemProgram("cupsfilter") : settings.strCupsfilter;
    platform::CProcess converter;
    const bool bStarted = converter.Start(
        {strCupsfilter, "-p", ppd.string(), "-m", QUEUE_INPUT_TYPE, "-i", MimeTypeOf(eKind), copy.string()},
        spawn);
    ::close(nPdfFd);
    ::close(nLogFd);
    if (!bStarted)
        return Failed("Documents cannot be converted for the fax printer: cupsfilter cannot be started (" +
                      converter.Error() + "); is the cups package installed?");
    if (converter.Wait(settings.convertTimeout) == platform::EWaitResult::TimedOut)
    {
        converter.Signal(SIGTERM);
        if (converter.Wait(CONVERTER_STOP_GRACE) == platform::EWaitResult::TimedOut)
            converter.Kill();
        return Refused(
            strName + " was not converted for the fax printer within " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(settings.convertTimeout).count()) +
            " s; it was given up. Nothing was written.");
    }
    if (!converter.Succeeded())
    {
        const std::string strComplaint = ConverterComplaint(log, copy, strName);
        return Refused(strName +
                       " cannot be converted for the fax printer (cupsfilter: " + converter.Describe() +
                       (strComplaint.empty() ? "" : ": " + strComplaint) + "). Nothing was written.");
    }
    if (fs::file_size(pdf, error) == 0 || error)
        return Refused(strName + " has no pages to fax. Nothing was written.");

    return RenderWithBackend(pdf, driveRoot);
}

} // namespace

EDocumentKind DocumentKindOf(std::string_view firstBytes)
{
    if (firstBytes.starts_with(PDF_MAGIC))
        return EDocumentKind::Pdf;
    if (firstBytes.starts_with(POSTSCRIPT_MAGIC))
        return EDocumentKind::PostScript;
    if (firstBytes.starts_with(PNG_MAGIC))
        return EDocumentKind::Png;
    if (firstBytes.starts_with(JPEG_MAGIC))
        return EDocumentKind::Jpeg;
    if (firstBytes.starts_with(TIFF_INTEL_MAGIC) || firstBytes.starts_with(TIFF_MOTOROLA_MAGIC))
        return EDocumentKind::Tiff;
    return EDocumentKind::Other;
}

SDocumentResult RenderDocumentFile(const std::filesystem::path& document,
                                   const std::filesystem::path& driveRoot, const SDocumentSettings& settings)
{
    // The name is the user's own, but it is shown: only printable text of it.
    const std::string strName = platform::PrintableUtf8(document.string());
    const int fd = ::open(document.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Refused(platform::ErrnoText(strName + " cannot be opened"));
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        ::close(fd);
        return Refused(strName + " is not a document file.");
    }
    if (info.st_size == 0)
    {
        ::close(fd);
        return Refused(strName + " is empty; there is nothing to fax.");
    }
    char magic[MAGIC_BYTES] = {};
    const ssize_t nRead = ::pread(fd, magic, sizeof magic, 0);
    const auto eKind =
        DocumentKindOf(std::string_view(magic, nRead > 0 ? static_cast<std::size_t>(nRead) : 0));
    // A folder of this user's alone (mkdtemp makes it 0700) for the copy, the PDF and the
    // converter's messages; it goes when the rendering is done.
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error)
        temp = "/tmp";
    std::string strFolder = (temp / FOLDER_TEMPLATE).string();
    if (::mkdtemp(strFolder.data()) == nullptr)
    {
        const std::string strReason = platform::ErrnoText(
            "The file cannot be converted for the fax printer: " + platform::PrintableUtf8(temp.string()));
        ::close(fd);
        return Failed(strReason);
    }
    SDocumentResult result = ConvertAndRender(fd, eKind, strName, strFolder, driveRoot, settings);
    ::close(fd);
    fs::remove_all(strFolder, error);
    return result;
}

} // namespace driver
