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
        const std::string strKey = strSection + "/" + std::string(platform::Trim(line.substr(0, nEquals)));
        const std::string strValue(platform::Trim(line.substr(nEquals + 1)));
        if (strKey == KEY_SECURITY)
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

std::string EncodeProviderSettings(const SProviderSettings& settings)
{
    std::string strText = "[Mail]\n";
    strText += "Security=" + std::string(SmtpSecurityName(settings.m_eSecurity)) + "\n";
    strText += "Login=" + settings.m_strLogin + "\n";
    strText += "[Gateway]\n";
    strText += "MailAddress=" + settings.m_strGatewayAddress + "\n";
    strText += "QueryHost=" + settings.m_strQueryHost + "\n";
    strText += "[SentFaxes]\n";
    strText += "KeepFaxes=" + std::to_string(settings.m_sentLimits.m_nMaxFaxes) + "\n";
    strText += "KeepMegabytes=" + std::to_string(settings.m_sentLimits.m_nMaxMegabytes) + "\n";
    return strText;
}

bool WriteProviderSettings(const SProviderSettings& settings, std::string& strError,
                           const std::filesystem::path& path)
{
    for (const std::string* pValue :
         {&settings.m_strLogin, &settings.m_strGatewayAddress, &settings.m_strQueryHost})
        if (platform::HoldsControlCharacter(*pValue))
        {
            strError = "a setting holds a line break or a control character, which " + path.string() +
                       " cannot keep";
            return false;
        }
    return ReplaceFile(path, EncodeProviderSettings(settings), strError);
}
