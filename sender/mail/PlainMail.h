#pragma once

#include "sender/mail/MailRecipient.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// A mail message: sender, recipients, subject and body, built into the two texts that go on
// the wire, the header block and the body. Build() runs the steps below through virtual
// calls so that a derived message (CMimeMail) can replace the body it makes.
class CPlainMail
{
public:
    // Where the build time and the Message-ID come from; tests fix them to get exact bytes.
    using TimeSource = std::function<std::time_t()>;
    using MessageIdSource = std::function<std::string(const CPlainMail&)>;

    CPlainMail();
    CPlainMail(const CPlainMail&) = delete;
    CPlainMail& operator=(const CPlainMail&) = delete;
    virtual ~CPlainMail() = default;

    bool AddRecipient(const char* pszAddress, const char* pszName);
    // "addr;Name <addr>;...": splits at ";" and takes the address from between "<" and ">" where
    // there is one. False at the first piece with "<" but no ">" after it; earlier pieces stay.
    bool AddRecipients(const char* pszList);
    int GetRecipientCount() const { return static_cast<int>(m_aRecipients.size()); }
    bool GetRecipient(int nIndex, std::string& strAddress, std::string& strName) const;

    void SetLineLength(int nLineLength) { m_nLineLength = nLineLength; }
    int GetLineLength() const { return m_nLineLength; }

    // Replaces the header block and the body with the texts to send, and takes the time anew.
    void Build();

    const std::string& GetHeader() const { return m_strHeader; }
    std::time_t GetDate() const { return m_timeDate; }
    const std::string& GetMessageId() const { return m_strMessageId; }

    void SetTimeSource(TimeSource fnTime) { m_fnTime = std::move(fnTime); }
    void SetMessageIdSource(MessageIdSource fnMessageId) { m_fnMessageId = std::move(fnMessageId); }

    // The error text for the first field that could break out of its header line or its
    // command (a line break or NUL anywhere; "<", ">", blanks or control characters in an
    // address), or null when the message is safe to send.
    const char* FindUnsafeField() const;

    std::string m_strFrom;
    std::string m_strSubject;
    // Before Build: the caller's text (may be empty). After: the built body.
    std::string m_strBody;

protected:
    virtual void BuildHeaders();
    virtual void BuildBody();
    virtual void EndHeaders();
    virtual void ClearHeaders();
    virtual void AddHeaderLine(const std::string& strLine);

    std::string m_strMailer = "ZR Mail";
    std::string m_strHeader;
    std::time_t m_timeDate = 0;
    std::string m_strMessageId;
    std::int32_t m_nLineLength = 76;
    std::vector<CMailRecipient> m_aRecipients;

private:
    TimeSource m_fnTime;
    MessageIdSource m_fnMessageId;
};

// "Tue, 08 Dec 2026 14:03:07 +0800": RFC 5322 3.3, in local time with a numeric zone, with
// English names whatever the locale.
std::string FormatMailDate(std::time_t time);

// A new "<unique@domain>" (RFC 5322 3.6.4): the time, a process counter and random bits on the
// left; on the right the sender's domain, else the host name, else "localhost".
std::string MakeMessageId(const CPlainMail& mail);
