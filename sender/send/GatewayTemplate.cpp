#include "sender/send/GatewayTemplate.h"

#include "sender/mail/MailSyntax.h"

#include <algorithm>
#include <limits>

namespace
{

// RFC 5321 4.5.3.1.1 and 4.5.3.1.2, RFC 1035 2.3.4.
constexpr std::size_t MAX_LOCAL_PART = 64;
constexpr std::size_t MAX_LABEL = 63;
constexpr std::size_t MAX_DOMAIN = 255;

constexpr std::string_view NAME_FIELD = GATEWAY_NAME_FIELD;
constexpr std::string_view NUMBER_FIELD = GATEWAY_NUMBER_FIELD;

// Replaces each field; the text between fields is kept as it stands.
std::string Expand(std::string_view strTemplate, std::string_view strName, std::string_view strNumber)
{
    std::string strOut;
    for (std::size_t nPos = 0; nPos < strTemplate.size();)
    {
        const std::string_view rest = strTemplate.substr(nPos);
        if (rest.starts_with(NAME_FIELD))
        {
            strOut += strName;
            nPos += NAME_FIELD.size();
        }
        else if (rest.starts_with(NUMBER_FIELD))
        {
            strOut += strNumber;
            nPos += NUMBER_FIELD.size();
        }
        else
            strOut += strTemplate[nPos++];
    }
    return strOut;
}

std::size_t Count(std::string_view strText, std::string_view strField)
{
    std::size_t nCount = 0;
    for (auto nPos = strText.find(strField); nPos != std::string_view::npos;
         nPos = strText.find(strField, nPos + 1))
        ++nCount;
    return nCount;
}

// Every "<" opens a field and every ">" closes one.
bool FieldsAreKnown(std::string_view strTemplate)
{
    const std::string strBare = Expand(strTemplate, "", "");
    return strBare.find_first_of("<>") == std::string::npos;
}

bool IsPlainLabel(std::string_view strLabel)
{
    return !strLabel.empty() && strLabel.size() <= MAX_LABEL && strLabel.front() != '-' &&
           strLabel.back() != '-';
}

// Letters, digits and hyphens in two or more labels of 1 to 63 that neither start nor end with
// a hyphen: a domain on the Internet, where the gateway is.
bool IsHostDomain(std::string_view strDomain)
{
    if (!IsPlainDomain(strDomain) || strDomain.find('.') == std::string_view::npos)
        return false;
    for (std::size_t nStart = 0; nStart <= strDomain.size();)
    {
        const auto nEnd = std::min(strDomain.find('.', nStart), strDomain.size());
        if (!IsPlainLabel(strDomain.substr(nStart, nEnd - nStart)))
            return false;
        nStart = nEnd + 1;
    }
    return true;
}

// A part limit divided among the copies of a field: how long one copy may be.
std::size_t Room(std::size_t nLimit, std::size_t nUsed, std::size_t nCopies)
{
    if (nCopies == 0)
        return std::numeric_limits<std::size_t>::max();
    return nUsed >= nLimit ? 0 : (nLimit - nUsed) / nCopies;
}

} // namespace

const char* GatewayTemplateCheckText(EGatewayTemplateCheck eCheck)
{
    switch (eCheck)
    {
    case EGatewayTemplateCheck::NoNumberField:
        return "Sorry, the gateway address must hold <number>, where the fax number goes";
    case EGatewayTemplateCheck::NotOneAt:
        return "Sorry, the gateway address must hold one \"@\" between the mailbox and the domain";
    case EGatewayTemplateCheck::UnknownField:
        return "Sorry, the gateway address may hold only the fields <name> and <number>";
    case EGatewayTemplateCheck::BadLocalPart:
        return "Sorry, before the \"@\" the gateway address may hold only letters, digits, single dots "
               "inside and ! # $ % & ' * + - / = ? ^ _ ` { | } ~";
    case EGatewayTemplateCheck::BadDomain:
        return "Sorry, after the \"@\" the gateway address must be a domain: letters, digits and hyphens "
               "in two or more parts of at most 63 characters joined by dots";
    case EGatewayTemplateCheck::NameInDomain:
        return "Sorry, <name> may stand only before the \"@\" of the gateway address";
    case EGatewayTemplateCheck::TooLong:
        return "Sorry, the gateway address is too long to hold a name and a number";
    case EGatewayTemplateCheck::Ok:
        break;
    }
    return "";
}

EGatewayTemplateCheck CGatewayTemplate::Check(std::string_view strTemplate)
{
    if (!FieldsAreKnown(strTemplate))
        return EGatewayTemplateCheck::UnknownField;
    const auto nAt = strTemplate.find('@');
    if (nAt == std::string_view::npos || strTemplate.find('@', nAt + 1) != std::string_view::npos)
        return EGatewayTemplateCheck::NotOneAt;
    if (strTemplate.find(NUMBER_FIELD) == std::string_view::npos)
        return EGatewayTemplateCheck::NoNumberField;
    const std::string_view local = strTemplate.substr(0, nAt);
    const std::string_view domain = strTemplate.substr(nAt + 1);
    if (domain.find(NAME_FIELD) != std::string_view::npos)
        return EGatewayTemplateCheck::NameInDomain;
    // A mailbox name holds no dot and a number only digits, so one character of each shows
    // whether every name and number gives a valid address.
    if (!IsDotAtom(Expand(local, "a", "1")))
        return EGatewayTemplateCheck::BadLocalPart;
    if (!IsHostDomain(Expand(domain, "", "1")))
        return EGatewayTemplateCheck::BadDomain;
    const CGatewayTemplate shortest(strTemplate, 0);
    if (shortest.MaxNumberDigits() == 0 || shortest.MaxNameBytes(1) == 0)
        return EGatewayTemplateCheck::TooLong;
    return EGatewayTemplateCheck::Ok;
}

CGatewayTemplate::CGatewayTemplate(std::string_view strTemplate)
    : CGatewayTemplate(
          Check(strTemplate) == EGatewayTemplateCheck::Ok ? strTemplate : DEFAULT_GATEWAY_TEMPLATE, 0)
{
}

CGatewayTemplate::CGatewayTemplate(std::string_view strTemplate, int /*nUnchecked*/)
    : m_strTemplate(strTemplate)
{
    Measure();
}

void CGatewayTemplate::Measure()
{
    auto measure = [](std::string_view strPart)
    {
        SPart part;
        part.m_nNames = Count(strPart, NAME_FIELD);
        part.m_nNumbers = Count(strPart, NUMBER_FIELD);
        part.m_nFixed =
            strPart.size() - part.m_nNames * NAME_FIELD.size() - part.m_nNumbers * NUMBER_FIELD.size();
        return part;
    };
    const std::string_view text = m_strTemplate;
    const auto nAt = text.find('@');
    m_local = measure(text.substr(0, nAt));
    const std::string_view domain = text.substr(nAt + 1);
    m_domain = measure(domain);
    m_labels.clear();
    for (std::size_t nStart = 0; nStart <= domain.size();)
    {
        const auto nEnd = std::min(domain.find('.', nStart), domain.size());
        m_labels.push_back(measure(domain.substr(nStart, nEnd - nStart)));
        nStart = nEnd + 1;
    }
}

std::string CGatewayTemplate::Address(std::string_view strName, std::string_view strNumber) const
{
    return Expand(m_strTemplate, strName, strNumber);
}

std::size_t CGatewayTemplate::MaxNumberDigits() const
{
    std::size_t nMax = MAX_FAX_NUMBER_DIGITS;
    nMax = std::min(nMax, Room(MAX_LOCAL_PART, m_local.Length(1, 0), m_local.m_nNumbers));
    nMax = std::min(nMax, Room(MAX_DOMAIN, m_domain.m_nFixed, m_domain.m_nNumbers));
    for (const SPart& label : m_labels)
        nMax = std::min(nMax, Room(MAX_LABEL, label.m_nFixed, label.m_nNumbers));
    return nMax;
}

std::size_t CGatewayTemplate::MaxNameBytes(std::size_t nNumberDigits) const
{
    return std::min(MAX_RECIPIENT_NAME_BYTES,
                    Room(MAX_LOCAL_PART, m_local.Length(0, nNumberDigits), m_local.m_nNames));
}
