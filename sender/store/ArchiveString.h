#pragma once

#include "platform/BinaryFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The archive string: the serialized form of a text in the settings file and the
// address book. A length prefix, then the text without terminator:
//   length 0 to 254          one byte L
//   length 255 to 65,533     FF, then L as 2 bytes little-endian
//   length 65,534 and more   FF FF FF, then L as 4 bytes little-endian
// A reader also accepts the wide form that other writers produce: FF FE FF, then the
// length in UTF-16 code units by the same rules, then the code units (little-endian).
// Wide texts are converted to UTF-8; this program itself only writes the narrow form.
inline constexpr std::uint8_t ARCHIVE_BYTE_LENGTH_MAX = 0xFE;
inline constexpr std::uint16_t ARCHIVE_WORD_LENGTH_MAX = 0xFFFD;
inline constexpr std::uint16_t ARCHIVE_WIDE_MARKER = 0xFFFE;
inline constexpr std::uint16_t ARCHIVE_DWORD_MARKER = 0xFFFF;

// Where an archive reader takes its bytes from: a file or a block of memory. It knows
// how many bytes are left, so that a length can be checked against what the file can
// still hold before anything is allocated for it.
class CArchiveIn
{
public:
    // Reads a file from its current position; the bytes left come from its size.
    explicit CArchiveIn(platform::CFileReader& file);
    // Reads a block of memory, which must outlive the reader.
    explicit CArchiveIn(std::string_view bytes);
    CArchiveIn(const CArchiveIn&) = delete;
    CArchiveIn& operator=(const CArchiveIn&) = delete;

    // All nBytes, or false (the source ended or failed; what was read is lost).
    [[nodiscard]] bool ReadExact(void* pDest, std::size_t nBytes);
    [[nodiscard]] bool ReadUInt8(std::uint8_t& value);
    [[nodiscard]] bool ReadUInt16(std::uint16_t& value);
    [[nodiscard]] bool ReadUInt32(std::uint32_t& value);
    [[nodiscard]] bool ReadInt32(std::int32_t& value);

    // Bytes that remain, if known (a file that is not a regular file cannot tell).
    std::optional<std::uint64_t> Remaining() const;
    // True when nBytes more may be there: they are not more than what remains.
    bool CanHold(std::uint64_t nBytes) const;

private:
    platform::CFileReader* m_pFile = nullptr;
    std::string_view m_bytes;
    std::optional<std::uint64_t> m_nFileSize;
    std::uint64_t m_nConsumed = 0;
};

enum class EArchiveRead
{
    Ok,
    // The source ended inside the string (its prefix or its text).
    Truncated,
    // The prefix announces more bytes than the source can still hold.
    TooLong,
};

// Reads one archive string, narrow or wide, into strText (UTF-8). On failure strText is
// left empty.
[[nodiscard]] EArchiveRead ReadArchiveString(CArchiveIn& in, std::string& strText);

// The bytes of one archive string in the narrow form. Texts of 2^32 bytes and more
// have no archive form; they give nullopt.
[[nodiscard]] std::optional<std::string> EncodeArchiveString(std::string_view strText);
[[nodiscard]] bool WriteArchiveString(platform::CFileWriter& file, std::string_view strText);

// Little-endian fixed-width values as the archive writes them.
void AppendInt32(std::string& strOut, std::int32_t nValue);

// UTF-16LE code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::uint16_t* pUnits, std::size_t nUnits);
