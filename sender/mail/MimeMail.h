#pragma once

#include "sender/mail/ContentAgent.h"
#include "sender/mail/MimePartInfo.h"
#include "sender/mail/PlainMail.h"

#include <deque>
#include <string>

// A multipart/mixed message: a preamble, then one part per entry of the part list, each
// written by the content agent registered for its type code, and a closing boundary.
// A text part goes first, attachments follow in the order they were added.
class CMimeMail : public CPlainMail
{
public:
    // Registers a text agent and an attachment agent with the process-wide registry.
    CMimeMail();
    ~CMimeMail() override = default;

    // The text is trimmed of white space at both ends.
    bool AddPart(const char* pszText, int nType, const char* pszParams);
    // Starts a line with "--boundary", ending the body's last line first if it is open.
    void AppendBoundary(std::string& strBody) const;
    void AppendClosingBoundary(std::string& strBody) const;

    // The boundary must not appear at the start of any line of any part.
    void SetBoundary(std::string strBoundary) { m_strBoundary = std::move(strBoundary); }

protected:
    void BuildHeaders() override;
    void BuildBody() override;
    virtual void AppendParts();

    std::string m_strPreamble = "This is a multi-part message in MIME format.";
    std::string m_strBoundary = "ZR_MAIL_PaRt_BoUnDaRy_05151998";
    std::string m_strContentType = "multipart/mixed";
    std::deque<CMimePartInfo> m_lstParts;
};
