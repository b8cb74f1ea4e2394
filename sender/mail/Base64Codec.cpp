#include "sender/mail/Base64Codec.h"

#include <array>
#include <cstring>

namespace
{

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof(ALPHABET) == 64 + 1);
constexpr char PAD = '=';
constexpr int BITS_PER_CHAR = 6;

// MASK[n] = 2^n - 1: the low n bits.
constexpr std::array<unsigned, 9> MASK = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

constexpr int INVALID = -2;
constexpr int SKIP = -1;

// Character to value. The table is indexed by the low seven bits of a character, so the
// entries for a character with its top bit set mirror the plain one.
constexpr std::array<int, 256> MakeDecodeTable()
{
    std::array<int, 256> table = {};
    for (int& entry : table)
        entry = INVALID;
    for (int v = 0; v < 64; ++v)
    {
        const auto ch = static_cast<unsigned char>(ALPHABET[v]);
        table[ch] = v;
        table[ch | 0x80] = v;
    }
    table[static_cast<unsigned char>(PAD)] = SKIP;
    table[static_cast<unsigned char>(PAD) | 0x80] = SKIP;
    return table;
}
constexpr std::array<int, 256> DECODE_TABLE = MakeDecodeTable();

} // namespace

unsigned CBase64Codec::ReadBits(int nBits, int& nDelivered, int& nPosition)
{
    while (m_nBitCount < nBits && nPosition < m_nInputLength)
    {
        m_nBitBuffer = (m_nBitBuffer << 8) | m_pInput[nPosition++];
        m_nBitCount += 8;
    }
    if (m_nBitCount >= nBits)
    {
        nDelivered = nBits;
        m_nBitCount -= nBits;
        return (m_nBitBuffer >> m_nBitCount) & MASK[nBits];
    }
    // Input exhausted: the remaining bits go to the top, zeros fill the rest.
    const unsigned nValue = (m_nBitBuffer << (nBits - m_nBitCount)) & MASK[nBits];
    nDelivered = m_nBitCount;
    m_nBitCount = 0;
    return nValue;
}

std::string CBase64Codec::Encode(const std::uint8_t* pData, int nLength)
{
    std::string strResult;
    if (pData == nullptr || nLength <= 0)
        return strResult;
    m_pInput = pData;
    m_nInputLength = nLength;
    m_nBitCount = 0;
    strResult.reserve((static_cast<std::size_t>(nLength) + 2) / 3 * 4);

    int nPosition = 0;
    int nDelivered = 0;
    unsigned nValue = ReadBits(BITS_PER_CHAR, nDelivered, nPosition);
    while (nDelivered > 0)
    {
        strResult += ALPHABET[nValue];
        nValue = ReadBits(nDelivered, nDelivered, nPosition);
    }
    while (strResult.size() % 4 != 0)
        strResult += PAD;
    return strResult;
}

void CBase64Codec::WriteBits(unsigned nValue, int nBits, std::uint8_t* pOutput, int& nIndex)
{
    m_nBitBuffer = (m_nBitBuffer << nBits) | nValue;
    m_nBitCount += nBits;
    while (m_nBitCount > 7)
    {
        pOutput[nIndex++] = static_cast<std::uint8_t>((m_nBitBuffer >> (m_nBitCount - 8)) & 0xFF);
        m_nBitCount -= 8;
    }
}

int CBase64Codec::Decode(const char* pszText, std::uint8_t* pOutput)
{
    if (pOutput == nullptr || pszText == nullptr || *pszText == '\0')
        return 0;
    const std::size_t nLength = std::strlen(pszText);
    std::memset(pOutput, 0, nLength + 1);
    int nIndex = 0;
    m_nBitCount = 0;
    for (const char* p = pszText; *p != '\0'; ++p)
    {
        const int nEntry = DECODE_TABLE[static_cast<unsigned char>(*p) & 0x7F];
        if (nEntry == INVALID)
            return 0;
        if (nEntry != SKIP)
            WriteBits(static_cast<unsigned>(nEntry), BITS_PER_CHAR, pOutput, nIndex);
    }
    return nIndex;
}
