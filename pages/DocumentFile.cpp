#include "pages/DocumentFile.h"

#include "pages/FaxPrinter.h"
#include "pages/PageFileStage.h"
#include "pages/PlainTextCheck.h"
#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "platform/ProgramPath.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <span>
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
// While the converter runs, the cancel signal and the disk it takes are looked at this often.
constexpr std::chrono::milliseconds WATCH_SLICE{50};
// The processor time each Ghostscript process that renders the converted PDF may take.
constexpr std::uint64_t RENDERER_CPU_SECONDS = 300;
// A converter whose peak memory came this near its limit (in quarters) ran out of it.
constexpr std::uint64_t MEMORY_SPENT_QUARTERS = 3;
constexpr std::uint64_t MEGABYTE = 1024 * 1024;
// The headers of a JPEG file are walked through at most this many segments to its frame.
constexpr int MAX_JPEG_SEGMENTS = 1024;
// The text filter puts some 63 lines on a page: text of more lines than this many a page for
// the most pages a job may have is refused before it is converted.
constexpr std::uint64_t TEXT_LINES_PER_PAGE_MOST = 100;
constexpr std::uint16_t TIFF_IMAGE_WIDTH = 256;
constexpr std::uint16_t TIFF_IMAGE_LENGTH = 257;
constexpr std::uint16_t TIFF_SHORT = 3;
constexpr std::uint16_t TIFF_LONG = 4;

const std::string KINDS_TAKEN = "PDF, PostScript, PNG, JPEG or TIFF images, and plain text in UTF-8";

using Clock = std::chrono::steady_clock;

SDocumentResult Refused(const std::string& strReason)
{
    return SDocumentResult{EJobResult::Refused, 0, strReason};
}

SDocumentResult Failed(const std::string& strReason)
{
    return SDocumentResult{EJobResult::Failed, 0, strReason};
}

SDocumentResult Stopped()
{
    return SDocumentResult{EJobResult::Stopped, 0, "The rendering was stopped. Nothing was written."};
}

bool Cancelled(const SDocumentSettings& settings)
{
    return settings.m_pCancel != nullptr && settings.m_pCancel->IsRaised();
}

std::string Megabytes(std::uint64_t nBytes)
{
    if (nBytes < MEGABYTE)
        return std::to_string(nBytes / 1024) + " KB";
    return std::to_string(nBytes / MEGABYTE) + " MB";
}

bool ReadAt(int fd, off_t nOffset, unsigned char* pBytes, std::size_t nCount)
{
    while (nCount > 0)
    {
        const ssize_t nRead = ::pread(fd, pBytes, nCount, nOffset);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return false;
        pBytes += nRead;
        nCount -= static_cast<std::size_t>(nRead);
        nOffset += nRead;
    }
    return true;
}

std::uint32_t BigEndian(const unsigned char* pBytes, int nCount)
{
    std::uint32_t nValue = 0;
    for (int i = 0; i < nCount; ++i)
        nValue = nValue << 8 | pBytes[i];
    return nValue;
}

std::uint32_t LittleEndian(const unsigned char* pBytes, int nCount)
{
    std::uint32_t nValue = 0;
    for (int i = nCount - 1; i >= 0; --i)
        nValue = nValue << 8 | pBytes[i];
    return nValue;
}

// PNG: the IHDR chunk comes first, its width and height first in it.
std::optional<SImageSize> PngSize(int fd)
{
    unsigned char header[24];
    if (!ReadAt(fd, 0, header, sizeof header) ||
        std::string_view(reinterpret_cast<char*>(header) + 12, 4) != "IHDR")
        return std::nullopt;
    return SImageSize{BigEndian(header + 16, 4), BigEndian(header + 20, 4)};
}

// JPEG: the segments up to the frame header (SOF0 to SOF15 but DHT, JPG and DAC), which gives
// the height and width. A height of 0 is given later in the scan (DNL): it is taken as the most.
std::optional<SImageSize> JpegSize(int fd)
{
    off_t nAt = 2;
    for (int nSegment = 0; nSegment < MAX_JPEG_SEGMENTS; ++nSegment)
    {
        unsigned char segment[9];
        if (!ReadAt(fd, nAt, segment, 2) || segment[0] != 0xFF)
            return std::nullopt;
        const unsigned char nMarker = segment[1];
        if (nMarker == 0xFF) // a fill byte before the marker
        {
            ++nAt;
            continue;
        }
        if (nMarker == 0x01 || nMarker == 0xD8 || (nMarker >= 0xD0 && nMarker <= 0xD7))
        {
            nAt += 2; // markers without a length
            continue;
        }
        if (nMarker == 0xD9 || nMarker == 0xDA)
            return std::nullopt; // the end, or a scan before any frame header
        if (!ReadAt(fd, nAt + 2, segment + 2, 2))
            return std::nullopt;
        const std::uint32_t nLength = BigEndian(segment + 2, 2);
        if (nLength < 2)
            return std::nullopt;
        if (nMarker >= 0xC0 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 && nMarker != 0xCC)
        {
            if (nLength < 7 || !ReadAt(fd, nAt + 4, segment + 4, 5))
                return std::nullopt;
            const std::uint32_t nHeight = BigEndian(segment + 5, 2);
            return SImageSize{BigEndian(segment + 7, 2), nHeight != 0 ? nHeight : 0xFFFF};
        }
        nAt += 2 + static_cast<off_t>(nLength);
    }
    return std::nullopt;
}

// TIFF: the first image file directory's ImageWidth and ImageLength, SHORT or LONG.
std::optional<SImageSize> TiffSize(int fd)
{
    unsigned char header[8];
    if (!ReadAt(fd, 0, header, sizeof header))
        return std::nullopt;
    const bool bIntel = header[0] == 'I';
    auto number = [bIntel](const unsigned char* pBytes, int nCount)
    { return bIntel ? LittleEndian(pBytes, nCount) : BigEndian(pBytes, nCount); };
    const off_t nDirectory = number(header + 4, 4);
    unsigned char count[2];
    if (!ReadAt(fd, nDirectory, count, sizeof count))
        return std::nullopt;
    std::vector<unsigned char> entries(static_cast<std::size_t>(number(count, 2)) * 12);
    if (!ReadAt(fd, nDirectory + 2, entries.data(), entries.size()))
        return std::nullopt;
    std::optional<std::uint32_t> nWidth;
    std::optional<std::uint32_t> nHeight;
    for (std::size_t nAt = 0; nAt < entries.size(); nAt += 12)
    {
        const unsigned char* pEntry = entries.data() + nAt;
        const auto nTag = number(pEntry, 2);
        const auto nType = number(pEntry + 2, 2);
        if ((nTag != TIFF_IMAGE_WIDTH && nTag != TIFF_IMAGE_LENGTH) ||
            (nType != TIFF_SHORT && nType != TIFF_LONG))
            continue;
        const std::uint32_t nValue = number(pEntry + 8, nType == TIFF_SHORT ? 2 : 4);
        (nTag == TIFF_IMAGE_WIDTH ? nWidth : nHeight) = nValue;
    }
    if (!nWidth || !nHeight)
        return std::nullopt;
    return SImageSize{*nWidth, *nHeight};
}

// What the converters wrote into the private folder, the user's copy left out.
std::uint64_t WrittenBytes(const fs::path& folder, const fs::path& copy)
{
    std::uint64_t nBytes = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error))
    {
        std::error_code sizeError;
        if (it->path() != copy && it->is_regular_file(sizeError))
        {
            const auto nSize = it->file_size(sizeError);
            nBytes += sizeError ? 0 : nSize;
        }
    }
    return nBytes;
}

// A file of text in another encoding than UTF-8 (Latin-1, say) holds no NUL and no control
// byte but the ones of text layout; a binary file soon does.
bool LooksLikeText(std::string_view piece)
{
    return std::none_of(piece.begin(), piece.end(),
                        [](char ch)
                        {
                            const auto nByte = static_cast<unsigned char>(ch);
                            return nByte < 0x20 && nByte != '\t' && nByte != '\n' && nByte != '\v' &&
                                   nByte != '\f' && nByte != '\r' && nByte != '\b' && nByte != 0x1b;
                        });
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

// The PPD that came with this Sendwell, which the queue was made from: the package's or the
// build's beside it, else the one the Installer copied into the system directory.
fs::path FindPpd()
{
    return platform::InstalledFile(PPD_FILE_NAME);
}

// Runs the backend's rendering on the converted PDF, in its private folder.
SDocumentResult RenderWithBackend(const fs::path& pdf, const fs::path& driveRoot,
                                  const SDocumentSettings& documentSettings)
{
    SBackendSettings settings;
    settings.m_driveRoot = driveRoot;
    settings.m_pCancel = documentSettings.m_pCancel;
    settings.m_nMaxRendererMemoryBytes = documentSettings.m_nMaxMemoryBytes;
    settings.m_nMaxRendererFileBytes = documentSettings.m_nMaxDiskBytes;
    settings.m_nMaxRendererCpuSeconds = RENDERER_CPU_SECONDS;
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
SDocumentResult CopyDocument(int fd, EDocumentKind& eKind, const fs::path& copy, const std::string& strName,
                             const SDocumentSettings& settings)
{
    platform::CFileWriter writer;
    if (!writer.Create(copy) || !writer.SetPermissions(fs::perms::owner_read | fs::perms::owner_write))
        return Failed(strName + " cannot be copied for converting: " + writer.Error());
    CPlainTextCheck textCheck;
    bool bPlain = eKind == EDocumentKind::Other;
    bool bTextual = bPlain;
    std::uint64_t nLines = 0;
    std::vector<char> chunk(COPY_CHUNK);
    off_t nOffset = 0;
    for (;;)
    {
        if (Cancelled(settings))
        {
            writer.Discard();
            return Stopped();
        }
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
        const std::string_view piece(chunk.data(), static_cast<std::size_t>(nRead));
        bTextual = bTextual && LooksLikeText(piece);
        if (bPlain)
            nLines += static_cast<std::uint64_t>(std::count(piece.begin(), piece.end(), '\n'));
        if (bPlain && !textCheck.Feed(piece))
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
        if ((!bPlain || !textCheck.Finish()) && bTextual)
            return Refused(strName + " is text, but not in UTF-8 (Latin-1 or another encoding, perhaps); the "
                                     "fax printer takes plain text in UTF-8 only. Convert it to UTF-8 first, "
                                     "for example with iconv -f LATIN1 -t UTF-8.");
        if (!bPlain || !textCheck.Finish())
            return Refused(strName + " is not a kind of document the fax printer takes; it takes " +
                           KINDS_TAKEN + ".");
        eKind = EDocumentKind::Text;
        if (nLines > platform::MAX_PAGES * TEXT_LINES_PER_PAGE_MOST)
            return Refused(strName + " has " + std::to_string(nLines) + " lines of text, more than " +
                           std::to_string(platform::MAX_PAGES) +
                           " pages hold; the fax printer takes at most " +
                           std::to_string(platform::MAX_PAGES) + " pages. Nothing was written.");
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
    SDocumentResult copied = CopyDocument(fd, eKind, copy, strName, settings);
    if (copied.m_eResult != EJobResult::Done)
        return copied;

    std::error_code error;
    const fs::path ppd = settings.m_ppd.empty() ? FindPpd() : settings.m_ppd;
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
    // cupsfilter runs each filter as a process of its own: a time limit must end them all, and
    // the bounds hold for each of them.
    spawn.m_bOwnProcessGroup = true;
    spawn.m_nMaxAddressSpaceBytes = settings.m_nMaxMemoryBytes;
    spawn.m_nMaxFileBytes = settings.m_nMaxDiskBytes;
    spawn.m_nMaxCpuSeconds = static_cast<std::uint64_t>(
        std::chrono::ceil<std::chrono::seconds>(settings.m_durConvertTimeout).count());
    const std::string strCupsfilter = settings.m_strCupsfilter.empty()
                                          ? platform::FindSystemProgram("cupsfilter")
                                          : settings.m_strCupsfilter;
    platform::CProcess converter;
    const bool bStarted = converter.Start(
        {strCupsfilter, "-p", ppd.string(), "-m", QUEUE_INPUT_TYPE, "-i", MimeTypeOf(eKind), copy.string()},
        spawn);
    ::close(nPdfFd);
    ::close(nLogFd);
    if (!bStarted)
        return Failed("Documents cannot be converted for the fax printer: cupsfilter cannot be started (" +
                      converter.Error() + "); is the cups package installed?");
    const std::string strTooMuchDisk = strName + " needs more than " + Megabytes(settings.m_nMaxDiskBytes) +
                                       " of disk to be converted for the fax printer; it was given up. "
                                       "Nothing was written.";
    // The converter is watched while it runs: the user's Cancel and the disk it takes stop it at
    // once, the time limit after a grace to end by itself.
    const auto deadline = Clock::now() + settings.m_durConvertTimeout;
    while (converter.Wait(WATCH_SLICE) == platform::EWaitResult::TimedOut)
    {
        if (Cancelled(settings))
        {
            converter.Kill();
            return Stopped();
        }
        if (WrittenBytes(folder, copy) >= settings.m_nMaxDiskBytes)
        {
            converter.Kill();
            return Refused(strTooMuchDisk);
        }
        if (Clock::now() < deadline)
            continue;
        converter.Signal(SIGTERM);
        if (converter.Wait(CONVERTER_STOP_GRACE) == platform::EWaitResult::TimedOut)
            converter.Kill();
        return Refused(
            strName + " was not converted for the fax printer within " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(settings.m_durConvertTimeout).count()) +
            " s; it was given up. Nothing was written.");
    }
    // A filter that reached a bound fails, or (Ghostscript's) ends as if the document had no
    // pages; the peak of memory taken tells that it ran out of it.
    if (WrittenBytes(folder, copy) >= settings.m_nMaxDiskBytes)
        return Refused(strTooMuchDisk);
    const bool bOutOfMemory =
        converter.PeakMemoryBytes() >= settings.m_nMaxMemoryBytes / 4 * MEMORY_SPENT_QUARTERS;
    const std::string strTooMuchMemory =
        strName + " needs more than " + Megabytes(settings.m_nMaxMemoryBytes) +
        " of memory to be converted for the fax printer; it was given up. Nothing was written.";
    if (!converter.Succeeded())
    {
        if (bOutOfMemory)
            return Refused(strTooMuchMemory);
        const std::string strComplaint = ConverterComplaint(log, copy, strName);
        return Refused(strName +
                       " cannot be converted for the fax printer (cupsfilter: " + converter.Describe() +
                       (strComplaint.empty() ? "" : ": " + strComplaint) + "). Nothing was written.");
    }
    // The filters say nothing when their renderer refused the document (one that reaches for
    // other files) or drew no page of it: either way no page came out.
    if (fs::file_size(pdf, error) == 0 || error)
    {
        if (bOutOfMemory)
            return Refused(strTooMuchMemory);
        return Refused(strName +
                       " could not be rendered for the fax printer: no page came out of it. The renderer "
                       "refuses a document that reaches for other files, and a document may also have no "
                       "pages. Nothing was written.");
    }
    if (Cancelled(settings))
        return Stopped();

    return RenderWithBackend(pdf, driveRoot, settings);
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

std::optional<SImageSize> ImageSizeOf(int fd, EDocumentKind eKind)
{
    switch (eKind)
    {
    case EDocumentKind::Png:
        return PngSize(fd);
    case EDocumentKind::Jpeg:
        return JpegSize(fd);
    case EDocumentKind::Tiff:
        return TiffSize(fd);
    default:
        return std::nullopt;
    }
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
    // An image is converted whole in memory and on disk: a huge one is refused by its header.
    // One whose header cannot be read is left to the converter, which says what is wrong.
    if (const auto size = ImageSizeOf(fd, eKind);
        size && std::uint64_t{size->m_nWidth} * size->m_nHeight > settings.m_nMaxImagePixels)
    {
        ::close(fd);
        return Refused(strName + " is an image of " + std::to_string(size->m_nWidth) + " x " +
                       std::to_string(size->m_nHeight) + " pixels; the fax printer takes images of at most " +
                       std::to_string(settings.m_nMaxImagePixels / 1'000'000) +
                       " million pixels (a fax page has some 4 million). Scale it down and try again.");
    }
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

SDocumentResult RenderDocumentFiles(const std::vector<std::filesystem::path>& aDocuments,
                                    const std::filesystem::path& driveRoot, const SDocumentSettings& settings)
{
    if (aDocuments.size() == 1)
        return RenderDocumentFile(aDocuments.front(), driveRoot, settings);
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error)
        temp = "/tmp";
    std::string strFolder = (temp / FOLDER_TEMPLATE).string();
    if (aDocuments.empty() || ::mkdtemp(strFolder.data()) == nullptr)
        return Failed(aDocuments.empty()
                          ? "No file was given."
                          : platform::ErrnoText("The files cannot be converted for the fax printer: " +
                                                platform::PrintableUtf8(temp.string())));
    CPageFileStage stage(driveRoot, platform::MAX_PAGES, platform::EPageOrigin::Sendwell);
    SDocumentResult result{EJobResult::Done, 0, {}};
    if (!stage.Begin())
        result = Failed("The pages cannot be written: " + stage.Error());
    for (std::size_t i = 0; i < aDocuments.size() && result.m_eResult == EJobResult::Done; ++i)
    {
        const fs::path drive = fs::path(strFolder) / std::to_string(i + 1);
        result = RenderDocumentFile(aDocuments[i], drive, settings);
        for (int nPage = 1; result.m_eResult == EJobResult::Done && nPage <= result.m_nPages; ++nPage)
        {
            const auto raster =
                platform::ReadWholeFile(drive / platform::RasterFileName(nPage), platform::RASTER_BYTES);
            if (!raster || raster->size() != platform::RASTER_BYTES)
                result = Failed("Page " + std::to_string(nPage) + " of " +
                                platform::PrintableUtf8(aDocuments[i].string()) + " cannot be read back.");
            else if (stage.Pages() == platform::MAX_PAGES)
                result = Refused("The files have more than " + std::to_string(platform::MAX_PAGES) +
                                 " pages together, more than a fax can have.");
            else if (!stage.AddPage(
                         std::span(reinterpret_cast<const std::uint8_t*>(raster->data()), raster->size())))
                result = Failed("The pages cannot be written: " + stage.Error());
        }
        fs::remove_all(drive, error);
    }
    if (result.m_eResult == EJobResult::Done && !stage.Commit())
        result = Failed("The pages cannot be written: " + stage.Error());
    if (result.m_eResult == EJobResult::Done)
        result.m_nPages = stage.Pages();
    fs::remove_all(strFolder, error);
    return result;
}

} // namespace driver
