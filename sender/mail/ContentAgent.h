#pragma once

#include <cstdint>
#include <string>

// Type codes of MIME parts; each names the agent that writes such a part.
constexpr int AGENT_PLAIN_TEXT = 0;
constexpr int AGENT_TIFF_ATTACHMENT = 1;

// Writes one kind of MIME part, header block and content, into a message body. The
// boundary line in front of the part is the message's business, not the agent's.
class CContentAgent
{
public:
    explicit CContentAgent(int nType) : m_nType(nType) {}
    CContentAgent(const CContentAgent&) = delete;
    CContentAgent& operator=(const CContentAgent&) = delete;
    virtual ~CContentAgent() = default;

    // Appends the whole part and returns true, or returns false and leaves the body as it was.
    virtual bool AppendPart(const char* pszText, const char* pszParams, std::string& strBody) = 0;
    virtual std::string GetContentType() = 0;
    // The part's header lines, ending with the empty line before the content.
    virtual std::string BuildPartHeader(const char* pszText, const char* pszParams) = 0;

    bool Matches(int nType) const { return nType == m_nType; }

protected:
    std::int32_t m_nType;
};
