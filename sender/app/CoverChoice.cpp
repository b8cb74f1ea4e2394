#include "sender/app/CoverChoice.h"

#include "platform/PageFiles.h"
#include "sender/cover/CoverPage.h"
#include "sender/cover/CoverTemplate.h"
#include "sender/cover/CoverTemplates.h"

std::filesystem::path CoverTemplatePath(const std::string& strSetting)
{
    if (strSetting.empty())
        return DefaultCoverTemplate();
    // An absolute path replaces the folder when joined.
    return UserCoverFolder() / std::filesystem::path(strSetting);
}

void FillCoverSender(SCoverFields& fields, const SProviderSettings& provider, const std::string& strUserName,
                     const std::string& strEmail)
{
    fields.m_strSenderName = provider.m_strSenderName.empty() ? strUserName : provider.m_strSenderName;
    fields.m_strSenderCompany = provider.m_strSenderCompany;
    fields.m_strSenderVoice = provider.m_strSenderVoice;
    fields.m_strSenderFax = provider.m_strSenderFax;
    fields.m_strSenderEmail = provider.m_strSenderEmail.empty() ? strEmail : provider.m_strSenderEmail;
}

bool DrawCoverRequest(const SCoverRequest& request, std::vector<std::uint8_t>& raster, std::string& strError)
{
    CCoverTemplate coverTemplate;
    if (!coverTemplate.Load(request.m_template, strError))
        return false;
    raster.assign(platform::RASTER_BYTES, platform::RASTER_WHITE);
    return DrawCoverPage(coverTemplate, request.m_fields, raster, strError);
}
