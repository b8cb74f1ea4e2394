#pragma once

#include "sender/mail/ContentAgent.h"

#include <cstdint>

// Writes a text as a 7-bit text/plain part with long lines broken at spaces.
class CPlainTextAgent : public CContentAgent
{
public:
    CPlainTextAgent(int nType, int nLineLength) : CContentAgent(nType), m_nLineLength(nLineLength) {}

    bool AppendPart(const char* pszText, const char* pszParams, std::string& strBody) override;
    std::string GetContentType() override;
    std::string BuildPartHeader(const char* pszText, const char* pszParams) override;

    // Breaks lines longer than the line length at the last space seen before the limit.
    std::string WrapText(const char* pszText) const;

private:
    std::int32_t m_nLineLength;
};
