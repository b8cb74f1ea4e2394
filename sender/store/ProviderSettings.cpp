#include "sender/store/ProviderSettings.h"

#include "platform/BinaryFile.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/store/ReplaceFile.h"
#include "sender/store/SettingsFile.h"

#include <algorithm>
#include <optional>

namespace
{

// The file is a few lines; anything much larger is not ours.
constexpr std::size_t MAX_FILE_BYTES = 64 * 1024;

constexpr std::string_view KEY_SECURITY = "Mail/Security";
constexpr std::string_view KEY_LOGIN = "Mail/Login";
constexpr std::string_view KEY_GATEWAY_ADDRESS = "Gateway/MailAddress";
constexpr std::string_view KEY_QUERY_HOST = "Gateway/QueryHost";
constexpr std::string_view KEY_KEEP_FAXES = "SentFaxes/KeepFaxes";
constexpr std::string_view KEY_KEEP_MEGABYTES = "SentFaxes/KeepMegabytes";
constexpr std::string_view KEY_COVER_PAGE = "Cover/Enabled";
constexpr std::string_view KEY_INCOMING_SECURITY = "Incoming/Security";
constexpr std::string_view KEY_INCOMING_FOLDER = "Incoming/Folder";
constexpr std::string_view KEY_INCOMING_WATCH = "Incoming/Watch";

// The settings that are plain texts, by section and key, in the order they are written.
struct STextKey
{
    const char* m_pszSection;
    const char* m_pszKey;
    std::string SProviderSettings::*m_pValue;
};
// clang-format off
constexpr STextKey TEXT_KEYS[] = {
    {"Sender", "Name",     &SProviderSettings::m_strSenderName},
    {"Sender", "Company",  &SProviderSettings::m_strSenderCompany},
    {"Sender", "Phone",    &SProviderSettings::m_strSenderVoice},
    {"Sender", "Fax",      &SProviderSettings::m_strSenderFax},
    {"Sender", "Email",    &SProviderSettings::m_strSenderEmail},
    {"Cover",  "Template", &SProviderSettings::m_strCoverTemplate},
};
// The texts of [Incoming], written after its security.
struct SIncomingKey
{
    const char* m_pszKey;
    std::string SIncomingSettings::*m_pValue;
};
constexpr SIncomingKey INCOMING_TEXT_KEYS[] = {
    {"Server", &SIncomingSettings::m_strServer},
    {"Login",  &SIncomingSettings::m_strLogin},
};
// The sections this version writes, in order.
constexpr const char* SECTIONS[] = {"Mail", "Gateway", "SentFaxes", "Sender", "Cover", "Incoming"};
// clang-format on

bool IsKnownSection(std::string_view strSection)
{
    return std::find(std::begin(SECTIONS), std::end(SECTIONS), strSection) != std::end(SECTIONS);
}

// A whole number from 0 to nMax, written in decimal digits only.
std::optional<int> LimitValue(const std::string& strValue, int nMax)
{
    if (strValue.empty() || strValue.size() > 9 ||
        !std::all_of(strValue.begin(), strValue.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return std::nullopt;
    const int nValue = std::stoi(strValue);
    if (nValue > nMax)
        return std::nullopt;
    return nValue;
}

} // namespace

const char* IncomingSecurityName(EIncomingSecurity eSecurity)
{
    return eSecurity == EIncomingSecurity::StartTls ? "STARTTLS" : "TLS";
}

std::optional<EIncomingSecurity> IncomingSecurityFromName(std::string_view strName)
{
    for (EIncomingSecurity eSecurity : {EIncomingSecurity::Tls, EIncomingSecurity::StartTls})
        if (strName == IncomingSecurityName(eSecurity))
            return eSecurity;
    return std::nullopt;
}

std::filesystem::path ProviderSettingsPath()
{
    return platform::SystemDirectory() / PROVIDER_SETTINGS_FILE_NAME;
}

SProviderSettings DecodeProviderSettings(std::string_view strText)
{
    SProviderSettings settings;
    std::string strSection;
    while (!strText.empty())
    {
        const auto nEnd = std::min(strText.find('\n'), strText.size());
        std::string_view line = platform::Trim(strText.substr(0, nEnd));
        strText.remove_prefix(std::min(nEnd + 1, strText.size()));
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[' && line.back() == ']')
        {
            strSection = std::string(line.substr(1, line.size() - 2));
            continue;
        }
        const auto nEquals = line.find('=');
        if (nEquals == std::string_view::npos || platform::HoldsControlCharacter(line))
            continue;
        const std::string strName(platform::Trim(line.substr(0, nEquals)));
        const std::string strKey = strSection + "/" + strName;
        const std::string strValue(platform::Trim(line.substr(nEquals + 1)));
        const auto pText = std::find_if(
            std::begin(TEXT_KEYS), std::end(TEXT_KEYS),
            [&](const STextKey& key) { return strSection == key.m_pszSection && strName == key.m_pszKey; });
        const auto pIncoming = std::find_if(std::begin(INCOMING_TEXT_KEYS), std::end(INCOMING_TEXT_KEYS),
                                            [&](const SIncomingKey& key)
                                            { return strSection == "Incoming" && strName == key.m_pszKey; });
        if (pText != std::end(TEXT_KEYS))
            settings.*(pText->m_pValue) = strValue;
        else if (pIncoming != std::end(INCOMING_TEXT_KEYS))
            settings.m_incoming.*(pIncoming->m_pValue) = strValue;
        // A security this version does not know (plain text, say) keeps TLS rather than
        // weakening the connection.
        else if (strKey == KEY_INCOMING_SECURITY)
            settings.m_incoming.m_eSecurity =
                IncomingSecurityFromName(strValue).value_or(EIncomingSecurity::Tls);
        else if (strKey == KEY_INCOMING_FOLDER && !strValue.empty())
            settings.m_incoming.m_strFolder = strValue;
        else if (strKey == KEY_INCOMING_WATCH)
            settings.m_incoming.m_bWatch = strValue == "1";
        else if (strKey == KEY_COVER_PAGE)
            settings.m_bCoverPage = strValue == "1";
        else if (strKey == KEY_SECURITY)
        {
            if (const auto eSecurity = SmtpSecurityFromName(strValue))
                settings.m_eSecurity = *eSecurity;
        }
        else if (strKey == KEY_LOGIN)
            settings.m_strLogin = strValue;
        else if (strKey == KEY_GATEWAY_ADDRESS && !strValue.empty())
            settings.m_strGatewayAddress = strValue;
        else if (strKey == KEY_QUERY_HOST && !strValue.empty())
            settings.m_strQueryHost = strValue;
        // A limit that is there but cannot be read is no limit: the default would delete the
        // oldest faxes at the next send, which the user never asked for.
        else if (strKey == KEY_KEEP_FAXES)
            settings.m_sentLimits.m_nMaxFaxes =
                LimitValue(strValue, MAX_SENT_FAXES_KEPT).value_or(SENT_NO_LIMIT);
        else if (strKey == KEY_KEEP_MEGABYTES)
            settings.m_sentLimits.m_nMaxMegabytes =
                LimitValue(strValue, MAX_SENT_MEGABYTES_KEPT).value_or(SENT_NO_LIMIT);
        // A later version's key: kept, so that writing the file from here does not lose it.
        else if (strKey != KEY_LOGIN && strKey != KEY_GATEWAY_ADDRESS && strKey != KEY_QUERY_HOST)
            settings.m_aOtherKeys.emplace_back(strSection, std::string(line));
    }
    return settings;
}

SProviderSettings ReadProviderSettings(const std::filesystem::path& path,
                                       const std::filesystem::path& settingsPath)
{
    if (const auto strText = platform::ReadWholeFile(path, MAX_FILE_BYTES))
        return DecodeProviderSettings(*strText);
    SProviderSettings settings;
    std::error_code ignored;
    const auto& oldSettings = settingsPath.empty() ? SettingsPath() : settingsPath;
    if (!std::filesystem::exists(path, ignored) && std::filesystem::exists(oldSettings, ignored))
        settings.m_eSecurity = ESmtpSecurity::None;
    return settings;
}

namespace
{

// The keys of section strSection that this version does not know, one line each.
std::string OtherKeys(const SProviderSettings& settings, std::string_view strSection)
{
    std::string strText;
    for (const auto& [strKeySection, strLine] : settings.m_aOtherKeys)
        if (strKeySection == strSection)
            strText += strLine + "\n";
    return strText;
}

} // namespace

std::string EncodeProviderSettings(const SProviderSettings& settings)
{
    // Keys before any section stay before them all.
    std::string strText = OtherKeys(settings, "");
    strText += "[Mail]\n";
    strText += "Security=" + std::string(SmtpSecurityName(settings.m_eSecurity)) + "\n";
    strText += "Login=" + settings.m_strLogin + "\n";
    strText += OtherKeys(settings, "Mail");
    strText += "[Gateway]\n";
    strText += "MailAddress=" + settings.m_strGatewayAddress + "\n";
    strText += "QueryHost=" + settings.m_strQueryHost + "\n";
    strText += OtherKeys(settings, "Gateway");
    strText += "[SentFaxes]\n";
    strText += "KeepFaxes=" + std::to_string(settings.m_sentLimits.m_nMaxFaxes) + "\n";
    strText += "KeepMegabytes=" + std::to_string(settings.m_sentLimits.m_nMaxMegabytes) + "\n";
    strText += OtherKeys(settings, "SentFaxes");
    std::string_view strSection;
    for (const STextKey& key : TEXT_KEYS)
    {
        if (strSection != key.m_pszSection)
        {
            if (!strSection.empty())
                strText += OtherKeys(settings, strSection);
            strSection = key.m_pszSection;
            strText += "[" + std::string(strSection) + "]\n";
        }
        strText += std::string(key.m_pszKey) + "=" + settings.*(key.m_pValue) + "\n";
    }
    strText += std::string("Enabled=") + (settings.m_bCoverPage ? "1" : "0") + "\n";
    strText += OtherKeys(settings, strSection);
    strText += "[Incoming]\n";
    strText += "Server=" + settings.m_incoming.m_strServer + "\n";
    strText += std::string("Security=") + IncomingSecurityName(settings.m_incoming.m_eSecurity) + "\n";
    strText += "Login=" + settings.m_incoming.m_strLogin + "\n";
    strText += "Folder=" + settings.m_incoming.m_strFolder + "\n";
    strText += std::string("Watch=") + (settings.m_incoming.m_bWatch ? "1" : "0") + "\n";
    strText += OtherKeys(settings, "Incoming");
    // Sections this version does not know, in the order the file had them.
    std::vector<std::string> aSections;
    for (const auto& [strKeySection, strLine] : settings.m_aOtherKeys)
        if (!strKeySection.empty() && !IsKnownSection(strKeySection) &&
            std::find(aSections.begin(), aSections.end(), strKeySection) == aSections.end())
            aSections.push_back(strKeySection);
    for (const std::string& strOther : aSections)
        strText += "[" + strOther + "]\n" + OtherKeys(settings, strOther);
    return strText;
}

bool WriteProviderSettings(const SProviderSettings& settings, std::string& strError,
                           const std::filesystem::path& path)
{
    std::vector<const std::string*> aValues = {&settings.m_strLogin, &settings.m_strGatewayAddress,
                                               &settings.m_strQueryHost};
    for (const STextKey& key : TEXT_KEYS)
        aValues.push_back(&(settings.*(key.m_pValue)));
    for (const SIncomingKey& key : INCOMING_TEXT_KEYS)
        aValues.push_back(&(settings.m_incoming.*(key.m_pValue)));
    aValues.push_back(&settings.m_incoming.m_strFolder);
    for (const std::string* pValue : aValues)
        if (platform::HoldsControlCharacter(*pValue))
        {
            strError = "a setting holds a line break or a control character, which " + path.string() +
                       " cannot keep";
            return false;
        }
    return ReplaceFile(path, EncodeProviderSettings(settings), strError);
}
