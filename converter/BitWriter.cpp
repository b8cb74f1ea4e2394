#include "BitWriter.h"

#include <algorithm>
#include <cstring>

namespace converter
{

void CBitWriter::AlignToByte()
{
    const int nFill = (8 - m_nPending % 8) % 8;
    m_nAccumulator <<= nFill;
    m_nPending += nFill;
    Reserve(4);
    while (m_nPending > 0)
    {
        m_nPending -= 8;
        m_pBytes[m_nSize++] = static_cast<std::uint8_t>(m_nAccumulator >> m_nPending);
    }
}

void CBitWriter::Grow(std::size_t nBytes)
{
    const std::size_t nCapacity = std::max({m_nCapacity * 2, m_nSize + nBytes, std::size_t{64 * 1024}});
    // Deliberately uninitialised: only the bytes below m_nSize are ever read.
    std::unique_ptr<std::uint8_t[]> pBytes(new std::uint8_t[nCapacity]);
    if (m_nSize > 0)
        std::memcpy(pBytes.get(), m_pBytes.get(), m_nSize);
    m_pBytes = std::move(pBytes);
    m_nCapacity = nCapacity;
}

} // namespace converter
