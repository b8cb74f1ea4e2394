#include "pages/PnmPageReader.h"

#include "platform/PageFiles.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace driver
{

namespace
{

constexpr int MAX_TOKEN_DIGITS = 6;
constexpr unsigned MAX_GRAY = 255;

// The eight raster pixels of each bitmap byte, first pixel in the most significant bit:
// a row is then converted a byte, not a bit, at a time.
using PixelOctet = std::array<std::uint8_t, 8>;
constexpr std::array<PixelOctet, 256> MakePixelOctets()
{
    std::array<PixelOctet, 256> octets = {};
    for (unsigned nByte = 0; nByte < 256; ++nByte)
        for (unsigned nBit = 0; nBit < 8; ++nBit)
            octets[nByte][nBit] =
                ((nByte >> (7 - nBit)) & 1) != 0 ? platform::RASTER_BLACK : platform::RASTER_WHITE;
    return octets;
}
constexpr std::array<PixelOctet, 256> PIXEL_OCTETS = MakePixelOctets();
static_assert(PIXEL_OCTETS[0x80][0] == platform::RASTER_BLACK &&
              PIXEL_OCTETS[0x80][1] == platform::RASTER_WHITE);
static_assert(PIXEL_OCTETS[0x01][7] == platform::RASTER_BLACK &&
              PIXEL_OCTETS[0x01][6] == platform::RASTER_WHITE);

bool IsSpace(std::uint8_t byte)
{
    // Netpbm: blanks, TABs, CRs and LFs (and, by the C locale, VT and FF) separate header fields.
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\v' || byte == '\f';
}

} // namespace

CPnmPageReader::CPnmPageReader(PageSink sink)
    : m_sink(std::move(sink)), m_raster(platform::RASTER_BYTES, platform::RASTER_WHITE)
{
}

bool CPnmPageReader::Fail(std::string strError)
{
    m_eState = EState::Failed;
    m_strError = "page " + std::to_string(m_nPages + 1) + ": " + std::move(strError);
    return false;
}

bool CPnmPageReader::EndToken()
{
    m_values[m_nValues++] = m_nToken;
    m_nToken = 0;
    m_nDigits = 0;
    const int nNeeded = m_chFormat == '4' ? 2 : 3;
    if (m_nValues < nNeeded)
        return true;
    const unsigned nWidth = m_values[0];
    const unsigned nHeight = m_values[1];
    if (nWidth != platform::RASTER_ROW_BYTES || nHeight != platform::RASTER_ROWS)
        return Fail("the rendered page is " + std::to_string(nWidth) + " x " + std::to_string(nHeight) +
                    " pixels, not " + std::to_string(platform::RASTER_ROW_BYTES) + " x " +
                    std::to_string(platform::RASTER_ROWS));
    if (m_chFormat == '5' && (m_values[2] == 0 || m_values[2] > MAX_GRAY))
        return Fail("unsupported gray depth " + std::to_string(m_values[2]));
    BeginPixels();
    return true;
}

void CPnmPageReader::BeginPixels()
{
    m_eState = EState::Pixels;
    m_nRowBytes = m_chFormat == '4' ? (platform::RASTER_ROW_BYTES + 7) / 8 : platform::RASTER_ROW_BYTES;
    m_row.assign(m_nRowBytes, 0);
    m_nRowFill = 0;
    m_nRow = 0;
}

bool CPnmPageReader::HeaderByte(std::uint8_t byte)
{
    if (m_eState == EState::Comment)
    {
        if (byte == '\n' || byte == '\r')
            m_eState = EState::Header;
        return true;
    }
    if (byte >= '0' && byte <= '9')
    {
        if (++m_nDigits > MAX_TOKEN_DIGITS)
            return Fail("a header number is too long");
        m_nToken = m_nToken * 10 + (byte - '0');
        return true;
    }
    if (IsSpace(byte) || byte == '#')
    {
        // The single blank after the last number ends the header; the pixels follow at once.
        if (m_nDigits > 0 && !EndToken())
            return false;
        if (byte == '#' && m_eState == EState::Header)
            m_eState = EState::Comment;
        else if (byte == '#')
            return Fail("a comment follows the header");
        return true;
    }
    return Fail("unexpected byte in the image header");
}

void CPnmPageReader::ConvertRow()
{
    std::uint8_t* pOut = m_raster.data() + m_nRow * platform::RASTER_ROW_BYTES;
    if (m_chFormat == '4')
    {
        // P4: rows are padded to whole bytes, the first pixel in the most significant bit, 1 is black.
        constexpr std::size_t WHOLE_BYTES = platform::RASTER_ROW_BYTES / 8;
        constexpr std::size_t LAST_PIXELS = platform::RASTER_ROW_BYTES % 8;
        for (std::size_t nByte = 0; nByte < WHOLE_BYTES; ++nByte)
            std::memcpy(pOut + 8 * nByte, PIXEL_OCTETS[m_row[nByte]].data(), 8);
        if constexpr (LAST_PIXELS != 0)
            std::memcpy(pOut + 8 * WHOLE_BYTES, PIXEL_OCTETS[m_row[WHOLE_BYTES]].data(), LAST_PIXELS);
    }
    else
    {
        // P5: 0 is black and the maximum white; whatever lies below the middle counts as black.
        const unsigned nMax = m_values[2];
        for (std::size_t x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            pOut[x] = 2u * m_row[x] < nMax + 1 ? platform::RASTER_BLACK : platform::RASTER_WHITE;
    }
}

EFeedResult CPnmPageReader::Feed(const std::uint8_t* pData, std::size_t nBytes)
{
    std::size_t i = 0;
    while (i < nBytes)
    {
        switch (m_eState)
        {
        case EState::Failed:
            return EFeedResult::BadStream;
        case EState::Magic:
        {
            const std::uint8_t byte = pData[i++];
            if (m_nMagicBytes == 0 && IsSpace(byte))
                continue; // tolerate blank lines between pages
            if (m_nMagicBytes == 0 && byte == 'P')
                m_nMagicBytes = 1;
            else if (m_nMagicBytes == 1 && (byte == '4' || byte == '5'))
            {
                m_chFormat = static_cast<char>(byte);
                m_nMagicBytes = 0;
                m_nValues = 0;
                m_nDigits = 0;
                m_nToken = 0;
                m_eState = EState::Header;
            }
            else
            {
                Fail("the renderer did not produce a bitmap (P4) or graymap (P5)");
                return EFeedResult::BadStream;
            }
            break;
        }
        case EState::Header:
        case EState::Comment:
            if (!HeaderByte(pData[i++]))
                return EFeedResult::BadStream;
            break;
        case EState::Pixels:
        {
            const std::size_t nTake = std::min(nBytes - i, m_nRowBytes - m_nRowFill);
            std::memcpy(m_row.data() + m_nRowFill, pData + i, nTake);
            m_nRowFill += nTake;
            i += nTake;
            if (m_nRowFill < m_nRowBytes)
                break;
            ConvertRow();
            m_nRowFill = 0;
            if (++m_nRow < platform::RASTER_ROWS)
                break;
            ++m_nPages;
            m_eState = EState::Magic;
            if (!m_sink(m_raster))
                return EFeedResult::Stopped;
            break;
        }
        }
    }
    return m_eState == EState::Failed ? EFeedResult::BadStream : EFeedResult::More;
}

bool CPnmPageReader::Finish()
{
    switch (m_eState)
    {
    case EState::Failed:
        return false;
    case EState::Magic:
        if (m_nMagicBytes == 0)
            return true;
        return Fail("the page stream ends inside an image header");
    case EState::Header:
    case EState::Comment:
        return Fail("the page stream ends inside an image header");
    case EState::Pixels:
        return Fail("the page stream ends after " + std::to_string(m_nRow) + " of " +
                    std::to_string(platform::RASTER_ROWS) + " rows");
    }
    return false;
}

} // namespace driver
