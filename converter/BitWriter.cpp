#include "converter/BitWriter.h"

#include <algorithm>
#include <cstdlib>
#include <new>

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

CBitWriter::~CBitWriter()
{
    std::free(m_pBytes);
}

void CBitWriter::Grow(std::size_t nBytes)
{
    const std::size_t nCapacity = std::max({m_nCapacity * 2, m_nSize + nBytes, std::size_t{64 * 1024}});
    // Deliberately uninitialised: only the bytes below m_nSize are ever read.
    auto* pBytes = static_cast<std::uint8_t*>(std::realloc(m_pBytes, nCapacity));
    if (pBytes == nullptr)
        throw std::bad_alloc();
    m_pBytes = pBytes;
    m_nCapacity = nCapacity;
}

} // namespace converter
