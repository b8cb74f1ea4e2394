#pragma once

#include "sender/common/Gateway.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Why a gateway address template cannot give a valid address.
enum class EGatewayTemplateCheck
{
    Ok,
    NoNumberField,
    NotOneAt,     // no "@", or more than one
    UnknownField, // a "<" or ">" that is not part of <name> or <number>
    BadLocalPart, // a character a mailbox cannot hold, or dots at the ends or doubled
    BadDomain,    // not letters, digits, hyphens and dots in labels of 1 to 63
    NameInDomain, // a name may hold characters that no domain may
    TooLong,      // even a one-character name and a one-digit number do not fit
};

// The text the user sees in Config for a refused template.
const char* GatewayTemplateCheckText(EGatewayTemplateCheck eCheck);

// A gateway address template that has passed its check, e.g. "<number>@fax.provider.example".
// Its fields are replaced by the recipient's mailbox name and fax number, which the send
// checks limit so that the address stays within RFC 5321: a local part of at most 64 octets,
// labels of at most 63, a domain of at most 255.
class CGatewayTemplate
{
public:
    static EGatewayTemplateCheck Check(std::string_view strTemplate);

    // A template that fails its check gives the default one. A send checks the setting first and
    // refuses a damaged one (GatewaySettingText), which would mail the fax to the default gateway.
    explicit CGatewayTemplate(std::string_view strTemplate = DEFAULT_GATEWAY_TEMPLATE);

    const std::string& Text() const { return m_strTemplate; }
    std::string Address(std::string_view strName, std::string_view strNumber) const;

    // The longest number that leaves room for a one-character name, at most MAX_FAX_NUMBER_DIGITS.
    std::size_t MaxNumberDigits() const;
    // The longest name beside a number of this length, at most MAX_RECIPIENT_NAME_BYTES.
    std::size_t MaxNameBytes(std::size_t nNumberDigits) const;

private:
    // How a part of the address grows with the fields: its fixed octets and the number of each field.
    struct SPart
    {
        std::size_t m_nFixed = 0;
        std::size_t m_nNames = 0;
        std::size_t m_nNumbers = 0;
        std::size_t Length(std::size_t nName, std::size_t nNumber) const
        {
            return m_nFixed + m_nNames * nName + m_nNumbers * nNumber;
        }
    };
    // Takes the template as it is, checked or not; it must hold one "@".
    CGatewayTemplate(std::string_view strTemplate, int nUnchecked);
    void Measure();

    std::string m_strTemplate;
    SPart m_local;
    SPart m_domain;
    std::vector<SPart> m_labels;
};
