#include "sender/mail/MimeMail.h"

#include "platform/Text.h"
#include "sender/mail/ContentAgentRegistry.h"
#include "sender/mail/PlainTextAgent.h"
#include "sender/mail/TiffAttachmentAgent.h"

#include <new>
#include <string_view>

namespace
{

constexpr std::string_view CR_LF = "\r\n";

void EndOpenLine(std::string& strBody)
{
    if (strBody.size() < 2 || strBody.compare(strBody.size() - 2, 2, CR_LF) != 0)
        strBody += CR_LF;
}

} // namespace

CMimeMail::CMimeMail()
{
    // Only the first agent of each kind is ever found; later ones wait in the registry until exit.
    CContentAgentRegistry& registry = CContentAgentRegistry::Instance();
    registry.RegisterAgent(new (std::nothrow) CPlainTextAgent(AGENT_PLAIN_TEXT, GetLineLength()));
    registry.RegisterAgent(new (std::nothrow) CTiffAttachmentAgent);
}

bool CMimeMail::AddPart(const char* pszText, int nType, const char* pszParams)
{
    CMimePartInfo part;
    part.m_nType = nType;
    part.m_strParams = pszParams != nullptr ? pszParams : "";
    part.m_strText = platform::Trim(pszText != nullptr ? pszText : "");
    if (nType == AGENT_PLAIN_TEXT)
        m_lstParts.push_front(std::move(part));
    else
        m_lstParts.push_back(std::move(part));
    return true;
}

void CMimeMail::AppendBoundary(std::string& strBody) const
{
    EndOpenLine(strBody);
    strBody += "--" + m_strBoundary + "\r\n";
}

void CMimeMail::AppendClosingBoundary(std::string& strBody) const
{
    EndOpenLine(strBody);
    strBody += "--" + m_strBoundary + "--\r\n";
}

void CMimeMail::BuildHeaders()
{
    CPlainMail::BuildHeaders();
    AddHeaderLine("MIME-Version: 1.0");
    AddHeaderLine("Content-Type: " + m_strContentType + "; boundary=" + m_strBoundary);
}

void CMimeMail::BuildBody()
{
    if (!m_strBody.empty())
        AddPart(m_strBody.c_str(), AGENT_PLAIN_TEXT, "");
    m_strBody = m_strPreamble;
    m_strBody += "\r\n\r\n";
    AppendParts();
    AppendClosingBoundary(m_strBody);
    CPlainMail::BuildBody();
}

void CMimeMail::AppendParts()
{
    CContentAgentRegistry& registry = CContentAgentRegistry::Instance();
    for (const CMimePartInfo& part : m_lstParts)
    {
        CContentAgent* pAgent = registry.FindAgent(part.m_nType);
        if (pAgent == nullptr)
            continue;
        AppendBoundary(m_strBody);
        // A file that cannot be read leaves a boundary with no part behind it; the others still go.
        pAgent->AppendPart(part.m_strText.c_str(), part.m_strParams.c_str(), m_strBody);
    }
}
