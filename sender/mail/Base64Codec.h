#pragma once

#include "sender/mail/ContentCodec.h"

#include <cstdint>
#include <string>

// Base64 (RFC 2045 6.8) on a small bit buffer: bytes go in at the low end, six bits at a
// time come out at the top. Encode gives one unbroken text padded with "="; the caller
// cuts the input into line-sized pieces.
class CBase64Codec : public CContentCodec
{
public:
    // Decoding stops with 0 at the first character outside the alphabet ("=" is skipped);
    // bits left over after the last whole byte are dropped.
    int Decode(const char* pszText, std::uint8_t* pOutput) override;
    std::string Encode(const std::uint8_t* pData, int nLength) override;

private:
    // Takes up to nBits (at most 8) from the input; nDelivered is fewer only at its end.
    unsigned ReadBits(int nBits, int& nDelivered, int& nPosition);
    void WriteBits(unsigned nValue, int nBits, std::uint8_t* pOutput, int& nIndex);

    std::int32_t m_nInputLength = 0;
    std::int32_t m_nBitCount = 0;
    std::uint32_t m_nBitBuffer = 0;
    const std::uint8_t* m_pInput = nullptr;
};
