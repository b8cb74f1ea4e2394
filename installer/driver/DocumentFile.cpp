#include "installer/driver/DocumentFile.h"

#include "platform/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace driver
{

namespace
{

constexpr std::string_view PDF_MAGIC = "%PDF-";
constexpr std::string_view POSTSCRIPT_MAGIC = "%!";

SDocumentResult Refused(const std::string& strReason)
{
    return SDocumentResult{EJobResult::Refused, 0, strReason};
}

} // namespace

EDocumentKind DocumentKindOf(std::string_view firstBytes)
{
    if (firstBytes.starts_with(PDF_MAGIC))
        return EDocumentKind::Pdf;
    if (firstBytes.starts_with(POSTSCRIPT_MAGIC))
        return EDocumentKind::PostScript;
    return EDocumentKind::Other;
}

SDocumentResult RenderDocumentFile(const std::filesystem::path& document,
                                   const std::filesystem::path& driveRoot)
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
    char magic[8] = {};
    const ssize_t nRead = ::pread(fd, magic, sizeof magic, 0);
    const auto eKind =
        DocumentKindOf(std::string_view(magic, nRead > 0 ? static_cast<std::size_t>(nRead) : 0));
    if (eKind == EDocumentKind::Other)
    {
        ::close(fd);
        return Refused(strName +
                       " is neither a PDF nor a PostScript document; print it to the fax printer instead.");
    }
    SBackendSettings settings;
    settings.driveRoot = driveRoot;
    // The spooler reads these lines; here only the reason of a refusal counts.
    std::ostringstream log;
    CFaxBackend backend(settings, log);
    SDocumentResult result;
    result.m_eResult = backend.Run(fd);
    ::close(fd);
    result.m_nPages = backend.Pages();
    result.m_strReason = backend.Reason();
    return result;
}

} // namespace driver
