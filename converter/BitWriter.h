#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace converter
{

// Collects a bit stream, first bit in the most significant position of each byte.
// Bits gather in a 64-bit accumulator and leave it four bytes at a time; the byte
// buffer grows by doubling without zero-filling, and keeps its memory across Reset()
// so that a run of pages touches fresh memory only once. Growing throws std::bad_alloc
// when memory runs out.
class CBitWriter
{
public:
    CBitWriter() = default;
    CBitWriter(const CBitWriter&) = delete;
    CBitWriter& operator=(const CBitWriter&) = delete;
    ~CBitWriter();

    // Empties the stream; the memory is kept.
    void Reset()
    {
        m_nSize = 0;
        m_nAccumulator = 0;
        m_nPending = 0;
    }

    // Appends the nLength low bits of nBits (nLength 1 to 32), most significant first.
    void Put(std::uint32_t nBits, int nLength)
    {
        m_nAccumulator = (m_nAccumulator << nLength) | nBits;
        m_nPending += nLength;
        if (m_nPending >= 32)
        {
            m_nPending -= 32;
            const auto nWord = static_cast<std::uint32_t>(m_nAccumulator >> m_nPending);
            std::uint8_t* p = m_pBytes + m_nSize;
            p[0] = static_cast<std::uint8_t>(nWord >> 24);
            p[1] = static_cast<std::uint8_t>(nWord >> 16);
            p[2] = static_cast<std::uint8_t>(nWord >> 8);
            p[3] = static_cast<std::uint8_t>(nWord);
            m_nSize += 4;
        }
    }

    // Appends whole bytes; only while no bits are pending, as right after AlignToByte().
    void PutBytes(const std::uint8_t* pBytes, std::size_t nBytes)
    {
        Reserve(nBytes);
        std::copy(pBytes, pBytes + nBytes, m_pBytes + m_nSize);
        m_nSize += nBytes;
    }

    // Pads with zero bits up to the next byte boundary and moves every whole byte to the buffer.
    void AlignToByte();

    // Makes room for at least nBytes more bytes of output; Put() itself never checks.
    void Reserve(std::size_t nBytes)
    {
        if (m_nCapacity - m_nSize < nBytes)
            Grow(nBytes);
    }

    // Whole bytes so far; call AlignToByte() first to include the pending bits.
    const std::uint8_t* Data() const { return m_pBytes; }
    std::size_t Size() const { return m_nSize; }
    int PendingBits() const { return m_nPending; }

private:
    void Grow(std::size_t nBytes);

    std::uint8_t* m_pBytes = nullptr; // from malloc: realloc can move large blocks without copying
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
    std::uint64_t m_nAccumulator = 0;
    int m_nPending = 0; // bits in the accumulator not yet in the buffer, 0 to 31
};

} // namespace converter
