#include "sender/store/ArchiveString.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace
{

// A string whose source cannot tell its size is read in steps of this many bytes, so
// that a false length costs no more memory than the bytes really there.
constexpr std::size_t READ_STEP_BYTES = 64 * 1024;

} // namespace

CArchiveIn::CArchiveIn(platform::CFileReader& file) : m_pFile(&file), m_nFileSize(file.Size()) {}

CArchiveIn::CArchiveIn(std::string_view bytes) : m_bytes(bytes) {}

bool CArchiveIn::ReadExact(void* pDest, std::size_t nBytes)
{
    if (m_pFile == nullptr)
    {
        if (nBytes > m_bytes.size() - m_nConsumed)
            return false;
        std::memcpy(pDest, m_bytes.data() + m_nConsumed, nBytes);
        m_nConsumed += nBytes;
        return true;
    }
    const std::size_t nRead = m_pFile->Read(pDest, nBytes);
    m_nConsumed += nRead;
    return nRead == nBytes;
}

bool CArchiveIn::ReadUInt8(std::uint8_t& value)
{
    return ReadExact(&value, 1);
}

bool CArchiveIn::ReadUInt16(std::uint16_t& value)
{
    std::uint8_t bytes[2];
    if (!ReadExact(bytes, sizeof bytes))
        return false;
    value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    return true;
}

bool CArchiveIn::ReadUInt32(std::uint32_t& value)
{
    std::uint8_t bytes[4];
    if (!ReadExact(bytes, sizeof bytes))
        return false;
    value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
            (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return true;
}

bool CArchiveIn::ReadInt32(std::int32_t& value)
{
    std::uint32_t nRaw = 0;
    if (!ReadUInt32(nRaw))
        return false;
    value = static_cast<std::int32_t>(nRaw);
    return true;
}

std::optional<std::uint64_t> CArchiveIn::Remaining() const
{
    if (m_pFile == nullptr)
        return m_bytes.size() - m_nConsumed;
    if (!m_nFileSize)
        return std::nullopt;
    return *m_nFileSize > m_nConsumed ? *m_nFileSize - m_nConsumed : 0;
}

bool CArchiveIn::CanHold(std::uint64_t nBytes) const
{
    const auto nRemaining = Remaining();
    return !nRemaining || nBytes <= *nRemaining;
}

namespace
{

// The length prefix after its first byte was 0xFF and the two-byte value was read:
// 0xFFFF announces a four-byte length, anything else is the length itself.
bool ReadLongLength(CArchiveIn& in, std::uint16_t nWord, std::uint64_t& nLength)
{
    if (nWord != ARCHIVE_DWORD_MARKER)
    {
        nLength = nWord;
        return true;
    }
    std::uint32_t nDword = 0;
    if (!in.ReadUInt32(nDword))
        return false;
    nLength = nDword;
    return true;
}

// The length of a wide string, which follows the wide marker: one byte, and if it is
// 0xFF a two-byte value, and if that is 0xFFFF a four-byte value.
bool ReadWideLength(CArchiveIn& in, std::uint64_t& nLength)
{
    std::uint8_t nByte = 0;
    if (!in.ReadUInt8(nByte))
        return false;
    if (nByte <= ARCHIVE_BYTE_LENGTH_MAX)
    {
        nLength = nByte;
        return true;
    }
    std::uint16_t nWord = 0;
    return in.ReadUInt16(nWord) && ReadLongLength(in, nWord, nLength);
}

// Reads nBytes into strOut in steps, after checking them against what the source holds.
EArchiveRead ReadBytes(CArchiveIn& in, std::uint64_t nBytes, std::string& strOut)
{
    if (!in.CanHold(nBytes))
        return EArchiveRead::TooLong;
    const bool bSizeKnown = in.Remaining().has_value();
    if (bSizeKnown)
        strOut.reserve(static_cast<std::size_t>(nBytes));
    while (strOut.size() < nBytes)
    {
        const auto nLeft = static_cast<std::size_t>(nBytes - strOut.size());
        const std::size_t nStep = bSizeKnown ? nLeft : std::min(READ_STEP_BYTES, nLeft);
        const std::size_t nOld = strOut.size();
        strOut.resize(nOld + nStep);
        if (!in.ReadExact(strOut.data() + nOld, nStep))
        {
            strOut.clear();
            return EArchiveRead::Truncated;
        }
    }
    return EArchiveRead::Ok;
}

} // namespace

EArchiveRead ReadArchiveString(CArchiveIn& in, std::string& strText)
{
    strText.clear();
    std::uint64_t nLength = 0;
    bool bWide = false;
    std::uint8_t nByte = 0;
    if (!in.ReadUInt8(nByte))
        return EArchiveRead::Truncated;
    if (nByte <= ARCHIVE_BYTE_LENGTH_MAX)
        nLength = nByte;
    else
    {
        std::uint16_t nWord = 0;
        if (!in.ReadUInt16(nWord))
            return EArchiveRead::Truncated;
        if (nWord == ARCHIVE_WIDE_MARKER)
        {
            bWide = true;
            if (!ReadWideLength(in, nLength))
                return EArchiveRead::Truncated;
        }
        else if (!ReadLongLength(in, nWord, nLength))
            return EArchiveRead::Truncated;
    }

    if (!bWide)
        return ReadBytes(in, nLength, strText);

    std::string strUnits;
    const EArchiveRead eResult = ReadBytes(in, nLength * 2, strUnits);
    if (eResult != EArchiveRead::Ok)
        return eResult;
    std::vector<std::uint16_t> units(static_cast<std::size_t>(nLength));
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(strUnits[2 * i]) |
                                              (static_cast<std::uint8_t>(strUnits[2 * i + 1]) << 8));
    strText = Utf16ToUtf8(units.data(), units.size());
    return EArchiveRead::Ok;
}

std::optional<std::string> EncodeArchiveString(std::string_view strText)
{
    const std::uint64_t nLength = strText.size();
    if (nLength > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    std::string strOut;
    strOut.reserve(strText.size() + 7);
    if (nLength <= ARCHIVE_BYTE_LENGTH_MAX)
        strOut += static_cast<char>(nLength);
    else if (nLength <= ARCHIVE_WORD_LENGTH_MAX)
    {
        strOut += '\xFF';
        strOut += static_cast<char>(nLength & 0xFF);
        strOut += static_cast<char>(nLength >> 8);
    }
    else
    {
        strOut += "\xFF\xFF\xFF";
        AppendInt32(strOut, static_cast<std::int32_t>(static_cast<std::uint32_t>(nLength)));
    }
    strOut += strText;
    return strOut;
}

bool WriteArchiveString(platform::CFileWriter& file, std::string_view strText)
{
    const auto strBytes = EncodeArchiveString(strText);
    return strBytes && file.Write(strBytes->data(), strBytes->size());
}

void AppendInt32(std::string& strOut, std::int32_t nValue)
{
    const auto nRaw = static_cast<std::uint32_t>(nValue);
    for (int nShift = 0; nShift < 32; nShift += 8)
        strOut += static_cast<char>((nRaw >> nShift) & 0xFF);
}

std::string Utf16ToUtf8(const std::uint16_t* pUnits, std::size_t nUnits)
{
    constexpr char32_t REPLACEMENT = 0xFFFD;
    std::string strOut;
    strOut.reserve(nUnits);
    for (std::size_t i = 0; i < nUnits; ++i)
    {
        char32_t ch = pUnits[i];
        if (ch >= 0xD800 && ch <= 0xDBFF)
        {
            if (i + 1 < nUnits && pUnits[i + 1] >= 0xDC00 && pUnits[i + 1] <= 0xDFFF)
                ch = 0x10000 + ((ch - 0xD800) << 10) + (pUnits[++i] - 0xDC00);
            else
                ch = REPLACEMENT;
        }
        else if (ch >= 0xDC00 && ch <= 0xDFFF)
            ch = REPLACEMENT;

        if (ch < 0x80)
            strOut += static_cast<char>(ch);
        else if (ch < 0x800)
        {
            strOut += static_cast<char>(0xC0 | (ch >> 6));
            strOut += static_cast<char>(0x80 | (ch & 0x3F));
        }
        else if (ch < 0x10000)
        {
            strOut += static_cast<char>(0xE0 | (ch >> 12));
            strOut += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (ch & 0x3F));
        }
        else
        {
            strOut += static_cast<char>(0xF0 | (ch >> 18));
            strOut += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
            strOut += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return strOut;
}
