#include "sender/cover/CoverFields.h"

#include <algorithm>

std::string PageCountText(int nPages)
{
    return std::to_string(nPages) + (nPages == 1 ? " page" : " pages") + ", including this one";
}

bool IsCoverField(std::string_view strName)
{
    return std::find(std::begin(COVER_FIELD_NAMES), std::end(COVER_FIELD_NAMES), strName) !=
           std::end(COVER_FIELD_NAMES);
}

std::string CoverFieldText(const SCoverFields& fields, std::string_view strName, const std::string& strToday)
{
    // clang-format off
    if (strName == COVER_RECIPIENT)         return fields.m_strRecipient;
    if (strName == COVER_RECIPIENT_COMPANY) return fields.m_strRecipientCompany;
    if (strName == COVER_RECIPIENT_FAX)     return fields.m_strRecipientFax;
    if (strName == COVER_SENDER)            return fields.m_strSenderName;
    if (strName == COVER_SENDER_COMPANY)    return fields.m_strSenderCompany;
    if (strName == COVER_SENDER_VOICE)      return fields.m_strSenderVoice;
    if (strName == COVER_SENDER_FAX)        return fields.m_strSenderFax;
    if (strName == COVER_SENDER_EMAIL)      return fields.m_strSenderEmail;
    if (strName == COVER_SUBJECT)           return fields.m_strSubject;
    if (strName == COVER_PAGES)             return PageCountText(fields.m_nPages);
    if (strName == COVER_DATE)              return fields.m_strDate.empty() ? strToday : fields.m_strDate;
    // clang-format on
    return {};
}
