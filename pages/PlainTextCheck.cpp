#include "pages/PlainTextCheck.h"

namespace driver
{

bool CPlainTextCheck::Feed(std::string_view piece)
{
    for (const char ch : piece)
    {
        if (!m_bPlain)
            break;
        const auto nByte = static_cast<unsigned char>(ch);
        if (m_nDue > 0)
        {
            m_bPlain = nByte >= m_nLow && nByte <= m_nHigh;
            m_nLow = 0x80;
            m_nHigh = 0xBF;
            --m_nDue;
            continue;
        }
        // RFC 3629 4: the first byte says how many continuation bytes follow; the ranges of the
        // second byte rule out overlong forms, surrogates and code points past U+10FFFF.
        if (nByte == 0x00)
            m_bPlain = false;
        else if (nByte < 0x80)
            continue;
        else if (nByte >= 0xC2 && nByte <= 0xDF)
            m_nDue = 1;
        else if (nByte == 0xE0)
            m_nDue = 2, m_nLow = 0xA0;
        else if (nByte == 0xED)
            m_nDue = 2, m_nHigh = 0x9F;
        else if (nByte >= 0xE1 && nByte <= 0xEF)
            m_nDue = 2;
        else if (nByte == 0xF0)
            m_nDue = 3, m_nLow = 0x90;
        else if (nByte >= 0xF1 && nByte <= 0xF3)
            m_nDue = 3;
        else if (nByte == 0xF4)
            m_nDue = 3, m_nHigh = 0x8F;
        else
            m_bPlain = false;
    }
    return m_bPlain;
}

} // namespace driver
