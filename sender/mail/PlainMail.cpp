#include "sender/mail/PlainMail.h"

#include "sender/mail/MailSyntax.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <unistd.h>

namespace
{

constexpr std::string_view CR_LF = "\r\n";

bool EndsWithCrLf(const std::string& str)
{
    return str.size() >= 2 && str.compare(str.size() - 2, 2, CR_LF) == 0;
}

} // namespace

CPlainMail::CPlainMail() : m_fnTime([] { return std::time(nullptr); }), m_fnMessageId(MakeMessageId) {}

bool CPlainMail::AddRecipient(const char* pszAddress, const char* pszName)
{
    m_aRecipients.push_back({pszAddress != nullptr ? pszAddress : "", pszName != nullptr ? pszName : ""});
    return true;
}

bool CPlainMail::AddRecipients(const char* pszList)
{
    if (pszList == nullptr)
        return false;
    const std::string_view strList = pszList;
    std::size_t nStart = 0;
    for (;;)
    {
        const auto nEnd = std::min(strList.find(';', nStart), strList.size());
        const std::string_view strPiece = strList.substr(nStart, nEnd - nStart);
        const auto nOpen = strPiece.find('<');
        if (nOpen == std::string_view::npos)
            AddRecipient(std::string(strPiece).c_str(), "");
        else
        {
            const auto nClose = strPiece.find('>');
            if (nClose == std::string_view::npos || nClose < nOpen)
                return false;
            AddRecipient(std::string(strPiece.substr(nOpen + 1, nClose - nOpen - 1)).c_str(),
                         std::string(strPiece.substr(0, nOpen)).c_str());
        }
        if (nEnd == strList.size())
            return true;
        nStart = nEnd + 1;
    }
}

bool CPlainMail::GetRecipient(int nIndex, std::string& strAddress, std::string& strName) const
{
    if (nIndex < 0 || nIndex >= GetRecipientCount())
        return false;
    strAddress = m_aRecipients[static_cast<std::size_t>(nIndex)].m_strAddress;
    strName = m_aRecipients[static_cast<std::size_t>(nIndex)].m_strName;
    return true;
}

void CPlainMail::Build()
{
    ClearHeaders();
    BuildHeaders();
    EndHeaders();
    BuildBody();
}

void CPlainMail::ClearHeaders()
{
    m_strHeader.clear();
}

void CPlainMail::AddHeaderLine(const std::string& strLine)
{
    m_strHeader += strLine;
    m_strHeader += CR_LF;
}

void CPlainMail::EndHeaders()
{
    m_strHeader += CR_LF;
}

void CPlainMail::BuildHeaders()
{
    AddHeaderLine("From: " + m_strFrom);

    std::string strTo = "To: ";
    for (std::size_t i = 0; i < m_aRecipients.size(); ++i)
    {
        if (i > 0)
            strTo += ',';
        strTo += m_aRecipients[i].m_strName + "<" + m_aRecipients[i].m_strAddress + ">";
    }
    AddHeaderLine(strTo);

    m_timeDate = m_fnTime();
    AddHeaderLine("Date: " + FormatMailDate(m_timeDate));
    // Large providers refuse mail without a Message-ID; it follows the Date line.
    m_strMessageId = m_fnMessageId(*this);
    AddHeaderLine("Message-ID: " + m_strMessageId);
    AddHeaderLine("Subject: " + m_strSubject);
    AddHeaderLine("X-Mailer: " + m_strMailer);
}

void CPlainMail::BuildBody()
{
    if (!EndsWithCrLf(m_strBody))
        m_strBody += CR_LF;
}

const char* CPlainMail::FindUnsafeField() const
{
    if (IsUnsafeAddress(m_strFrom))
        return "Invalid sender address";
    for (const CMailRecipient& recipient : m_aRecipients)
    {
        if (IsUnsafeAddress(recipient.m_strAddress))
            return "Invalid recipient address";
        if (HoldsLineBreakOrNul(recipient.m_strName))
            return "Invalid recipient name";
    }
    if (HoldsLineBreakOrNul(m_strSubject))
        return "Invalid subject";
    if (HoldsLineBreakOrNul(m_strMailer))
        return "Invalid mailer name";
    return nullptr;
}

std::string FormatMailDate(std::time_t time)
{
    // Fixed English names: strftime's %a and %b follow the locale.
    static constexpr const char* DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local = {};
    if (::localtime_r(&time, &local) == nullptr)
    {
        const std::time_t epoch = 0;
        ::gmtime_r(&epoch, &local);
    }
    const long nOffset = local.tm_gmtoff;
    const long nAbsMinutes = std::labs(nOffset) / 60;
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", DAYS[local.tm_wday % 7],
                  local.tm_mday, MONTHS[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, nOffset < 0 ? '-' : '+', nAbsMinutes / 60, nAbsMinutes % 60);
    return text;
}

std::string MakeMessageId(const CPlainMail& mail)
{
    static std::atomic<unsigned> s_nCounter{0};
    std::string strDomain;
    const auto nAt = mail.m_strFrom.rfind('@');
    if (nAt != std::string::npos && IsPlainDomain(std::string_view(mail.m_strFrom).substr(nAt + 1)))
        strDomain = mail.m_strFrom.substr(nAt + 1);
    else
    {
        char host[HOST_NAME_MAX + 1] = {};
        if (::gethostname(host, sizeof(host) - 1) == 0 && IsPlainDomain(host))
            strDomain = host;
        else
            strDomain = "localhost";
    }
    std::random_device random;
    const unsigned long long nRandom = (static_cast<unsigned long long>(random()) << 32) | random();
    char text[96];
    std::snprintf(text, sizeof(text), "<%llx.%x.%016llx@",
                  static_cast<unsigned long long>(std::time(nullptr)), s_nCounter.fetch_add(1), nRandom);
    return text + strDomain + ">";
}
