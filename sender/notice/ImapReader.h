#pragma once

#include "platform/ByteStream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads IMAP server responses (RFC 3501 7) from a stream, within bounds that a hostile or broken
// server cannot push past: the text of a response, each literal and the whole session are
// limited, and a literal that announces more than its limit fails at once, before anything is
// allocated for it. Every wait ends at the caller's deadline.

struct SImapLimits
{
    std::size_t m_nMaxLineBytes = 1024 * 1024;    // the text of one response, its literals aside
    std::size_t m_nMaxLiteralBytes = 256 * 1024;  // one literal
    std::uint64_t m_nMaxSessionBytes = 64u << 20; // everything read over the connection
};

enum class EImapRead
{
    Ok,
    Closed,
    TimedOut,
    Cancelled,
    Failed,        // the stream failed
    LineTooLong,   // a response's text passed its limit
    LiteralTooBig, // a literal announced more than its limit
    SessionTooBig, // the server sent more than the whole session may take
};

// One response: its text in pieces, cut where a literal ("{n}" CR LF and n bytes) stands, so that
// m_aText.size() == m_aLiterals.size() + 1 and literal i comes after m_aText[i]. The "{n}" itself
// is not kept; CR LF are not kept at the end of the pieces.
struct SImapResponse
{
    std::vector<std::string> m_aText;
    std::vector<std::string> m_aLiterals;

    // The response's first piece: all of it for a response without literals.
    const std::string& Head() const { return m_aText.front(); }
};

enum class EImapToken
{
    Atom,   // an atom, number or NIL; "BODY[HEADER]<0>" stays one atom, its brackets included
    String, // a quoted string (unescaped) or a literal
    Open,   // "("
    Close,  // ")"
};

struct SImapToken
{
    EImapToken m_eKind = EImapToken::Atom;
    std::string_view m_strText; // points into the response
};

// Splits a response into tokens. False for a quoted string without its end or a character that
// cannot stand where it does. The tokens point into the response, which must outlive them.
[[nodiscard]] bool TokenizeResponse(const SImapResponse& response, std::vector<SImapToken>& aTokens);

class CImapReader
{
public:
    CImapReader(platform::CByteStream& stream, const SImapLimits& limits)
        : m_pStream(&stream), m_limits(limits)
    {
    }

    // Reads the next whole response, its literals included.
    [[nodiscard]] EImapRead Read(SImapResponse& response, platform::CByteStream::Clock::time_point deadline);

    // Switches to another stream (the TLS session after STARTTLS). Bytes that came before the
    // switch and were not yet taken would be a plain-text injection: true when there were none.
    [[nodiscard]] bool SwitchTo(platform::CByteStream& stream);

    std::uint64_t BytesRead() const { return m_nRead; }

private:
    EImapRead Fill(platform::CByteStream::Clock::time_point deadline);

    platform::CByteStream* m_pStream = nullptr;
    SImapLimits m_limits;
    std::string m_strBuffer; // received and not yet taken
    std::uint64_t m_nRead = 0;
};
