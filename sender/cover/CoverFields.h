#pragma once

#include <string>
#include <string_view>

// What a cover page says, as UTF-8 text. The send path fills it from the main dialog, the
// cover page dialog and the sender's settings; every field may be empty but the recipient
// and the recipient's fax number, which every template shows.
struct SCoverFields
{
    std::string m_strRecipient;
    std::string m_strRecipientCompany;
    std::string m_strRecipientFax;
    std::string m_strSenderName;
    std::string m_strSenderCompany;
    std::string m_strSenderVoice;
    std::string m_strSenderFax;
    std::string m_strSenderEmail;
    std::string m_strSubject;
    // Several lines, drawn wrapped into the template's note box.
    std::string m_strNote;
    // The pages of the whole fax, this cover included.
    int m_nPages = 1;
    // Empty: the day the page is drawn, as yyyy-mm-dd.
    std::string m_strDate;
};

// "3 pages, including this one", "1 page, including this one".
std::string PageCountText(int nPages);

// The placeholders a template writes as {{name}}, and the text each stands for.
// clang-format off
inline constexpr std::string_view COVER_RECIPIENT         = "recipient";
inline constexpr std::string_view COVER_RECIPIENT_COMPANY = "recipient_company";
inline constexpr std::string_view COVER_RECIPIENT_FAX     = "recipient_fax";
inline constexpr std::string_view COVER_SENDER            = "sender";
inline constexpr std::string_view COVER_SENDER_COMPANY    = "sender_company";
inline constexpr std::string_view COVER_SENDER_VOICE      = "sender_voice";
inline constexpr std::string_view COVER_SENDER_FAX        = "sender_fax";
inline constexpr std::string_view COVER_SENDER_EMAIL      = "sender_email";
inline constexpr std::string_view COVER_SUBJECT           = "subject";
inline constexpr std::string_view COVER_PAGES             = "pages";
inline constexpr std::string_view COVER_DATE              = "date";
inline constexpr std::string_view COVER_FIELD_NAMES[] = {
    COVER_RECIPIENT, COVER_RECIPIENT_COMPANY, COVER_RECIPIENT_FAX, COVER_SENDER, COVER_SENDER_COMPANY,
    COVER_SENDER_VOICE, COVER_SENDER_FAX, COVER_SENDER_EMAIL, COVER_SUBJECT, COVER_PAGES, COVER_DATE};
// What a template must show for the page to serve as a cover at all.
inline constexpr std::string_view COVER_REQUIRED_FIELDS[] = {COVER_RECIPIENT, COVER_RECIPIENT_FAX};
// clang-format on

// The id of the element whose bounds are the note's box; the note is drawn there, wrapped.
inline constexpr std::string_view COVER_NOTE_ID = "note";

bool IsCoverField(std::string_view strName);
// The text of the placeholder strName (one of COVER_FIELD_NAMES), as the fields hold it:
// the page count as PageCountText, an empty date as strToday.
std::string CoverFieldText(const SCoverFields& fields, std::string_view strName, const std::string& strToday);
