#include "sender/store/SettingsFile.h"

#include "platform/BinaryFile.h"
#include "platform/Roots.h"
#include "sender/store/ReplaceFile.h"

#include <system_error>

std::filesystem::path SettingsPath()
{
    return platform::SystemDirectory() / SETTINGS_FILE_NAME;
}

bool ReadSettingsFrom(CArchiveIn& in, std::string& strSmtpServer, std::string& strEmail,
                      std::string& strUserName)
{
    std::string strValues[3];
    for (auto& strValue : strValues)
        if (ReadArchiveString(in, strValue) != EArchiveRead::Ok)
            return false;
    strSmtpServer = std::move(strValues[0]);
    strEmail = std::move(strValues[1]);
    strUserName = std::move(strValues[2]);
    return true;
}

bool ReadSettings(std::string& strSmtpServer, std::string& strEmail, std::string& strUserName,
                  const std::filesystem::path& path)
{
    platform::CFileReader file;
    if (!file.Open(path))
        return false;
    CArchiveIn in(file);
    return ReadSettingsFrom(in, strSmtpServer, strEmail, strUserName) && !file.Failed();
}

std::optional<std::string> EncodeSettings(std::string_view strSmtpServer, std::string_view strEmail,
                                          std::string_view strUserName)
{
    std::string strBytes;
    for (std::string_view strValue : {strSmtpServer, strEmail, strUserName})
    {
        const auto strEncoded = EncodeArchiveString(strValue);
        if (!strEncoded)
            return std::nullopt;
        strBytes += *strEncoded;
    }
    return strBytes;
}

bool WriteSettings(std::string_view strSmtpServer, std::string_view strEmail, std::string_view strUserName,
                   std::string& strError, const std::filesystem::path& path)
{
    const auto strBytes = EncodeSettings(strSmtpServer, strEmail, strUserName);
    if (!strBytes)
    {
        strError = "a setting is too long for " + path.string();
        return false;
    }
    return ReplaceFile(path, *strBytes, strError);
}
