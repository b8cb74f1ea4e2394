#include "sender/notice/NoticeParser.h"

#include "platform/Text.h"

#include <gmime/gmime.h>
#include <memory>
#include <mutex>

namespace
{

constexpr std::size_t SUBJECT_BYTES = 200;
constexpr std::size_t FIRST_LINES_BYTES = 500;
constexpr std::size_t FIRST_LINES = 5;
// What matching looks through for words and numbers.
constexpr std::size_t TEXT_BYTES = 8 * 1024;
constexpr std::size_t FIELD_BYTES = 300;
// How deep a notice's parts may nest and how many Message-IDs it may name before the rest are
// passed over: a notice has two or three levels and a handful of references.
constexpr int MAX_DEPTH = 8;
constexpr int MAX_REFERENCES = 64;

struct SGObjectDeleter
{
    void operator()(void* pObject) const
    {
        if (pObject != nullptr)
            g_object_unref(pObject);
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, SGObjectDeleter>;

void InitialiseGMime()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] { g_mime_init(); });
}

GObjectPtr<GMimeMessage> ParseMessage(std::string_view strBytes)
{
    GObjectPtr<GMimeStream> pStream(g_mime_stream_mem_new_with_buffer(strBytes.data(), strBytes.size()));
    GObjectPtr<GMimeParser> pParser(g_mime_parser_new_with_stream(pStream.get()));
    return GObjectPtr<GMimeMessage>(g_mime_parser_construct_message(pParser.get(), nullptr));
}

// The decoded content of a leaf part (transfer encoding undone, charset kept).
std::string PartContent(GMimeObject* pObject)
{
    if (!GMIME_IS_PART(pObject))
        return {};
    GMimeDataWrapper* pContent = g_mime_part_get_content(GMIME_PART(pObject));
    if (pContent == nullptr)
        return {};
    GObjectPtr<GMimeStream> pStream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(pContent, pStream.get());
    const GByteArray* pBytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(pStream.get()));
    return pBytes != nullptr ? std::string(reinterpret_cast<const char*>(pBytes->data), pBytes->len)
                             : std::string();
}

std::string StripBrackets(std::string_view strId)
{
    strId = platform::Trim(strId);
    if (strId.size() >= 2 && strId.front() == '<' && strId.back() == '>')
        strId = strId.substr(1, strId.size() - 2);
    return std::string(strId);
}

void AddReferences(GMimeObject* pMessage, const char* pszHeader, std::vector<std::string>& aIds)
{
    const char* pszValue = g_mime_object_get_header(pMessage, pszHeader);
    if (pszValue == nullptr)
        return;
    GMimeReferences* pReferences = g_mime_references_parse(nullptr, pszValue);
    if (pReferences == nullptr)
        return;
    const int nCount = g_mime_references_length(pReferences);
    for (int i = 0; i < nCount && static_cast<int>(aIds.size()) < MAX_REFERENCES; ++i)
        if (const char* pszId = g_mime_references_get_message_id(pReferences, i))
            aIds.push_back(platform::PrintableUtf8(pszId));
    g_mime_references_free(pReferences);
}

// RFC 3464 2: the per-recipient field blocks of a delivery status, lines unfolded. The block
// reported on is the first whose Action is "failed", else the first with any Action.
void ReadDeliveryStatus(std::string_view strContent, SDeliveryReport& report)
{
    SDeliveryReport best;
    SDeliveryReport block;
    std::string strField;
    const auto takeField = [&]()
    {
        const std::size_t nColon = strField.find(':');
        if (nColon != std::string::npos)
        {
            std::string strName = strField.substr(0, nColon);
            for (char& ch : strName)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            const std::string strValue =
                FilterLine(std::string_view(strField).substr(nColon + 1), FIELD_BYTES);
            if (strName == "action")
            {
                block.m_strAction = strValue;
                for (char& ch : block.m_strAction)
                    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            }
            else if (strName == "status")
                block.m_strStatus = strValue;
            else if (strName == "diagnostic-code")
                block.m_strDiagnostic = strValue;
        }
        strField.clear();
    };
    const auto endBlock = [&]()
    {
        takeField();
        if (!block.m_strAction.empty() &&
            (best.m_strAction.empty() || (best.m_strAction != "failed" && block.m_strAction == "failed")))
            best = block;
        block = {};
    };
    std::size_t nStart = 0;
    while (nStart <= strContent.size())
    {
        std::size_t nEnd = strContent.find('\n', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strContent.size();
        std::string_view strLine = strContent.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.remove_suffix(1);
        nStart = nEnd + 1;
        if (strLine.empty())
            endBlock();
        else if (strLine.front() == ' ' || strLine.front() == '\t')
            strField.append(strLine.substr(0, FIELD_BYTES));
        else
        {
            takeField();
            strField = std::string(strLine.substr(0, FIELD_BYTES));
        }
    }
    endBlock();
    report.m_strAction = best.m_strAction;
    report.m_strStatus = best.m_strStatus;
    report.m_strDiagnostic = best.m_strDiagnostic;
}

// The Message-ID of the returned mail's header block.
void AddReturnedId(GMimeMessage* pReturned, SDeliveryReport& report)
{
    if (pReturned == nullptr)
        return;
    if (const char* pszId = g_mime_message_get_message_id(pReturned))
        report.m_aReturnedIds.push_back(platform::PrintableUtf8(pszId));
}

struct SWalk
{
    std::string m_strText; // the first text/plain part, UTF-8
    bool m_bTextFound = false;
    bool m_bReport = false;
};

void Walk(GMimeObject* pObject, int nDepth, SWalk& walk, SNotice& notice)
{
    if (pObject == nullptr || nDepth > MAX_DEPTH)
        return;
    GMimeContentType* pType = g_mime_object_get_content_type(pObject);
    if (GMIME_IS_MULTIPART(pObject))
    {
        if (pType != nullptr && g_mime_content_type_is_type(pType, "multipart", "report"))
        {
            const char* pszReportType = g_mime_content_type_get_parameter(pType, "report-type");
            if (pszReportType != nullptr && g_ascii_strcasecmp(pszReportType, "delivery-status") == 0)
                walk.m_bReport = notice.m_bDeliveryReport = true;
        }
        GMimeMultipart* pMultipart = GMIME_MULTIPART(pObject);
        const int nCount = g_mime_multipart_get_count(pMultipart);
        for (int i = 0; i < nCount; ++i)
            Walk(g_mime_multipart_get_part(pMultipart, i), nDepth + 1, walk, notice);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(pObject))
    {
        // Inside a report this is the returned mail; elsewhere a forwarded one, not ours to read.
        if (walk.m_bReport)
            AddReturnedId(g_mime_message_part_get_message(GMIME_MESSAGE_PART(pObject)), notice.m_report);
        return;
    }
    if (pType == nullptr)
        return;
    if (walk.m_bReport && (g_mime_content_type_is_type(pType, "message", "delivery-status") ||
                           g_mime_content_type_is_type(pType, "message", "global-delivery-status")))
    {
        ReadDeliveryStatus(PartContent(pObject), notice.m_report);
    }
    else if (walk.m_bReport && g_mime_content_type_is_type(pType, "text", "rfc822-headers"))
    {
        std::string strHeaders = PartContent(pObject);
        strHeaders += "\r\n\r\n";
        AddReturnedId(ParseMessage(strHeaders).get(), notice.m_report);
    }
    else if (!walk.m_bTextFound && g_mime_content_type_is_type(pType, "text", "plain") &&
             GMIME_IS_TEXT_PART(pObject))
    {
        // The charset is turned into UTF-8 here; a part without one is taken as UTF-8 or Latin-1.
        char* pszText = g_mime_text_part_get_text(GMIME_TEXT_PART(pObject));
        if (pszText != nullptr)
        {
            walk.m_strText = pszText;
            walk.m_bTextFound = true;
            g_free(pszText);
        }
    }
}

std::string FirstLines(std::string_view strText)
{
    std::string strLines;
    std::size_t nLines = 0;
    std::size_t nStart = 0;
    while (nStart < strText.size() && nLines < FIRST_LINES)
    {
        std::size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strText.size();
        const std::string strLine = FilterLine(strText.substr(nStart, nEnd - nStart), FIRST_LINES_BYTES);
        nStart = nEnd + 1;
        if (strLine.empty())
            continue;
        strLines += (strLines.empty() ? "" : " / ") + strLine;
        ++nLines;
    }
    return FilterLine(strLines, FIRST_LINES_BYTES);
}

} // namespace

std::string FilterLine(std::string_view strText, std::size_t nMaxBytes)
{
    std::string strSpaced;
    strSpaced.reserve(std::min(strText.size(), nMaxBytes * 2));
    for (const char ch : strText)
    {
        const bool bBlank = static_cast<unsigned char>(ch) < 0x20 || ch == ' ' || ch == 0x7f;
        if (bBlank && (strSpaced.empty() || strSpaced.back() == ' '))
            continue;
        strSpaced += bBlank ? ' ' : ch;
        // Enough for nMaxBytes once filtered, whatever the filter replaces.
        if (strSpaced.size() > nMaxBytes * 2 + 8)
            break;
    }
    std::string strLine = platform::PrintableUtf8(platform::Trim(strSpaced, " "));
    if (strLine.size() > nMaxBytes)
    {
        std::size_t nCut = nMaxBytes;
        while (nCut > 0 && (static_cast<unsigned char>(strLine[nCut]) & 0xc0) == 0x80)
            --nCut;
        strLine.resize(nCut);
    }
    return strLine;
}

SNotice ParseNotice(std::string_view strHeader, std::string_view strText, std::int64_t nArrival)
{
    InitialiseGMime();
    SNotice notice;
    notice.m_nDate = nArrival;

    std::string strMessage(strHeader);
    // A header cut off before its blank line still ends before the text.
    if (strMessage.find("\r\n\r\n") == std::string::npos && strMessage.find("\n\n") == std::string::npos)
        strMessage += "\r\n\r\n";
    strMessage += strText;
    const GObjectPtr<GMimeMessage> pMessage = ParseMessage(strMessage);
    if (!pMessage)
        return notice;

    if (const char* pszSubject = g_mime_message_get_subject(pMessage.get()))
        notice.m_strSubject = FilterLine(pszSubject, SUBJECT_BYTES);
    if (GDateTime* pDate = g_mime_message_get_date(pMessage.get()))
        if (g_date_time_to_unix(pDate) > 0)
            notice.m_nDate = g_date_time_to_unix(pDate);
    GMimeObject* pObject = GMIME_OBJECT(pMessage.get());
    AddReferences(pObject, "In-Reply-To", notice.m_aReferences);
    AddReferences(pObject, "References", notice.m_aReferences);

    SWalk walk;
    Walk(g_mime_message_get_mime_part(pMessage.get()), 0, walk, notice);
    notice.m_strFirstLines = FirstLines(walk.m_strText);
    notice.m_strText = FilterLine(walk.m_strText, TEXT_BYTES);
    for (std::string& strId : notice.m_report.m_aReturnedIds)
        strId = StripBrackets(strId);
    return notice;
}
