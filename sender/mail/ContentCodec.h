#pragma once

#include <cstdint>
#include <string>

// A transfer encoding for MIME part content.
class CContentCodec
{
public:
    virtual ~CContentCodec() = default;
    // Writes the bytes that pszText encodes into pOutput (room for the text's length + 1 bytes);
    // returns how many were written.
    virtual int Decode(const char* pszText, std::uint8_t* pOutput) = 0;
    // The encoded text of nLength bytes at pData.
    virtual std::string Encode(const std::uint8_t* pData, int nLength) = 0;
};
