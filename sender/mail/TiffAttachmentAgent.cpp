#include "sender/mail/TiffAttachmentAgent.h"

#include "platform/BinaryFile.h"
#include "platform/Text.h"
#include "sender/mail/Base64Codec.h"
#include "sender/mail/MailSyntax.h"

#include <memory>
#include <new>
#include <string_view>

namespace
{

// 54 bytes make 72 Base64 characters: a line well inside the 76 that RFC 2045 allows.
constexpr std::size_t BYTES_PER_LINE = 54;
constexpr std::size_t CHARS_PER_LINE = BYTES_PER_LINE / 3 * 4;
constexpr std::string_view CR_LF = "\r\n";
// Longest name and longest extension kept from a path, as the old path splitter kept them.
constexpr std::size_t MAX_NAME_PART = 255;

// The file name of a path with its drive and directories removed, either separator accepted.
std::string FileNameOf(std::string_view strPath)
{
    if (strPath.size() >= 2 && strPath[1] == ':')
        strPath.remove_prefix(2);
    const auto nSlash = strPath.find_last_of("/\\");
    if (nSlash != std::string_view::npos)
        strPath.remove_prefix(nSlash + 1);
    const auto nDot = strPath.find_last_of('.');
    const std::string_view strName = strPath.substr(0, nDot);
    const std::string_view strExtension =
        nDot == std::string_view::npos ? std::string_view() : strPath.substr(nDot);
    return std::string(strName.substr(0, MAX_NAME_PART)) + std::string(strExtension.substr(0, MAX_NAME_PART));
}

} // namespace

std::string CTiffAttachmentAgent::GetContentType()
{
    return "image/tiff";
}

std::string CTiffAttachmentAgent::BuildPartHeader(const char* pszText, const char* /*pszParams*/)
{
    const std::string strName = FileNameOf(pszText != nullptr ? pszText : "");
    std::string strHeader;
    strHeader += "Content-Type: " + GetContentType() + "; file=" + strName + "\r\n";
    strHeader += "Content-Transfer-Encoding: base64\r\n";
    strHeader += "Content-Disposition: attachment; filename=" + strName + "\r\n";
    strHeader += CR_LF;
    return strHeader;
}

bool CTiffAttachmentAgent::AppendPart(const char* pszText, const char* pszParams, std::string& strBody)
{
    // A file name with a line break would end its header line early and start another.
    if (pszText == nullptr || platform::HoldsControlCharacter(FileNameOf(pszText)))
        return false;
    platform::CFileReader file;
    if (!file.Open(pszText))
        return false;
    strBody += BuildPartHeader(pszText, pszParams);
    AppendEncodedFile(file, strBody);
    file.Close();
    return true;
}

void CTiffAttachmentAgent::AppendEncodedFile(platform::CFileReader& file, std::string& strBody)
{
    const std::unique_ptr<CBase64Codec> codec(new (std::nothrow) CBase64Codec);
    if (!codec)
        return;
    // The body grows by whole pages; sizing it once keeps a large fax from being copied as it grows.
    if (const auto nSize = file.Size())
        strBody.reserve(strBody.size() + (*nSize / BYTES_PER_LINE + 2) * (CHARS_PER_LINE + CR_LF.size()));

    std::uint8_t chunk[BYTES_PER_LINE];
    std::size_t nRead = 0;
    do
    {
        // A read error ends the part early with the lines so far, like the end of the file.
        nRead = file.Read(chunk, BYTES_PER_LINE);
        strBody += codec->Encode(chunk, static_cast<int>(nRead));
        strBody += CR_LF;
    } while (nRead == BYTES_PER_LINE);
    strBody += CR_LF;
}
