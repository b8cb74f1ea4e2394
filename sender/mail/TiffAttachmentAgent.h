#pragma once

#include "sender/mail/ContentAgent.h"

namespace platform
{
class CFileReader;
}

// Attaches a fax page file as an image/tiff part in Base64, named after the file.
class CTiffAttachmentAgent : public CContentAgent
{
public:
    CTiffAttachmentAgent() : CContentAgent(AGENT_TIFF_ATTACHMENT) {}

    // pszText is the path of the file. False when it is missing or cannot be opened.
    bool AppendPart(const char* pszText, const char* pszParams, std::string& strBody) override;
    std::string GetContentType() override;
    std::string BuildPartHeader(const char* pszText, const char* pszParams) override;
    // Appends the rest of the open file as Base64 lines of 72 characters, then an empty line.
    virtual void AppendEncodedFile(platform::CFileReader& file, std::string& strBody);
};
