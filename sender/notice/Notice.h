#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What matching needs of one mail in the folder, taken from its header and the start of its text.
// Every text is filtered: printable UTF-8 without control characters, bounded.

// A delivery status notification (RFC 3464): what it says of the first recipient it reports
// on, and the Message-IDs of the mail it returns.
struct SDeliveryReport
{
    std::string m_strAction;     // "failed", "delayed", "delivered", ... in lower case
    std::string m_strStatus;     // "5.1.1"
    std::string m_strDiagnostic; // "smtp; 550 5.1.1 <...>: Recipient address rejected"
    std::vector<std::string> m_aReturnedIds;
};

struct SNotice
{
    std::uint32_t m_nUid = 0;
    std::int64_t m_nDate = 0;    // its Date, else its arrival; seconds since 1970
    std::string m_strSubject;    // decoded (RFC 2047), at most 200 bytes
    std::string m_strFirstLines; // the first lines of its text, joined with " / ", at most 500 bytes
    std::string m_strText;       // the start of its text on one line, for words and numbers
    std::vector<std::string> m_aReferences; // In-Reply-To and References, without angle brackets
    bool m_bDeliveryReport = false;
    SDeliveryReport m_report;
};
