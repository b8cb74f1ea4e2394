#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reading one SMTP reply (RFC 5321 4.2) out of the bytes received so far. A reply is one or
// more lines; every line but the last has "-" after its code ("250-first"), the last has a
// blank or nothing ("250 done"). The socket code only feeds bytes; this decides.

// RFC 5321 4.5.3.1.5 allows 512 octets a line; servers exceed it, so the caps are generous
// but finite: a peer cannot make the client hold an endless reply.
constexpr std::size_t MAX_REPLY_LINE_BYTES = 4096;
constexpr std::size_t MAX_REPLY_BYTES = 65536;

enum class EReplyStatus
{
    Incomplete, // the final line has not arrived yet
    Complete,
    TooLong, // a line or the whole reply is over its cap
};

struct SSmtpReply
{
    EReplyStatus m_eStatus = EReplyStatus::Incomplete;
    // The final line's code; 0 when its first three characters are not digits.
    int m_nCode = 0;
    // How many bytes the complete reply took; what follows belongs to the next reply.
    std::size_t m_nLength = 0;
};

// Lines end with CR LF; a bare LF is taken as a line end too.
SSmtpReply ParseSmtpReply(std::string_view bytes);

// How much of a server's reply an error may show.
constexpr std::size_t MAX_SHOWN_REPLY_BYTES = 300;

// A reply made fit for a message box or a log: its lines joined by blanks, every byte outside
// printable ASCII shown as "?", and cut to MAX_SHOWN_REPLY_BYTES (ending in "...") when longer.
std::string PrintableReplyText(std::string_view reply);

// A reply kept whole for the user's records: every line, without its code's line end, joined
// by "\n", every other byte outside printable ASCII shown as "?". Not cut: the reader already
// bounds a reply to MAX_REPLY_BYTES.
std::string WholeReplyText(std::string_view reply);
