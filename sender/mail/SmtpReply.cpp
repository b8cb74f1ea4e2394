#include "sender/mail/SmtpReply.h"

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
