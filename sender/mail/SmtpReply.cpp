#include "sender/mail/SmtpReply.h"

#include <algorithm>

namespace
{

bool IsDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

} // namespace

SSmtpReply ParseSmtpReply(std::string_view bytes)
{
    SSmtpReply reply;
    std::size_t nLineStart = 0;
    for (;;)
    {
        const auto nLineFeed = bytes.find('\n', nLineStart);
        if (nLineFeed == std::string_view::npos)
        {
            const bool bOverCap =
                bytes.size() - nLineStart > MAX_REPLY_LINE_BYTES || bytes.size() > MAX_REPLY_BYTES;
            reply.m_eStatus = bOverCap ? EReplyStatus::TooLong : EReplyStatus::Incomplete;
            return reply;
        }
        const std::size_t nNext = nLineFeed + 1;
        if (nNext - nLineStart > MAX_REPLY_LINE_BYTES || nNext > MAX_REPLY_BYTES)
        {
            reply.m_eStatus = EReplyStatus::TooLong;
            return reply;
        }
        std::string_view line = bytes.substr(nLineStart, nLineFeed - nLineStart);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool bContinued = line.size() >= 4 && line[3] == '-';
        if (!bContinued)
        {
            reply.m_eStatus = EReplyStatus::Complete;
            reply.m_nLength = nNext;
            if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]))
                reply.m_nCode = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            return reply;
        }
        nLineStart = nNext;
    }
}

std::string PrintableReplyText(std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.remove_suffix(1);
    std::string strText;
    strText.reserve(std::min(reply.size(), MAX_SHOWN_REPLY_BYTES));
    for (std::size_t i = 0; i < reply.size(); ++i)
    {
        if (strText.size() >= MAX_SHOWN_REPLY_BYTES)
        {
            strText.resize(MAX_SHOWN_REPLY_BYTES - 3);
            strText += "...";
            break;
        }
        const char ch = reply[i];
        if (ch == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n')
            continue;
        if (ch == '\n')
            strText += ' ';
        else
            strText += ch >= 0x20 && ch < 0x7F ? ch : '?';
    }
    return strText;
}

std::string WholeReplyText(std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.remove_suffix(1);
    std::string strText;
    strText.reserve(reply.size());
    for (std::size_t i = 0; i < reply.size(); ++i)
    {
        const char ch = reply[i];
        if (ch == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n')
            continue;
        if (ch == '\n')
            strText += '\n';
        else
            strText += ch >= 0x20 && ch < 0x7F ? ch : '?';
    }
    return strText;
}
