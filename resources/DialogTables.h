#pragma once

#include "sender/common/Branding.h"

#include <algorithm>
#include <cstdint>
#include <span>

// The dialogs of Sendwell as data: every control with its ID, kind, text, position and
// size in dialog units, in tab order. The dialogs are built from these tables at run
// time; a dialog unit becomes pixels through the metrics of the dialog's font.
namespace resources
{

enum class EControlKind
{
    PushButton,
    DefaultPushButton,
    Static,
    GroupBox,
    Edit,
    ComboBox,
    ListBox,
    Trackbar,
    CheckBox,
};

// Style notes of a control; several may be combined.
enum EControlStyle : std::uint32_t
{
    STYLE_NONE = 0,
    STYLE_TABSTOP = 1u << 0,
    STYLE_BORDER = 1u << 1,
    STYLE_SUNKEN = 1u << 2,
    STYLE_AUTO_HSCROLL = 1u << 3,
    STYLE_DROPDOWN = 1u << 4, // combo box with an edit field
    STYLE_SORT = 1u << 5,     // list sorted by the control
    STYLE_VSCROLL = 1u << 6,
    STYLE_VERTICAL = 1u << 7, // trackbar standing upright
    STYLE_BOTH_SIDES = 1u << 8,
    STYLE_NO_TICKS = 1u << 9,
    STYLE_NOTIFY = 1u << 10,
    STYLE_NO_INTEGRAL_HEIGHT = 1u << 11,
    STYLE_HYPERLINK = 1u << 12,
    STYLE_PASSWORD = 1u << 13,  // edit field that shows no characters
    STYLE_MULTILINE = 1u << 14, // edit field of several lines
};

// Styles of a dialog window.
enum EDialogStyle : std::uint32_t
{
    DIALOG_CAPTION = 1u << 0,
    DIALOG_SYSMENU = 1u << 1,
    DIALOG_MINIMIZE_BOX = 1u << 2,
    DIALOG_MODAL_FRAME = 1u << 3,
    DIALOG_VISIBLE = 1u << 4,
};

struct SControlTemplate
{
    int m_nId;
    EControlKind m_eKind;
    const char* m_pszText;
    int m_nX, m_nY, m_nWidth, m_nHeight;
    std::uint32_t m_nStyle;
};

struct SDialogTemplate
{
    int m_nId;
    const char* m_pszCaption;
    int m_nWidth, m_nHeight;
    const char* m_pszFontFace;
    int m_nFontPoints;
    std::uint32_t m_nStyle;
    std::span<const SControlTemplate> m_aControls;
};

// Control IDs. Statics that nobody addresses share ID_STATIC.
inline constexpr int ID_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr int IDD_SEND = 102;
inline constexpr int IDC_ONLINE_QUERY = 1004;
inline constexpr int IDC_CONFIG = 1002;
inline constexpr int IDC_HELP = 1007;
inline constexpr int IDC_ABOUT = 1026;
inline constexpr int IDC_RECIPIENT = 1033;
inline constexpr int IDC_FAX_NUMBER = 1036;
inline constexpr int IDC_PREVIEW_SURFACE = 1038;
inline constexpr int IDC_PREVIEW = 1039;
inline constexpr int IDC_PAGE_LIST = 1040;
inline constexpr int IDC_SLIDER_VERT = 1041;
inline constexpr int IDC_SLIDER_HORZ = 1042;
inline constexpr int IDC_BOX_MORE = 1044;
inline constexpr int IDC_TEXT_MORE = 1045;
inline constexpr int IDC_LINK_MORE = 1046;
inline constexpr int IDC_COVER_PAGE = 1047;
inline constexpr int IDC_COVER_DETAILS = 1048;
inline constexpr int IDC_CHECK = 1049;

inline constexpr int IDD_SETTINGS = 129;
inline constexpr int IDC_SMTP_SERVER = 1005;
inline constexpr int IDC_EMAIL = 1006;
inline constexpr int IDC_USER_NAME = 1009;
inline constexpr int IDC_SECURITY = 1010;
inline constexpr int IDC_LOGIN = 1011;
inline constexpr int IDC_PASSWORD = 1012;
inline constexpr int IDC_GATEWAY_ADDRESS = 1013;
inline constexpr int IDC_QUERY_HOST = 1014;
inline constexpr int IDC_TEST = 1015;
inline constexpr int IDC_SENDER_NAME = 1016;
inline constexpr int IDC_SENDER_COMPANY = 1017;
inline constexpr int IDC_SENDER_VOICE = 1018;
inline constexpr int IDC_SENDER_FAX = 1019;
inline constexpr int IDC_SENDER_EMAIL = 1020;
inline constexpr int IDC_COVER_TEMPLATE = 1022;
inline constexpr int IDC_INCOMING_WATCH = 1060;
inline constexpr int IDC_INCOMING_SERVER = 1061;
inline constexpr int IDC_INCOMING_SECURITY = 1062;
inline constexpr int IDC_INCOMING_LOGIN = 1063;
inline constexpr int IDC_INCOMING_PASSWORD = 1064;
inline constexpr int IDC_INCOMING_FOLDER = 1065;

inline constexpr int IDD_COVER = 140;
inline constexpr int IDC_COVER_COMPANY = 1050;
inline constexpr int IDC_COVER_SUBJECT = 1051;
inline constexpr int IDC_COVER_NOTE = 1052;

inline constexpr int IDD_ABOUT = 139;
inline constexpr int IDC_ABOUT_OK = 1007;
inline constexpr int IDC_LINK_WEB = 1021;
inline constexpr int IDC_LINK_MAIL = 1028;

inline constexpr int IDS_ABOUT_ITEM = 101;
inline constexpr int IDI_PROGRAM = 128;

inline constexpr const char* DIALOG_FONT_FACE = "Times New Roman";
inline constexpr int DIALOG_FONT_POINTS = 10;

// The publisher, as the About dialog and the main dialog's link name it.
inline constexpr const char* PUBLISHER_WEB_ADDRESS = "http://www.quilltech.example/";
inline constexpr const char* PUBLISHER_WEB_LABEL = "www.quilltech.example";
inline constexpr const char* PUBLISHER_PRODUCT_PAGE = "http://www.quilltech.example/vellum/";
inline constexpr const char* PUBLISHER_MAIL_ADDRESS = "support@quilltech.example";

// String 101: the About item that the system menu would get.
inline constexpr const char* STRING_ABOUT_ITEM = "&About Sendwell...";

// Dialog 102: the main dialog.
inline constexpr SControlTemplate SEND_DIALOG_CONTROLS[] = {
    {IDOK, EControlKind::DefaultPushButton, "Send", 144, 157, 48, 13, STYLE_TABSTOP},
    {IDCANCEL, EControlKind::PushButton, "Cancel", 199, 157, 48, 13, STYLE_TABSTOP},
    {IDC_CONFIG, EControlKind::PushButton, "Config", 201, 3, 48, 13, STYLE_TABSTOP},
    {IDC_ABOUT, EControlKind::PushButton, "About", 201, 22, 48, 13, STYLE_TABSTOP},
    {IDC_HELP, EControlKind::PushButton, "Help", 201, 41, 48, 13, STYLE_TABSTOP},
    {IDC_ONLINE_QUERY, EControlKind::PushButton, "Online Query", 201, 70, 48, 13, STYLE_TABSTOP},
    {ID_STATIC, EControlKind::Static, "Recipient:", 122, 10, 53, 8, STYLE_NONE},
    {IDC_RECIPIENT, EControlKind::ComboBox, "", 122, 22, 72, 36,
     STYLE_TABSTOP | STYLE_DROPDOWN | STYLE_SORT | STYLE_VSCROLL},
    {ID_STATIC, EControlKind::Static, "Fax Number:", 122, 59, 42, 8, STYLE_NONE},
    {IDC_FAX_NUMBER, EControlKind::Edit, "", 122, 70, 72, 13,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    // The cover page of this fax: a row of its own above Send, after the number in tab order.
    {IDC_COVER_PAGE, EControlKind::CheckBox, "&Cover page", 122, 140, 70, 10, STYLE_TABSTOP},
    {IDC_COVER_DETAILS, EControlKind::PushButton, "Cover page...", 199, 138, 48, 13, STYLE_TABSTOP},
    // The check before sending: left of Send, below the page list.
    {IDC_CHECK, EControlKind::PushButton, "Chec&k", 89, 157, 48, 13, STYLE_TABSTOP},
    {IDC_PREVIEW_SURFACE, EControlKind::Static, "", 9, 3, 102, 124, STYLE_BORDER | STYLE_SUNKEN},
    {IDC_SLIDER_VERT, EControlKind::Trackbar, "", 113, 3, 7, 124,
     STYLE_TABSTOP | STYLE_VERTICAL | STYLE_BOTH_SIDES | STYLE_NO_TICKS},
    {IDC_SLIDER_HORZ, EControlKind::Trackbar, "", 9, 129, 97, 7,
     STYLE_TABSTOP | STYLE_BOTH_SIDES | STYLE_NO_TICKS},
    {IDC_PREVIEW, EControlKind::PushButton, "Preview", 14, 137, 48, 13, STYLE_TABSTOP},
    {IDC_PAGE_LIST, EControlKind::ListBox, "", 68, 137, 33, 15,
     STYLE_TABSTOP | STYLE_NOTIFY | STYLE_BORDER | STYLE_VSCROLL | STYLE_NO_INTEGRAL_HEIGHT},
    {IDC_BOX_MORE, EControlKind::GroupBox, "Free More!", 122, 90, 126, 34, STYLE_NONE},
    {IDC_TEXT_MORE, EControlKind::Static, "More free services online:", 129, 102, 119, 8, STYLE_NONE},
    {IDC_LINK_MORE, EControlKind::Static, PUBLISHER_WEB_LABEL, 143, 110, 95, 10, STYLE_HYPERLINK},
};

// A control's balloon tip: the control and the text the balloon shows for it.
struct SControlTip
{
    int m_nId;
    const char* m_pszText;
};

// The balloon tips of the main dialog's controls, in the order they are registered.
inline constexpr SControlTip SEND_DIALOG_TIPS[] = {
    {IDC_RECIPIENT, "Company or personal name, please input in English"},
    {IDC_FAX_NUMBER, "Country number+City number+Fax number, such as: 86755#######"},
    {IDC_ONLINE_QUERY, "Query whether the fax number is covered by free fax service"},
    {IDC_CONFIG, "Config User Name, Email Address and SMTP Server"},
    {IDOK, "Send the fax right now, and an email about the fax status will be returned soon"},
    {IDCANCEL, "Cancel this operation and return"},
    {IDC_HELP, "About software usage, FAQ and tips"},
    {IDC_ABOUT, "Software copyright and how to update"},
    {IDC_PREVIEW, "Push this button to preview the selected page"},
    {IDC_COVER_PAGE, "Send a cover page as page 1 of this fax"},
    {IDC_COVER_DETAILS, "The recipient's company, the subject and a note for the cover page"},
};

inline constexpr SDialogTemplate SEND_DIALOG = {
    IDD_SEND,
    PRODUCT_NAME,
    255,
    177,
    DIALOG_FONT_FACE,
    DIALOG_FONT_POINTS,
    DIALOG_VISIBLE | DIALOG_CAPTION | DIALOG_SYSMENU | DIALOG_MINIMIZE_BOX | DIALOG_MODAL_FRAME,
    SEND_DIALOG_CONTROLS,
};

// Dialog 129: the settings dialog.
inline constexpr SControlTemplate SETTINGS_DIALOG_CONTROLS[] = {
    {IDOK, EControlKind::DefaultPushButton, "OK", 371, 306, 51, 14, STYLE_TABSTOP},
    {IDCANCEL, EControlKind::PushButton, "Cancel", 425, 306, 51, 14, STYLE_TABSTOP},
    {ID_STATIC, EControlKind::Static, "SMTP Server:", 18, 99, 46, 8, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Email Address:", 18, 83, 48, 10, STYLE_NONE},
    {IDC_SMTP_SERVER, EControlKind::Edit, "", 69, 98, 205, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {IDC_EMAIL, EControlKind::Edit, "", 69, 82, 205, 12, STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Name:", 18, 68, 28, 9, STYLE_NONE},
    {IDC_USER_NAME, EControlKind::Edit, "", 69, 66, 205, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Fill in the following edit boxes to config your system:", 9, 7, 176, 8,
     STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Name:                 The name of users in English", 9, 16, 173, 8,
     STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Email Address: Used to receive the notification about free fax", 9, 25,
     193, 8, STYLE_NONE},
    // The full-width colon comes from the CJK face, whose line is taller.
    {ID_STATIC, EControlKind::Static, "SMTP Server\xEF\xBC\x9APlease ask your ISP", 9, 34, 125, 10,
     STYLE_NONE},
    // How the mail server is reached, and the gateway: beyond the three settings above.
    {ID_STATIC, EControlKind::Static,
     "Security, Login, Password: how you sign in to your mail server; Test tries them", 9, 44, 265, 8,
     STYLE_NONE},
    {ID_STATIC, EControlKind::Static,
     "Fax address, Query host: where faxes and Online Query go; seldom changed", 9, 53, 265, 8, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Security:", 18, 115, 46, 8, STYLE_NONE},
    {IDC_SECURITY, EControlKind::ComboBox, "", 69, 114, 60, 48, STYLE_TABSTOP | STYLE_VSCROLL},
    {ID_STATIC, EControlKind::Static, "Login:", 18, 132, 46, 8, STYLE_NONE},
    {IDC_LOGIN, EControlKind::Edit, "", 69, 130, 205, 12, STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Password:", 18, 148, 46, 8, STYLE_NONE},
    {IDC_PASSWORD, EControlKind::Edit, "", 69, 146, 149, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL | STYLE_PASSWORD},
    // Test tries what is above it, so it comes after the password on screen and in tab order.
    {IDC_TEST, EControlKind::PushButton, "Test", 223, 145, 51, 14, STYLE_TABSTOP},
    // Beside the sending account: the mailbox where the gateway's status notices arrive.
    {ID_STATIC, EControlKind::GroupBox, "Incoming mail (status notices)", 290, 62, 190, 110, STYLE_NONE},
    {IDC_INCOMING_WATCH, EControlKind::CheckBox, "Read the gateway's status notices", 298, 75, 176, 10,
     STYLE_TABSTOP},
    {ID_STATIC, EControlKind::Static, "Server:", 298, 91, 36, 8, STYLE_NONE},
    {IDC_INCOMING_SERVER, EControlKind::Edit, "", 336, 89, 138, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Security:", 298, 107, 36, 8, STYLE_NONE},
    {IDC_INCOMING_SECURITY, EControlKind::ComboBox, "", 336, 105, 60, 36, STYLE_TABSTOP | STYLE_VSCROLL},
    {ID_STATIC, EControlKind::Static, "Login:", 298, 123, 36, 8, STYLE_NONE},
    {IDC_INCOMING_LOGIN, EControlKind::Edit, "", 336, 121, 138, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Password:", 298, 139, 36, 8, STYLE_NONE},
    {IDC_INCOMING_PASSWORD, EControlKind::Edit, "", 336, 137, 138, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL | STYLE_PASSWORD},
    {ID_STATIC, EControlKind::Static, "Folder:", 298, 155, 36, 8, STYLE_NONE},
    {IDC_INCOMING_FOLDER, EControlKind::Edit, "", 336, 153, 138, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static,
     "Sendwell only reads this folder: it never marks, moves or deletes your mail.", 290, 177, 190, 16,
     STYLE_NONE},
    {ID_STATIC, EControlKind::GroupBox, "Advanced: the fax gateway", 9, 165, 274, 50, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Fax address:", 18, 181, 48, 8, STYLE_NONE},
    {IDC_GATEWAY_ADDRESS, EControlKind::Edit, "", 69, 179, 205, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Query host:", 18, 197, 48, 8, STYLE_NONE},
    {IDC_QUERY_HOST, EControlKind::Edit, "", 69, 195, 205, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    // What a cover page says of the sender, and the template it is drawn from.
    {ID_STATIC, EControlKind::GroupBox, "Cover page: you and the template", 9, 220, 274, 80, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Name:", 18, 236, 46, 8, STYLE_NONE},
    {IDC_SENDER_NAME, EControlKind::Edit, "", 69, 234, 80, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Company:", 156, 236, 36, 8, STYLE_NONE},
    {IDC_SENDER_COMPANY, EControlKind::Edit, "", 194, 234, 80, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Phone:", 18, 252, 46, 8, STYLE_NONE},
    {IDC_SENDER_VOICE, EControlKind::Edit, "", 69, 250, 80, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Fax:", 156, 252, 36, 8, STYLE_NONE},
    {IDC_SENDER_FAX, EControlKind::Edit, "", 194, 250, 80, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "E-mail:", 18, 268, 46, 8, STYLE_NONE},
    {IDC_SENDER_EMAIL, EControlKind::Edit, "", 69, 266, 205, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Template:", 18, 284, 46, 8, STYLE_NONE},
    {IDC_COVER_TEMPLATE, EControlKind::ComboBox, "", 69, 282, 205, 45, STYLE_TABSTOP | STYLE_VSCROLL},
};

// The tool tips of the settings dialog's fields beyond the three.
inline constexpr SControlTip SETTINGS_DIALOG_TIPS[] = {
    {IDC_SECURITY, "STARTTLS (port 587) or TLS (port 465) protect the password and the fax; None is plain "
                   "SMTP on port 25, for a server that asks for no password. If SMTP Server names a port "
                   "(host:port), that port is used instead"},
    {IDC_TEST, "Connect to the SMTP server, secure the connection and sign in, without sending anything"},
    {IDC_LOGIN, "The user name your mail provider gave you, often your e-mail address; empty: no sign-in"},
    {IDC_PASSWORD, "Kept in the desktop's keyring, never in a file. Leave it empty to keep the one stored. "
                   "Providers with two-step sign-in want an app password here"},
    {IDC_INCOMING_WATCH, "Look every few minutes, while you are logged in, for the notices that tell whether "
                         "a fax of the last three days arrived; the sent faxes window shows what they say"},
    {IDC_INCOMING_SERVER, "Your mail provider's IMAP server, with :port if not 993 (TLS) or 143 (STARTTLS)"},
    {IDC_INCOMING_LOGIN, "Empty: the Login above"},
    {IDC_INCOMING_PASSWORD, "Kept in the desktop's keyring. With the same server and login as above, the "
                            "password above is used"},
    {IDC_GATEWAY_ADDRESS, "Where the fax mails go: <name> is the recipient's name, <number> the fax number"},
    {IDC_QUERY_HOST, "The gateway's web server that Online Query asks, with :port if not 80"},
    {IDC_SENDER_NAME, "Your name as the cover page shows it, in any script; empty: the Name above"},
    {IDC_SENDER_EMAIL, "Your e-mail address as the cover page shows it; empty: the Email Address above"},
    {IDC_COVER_TEMPLATE, "The page the cover is drawn from: the default, or an SVG file of your own with "
                         "{{field}} placeholders in the covers folder of Sendwell's system directory"},
};

inline constexpr SDialogTemplate SETTINGS_DIALOG = {
    IDD_SETTINGS,
    PRODUCT_NAME,
    488,
    327,
    DIALOG_FONT_FACE,
    DIALOG_FONT_POINTS,
    DIALOG_CAPTION | DIALOG_SYSMENU | DIALOG_MODAL_FRAME,
    SETTINGS_DIALOG_CONTROLS,
};

// Dialog 139: About.
inline constexpr SControlTemplate ABOUT_DIALOG_CONTROLS[] = {
    {ID_STATIC, EControlKind::Static, "Vellum Zeru 3.1: faxes through the Internet", 10, 8, 185, 8,
     STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Copyright (C) Quill Technology Co. All rights reserved.", 10, 19, 185,
     8, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Quill Technology Co., maker of free fax services", 10, 30, 185, 8,
     STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Web site:", 10, 46, 40, 8, STYLE_NONE},
    {IDC_LINK_WEB, EControlKind::Static, PUBLISHER_WEB_LABEL, 52, 46, 120, 10, STYLE_HYPERLINK},
    {ID_STATIC, EControlKind::Static, "E-mail:", 10, 60, 40, 8, STYLE_NONE},
    {IDC_LINK_MAIL, EControlKind::Static, PUBLISHER_MAIL_ADDRESS, 52, 60, 120, 10, STYLE_HYPERLINK},
    {IDC_ABOUT_OK, EControlKind::DefaultPushButton, "OK", 150, 83, 44, 12, STYLE_TABSTOP},
};

inline constexpr SDialogTemplate ABOUT_DIALOG = {
    IDD_ABOUT,
    PRODUCT_NAME,
    202,
    100,
    DIALOG_FONT_FACE,
    DIALOG_FONT_POINTS,
    DIALOG_CAPTION | DIALOG_SYSMENU | DIALOG_MODAL_FRAME,
    ABOUT_DIALOG_CONTROLS,
};

// Dialog 140: the cover page of one fax, from the main dialog's Cover page... button.
inline constexpr SControlTemplate COVER_DIALOG_CONTROLS[] = {
    {ID_STATIC, EControlKind::Static,
     "The cover names the recipient and the fax number as typed in the main dialog, and you as "
     "Config says.",
     7, 7, 206, 16, STYLE_NONE},
    {ID_STATIC, EControlKind::Static, "Company:", 7, 30, 40, 8, STYLE_NONE},
    {IDC_COVER_COMPANY, EControlKind::Edit, "", 50, 28, 163, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Subject:", 7, 46, 40, 8, STYLE_NONE},
    {IDC_COVER_SUBJECT, EControlKind::Edit, "", 50, 44, 163, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTO_HSCROLL},
    {ID_STATIC, EControlKind::Static, "Note:", 7, 62, 40, 8, STYLE_NONE},
    {IDC_COVER_NOTE, EControlKind::Edit, "", 7, 72, 206, 66,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_VSCROLL | STYLE_MULTILINE},
    {IDOK, EControlKind::DefaultPushButton, "OK", 108, 145, 50, 14, STYLE_TABSTOP},
    {IDCANCEL, EControlKind::PushButton, "Cancel", 163, 145, 50, 14, STYLE_TABSTOP},
};

inline constexpr SDialogTemplate COVER_DIALOG = {
    IDD_COVER,
    "Cover page",
    220,
    166,
    DIALOG_FONT_FACE,
    DIALOG_FONT_POINTS,
    DIALOG_CAPTION | DIALOG_SYSMENU | DIALOG_MODAL_FRAME,
    COVER_DIALOG_CONTROLS,
};

// Finds a control of a dialog by its ID; null when it has none (or it is ID_STATIC).
constexpr const SControlTemplate* FindControl(const SDialogTemplate& dialog, int nId)
{
    if (nId == ID_STATIC)
        return nullptr;
    for (const auto& control : dialog.m_aControls)
        if (control.m_nId == nId)
            return &control;
    return nullptr;
}

// Whether a dialog has a control of this ID. Compares IDs only, so that a static_assert can
// use it in every build (the sanitizers make a comparison of table pointers non-constant).
constexpr bool HasControl(const SDialogTemplate& dialog, int nId)
{
    return nId != ID_STATIC && std::ranges::any_of(dialog.m_aControls, [nId](const SControlTemplate& control)
                                                   { return control.m_nId == nId; });
}

static_assert(std::size(SEND_DIALOG_CONTROLS) == 21);
static_assert(std::ranges::all_of(SEND_DIALOG_TIPS,
                                  [](const SControlTip& tip) { return HasControl(SEND_DIALOG, tip.m_nId); }));
static_assert(std::size(SETTINGS_DIALOG_CONTROLS) == 52);
static_assert(std::ranges::all_of(SETTINGS_DIALOG_TIPS, [](const SControlTip& tip)
                                  { return HasControl(SETTINGS_DIALOG, tip.m_nId); }));
static_assert(FindControl(ABOUT_DIALOG, IDC_ABOUT_OK)->m_nX == 150);

} // namespace resources
