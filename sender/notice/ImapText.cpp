#include "sender/notice/ImapText.h"

#include "platform/Text.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{

constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// RFC 3501 5.1.3: modified base64, with ',' for '/' and no padding.
constexpr const char* MODIFIED_BASE64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The UTF-8 text as code points, or false when it is not UTF-8.
bool DecodeUtf8(std::string_view strText, std::vector<char32_t>& aPoints)
{
    for (std::size_t i = 0; i < strText.size();)
    {
        const auto ch = static_cast<unsigned char>(strText[i]);
        const int nMore = ch < 0x80             ? 0
                          : (ch & 0xe0) == 0xc0 ? 1
                          : (ch & 0xf0) == 0xe0 ? 2
                          : (ch & 0xf8) == 0xf0 ? 3
                                                : -1;
        if (nMore < 0 || i + static_cast<std::size_t>(nMore) >= strText.size())
            return false;
        char32_t nPoint = nMore == 0 ? ch : ch & (0x3f >> nMore);
        for (int k = 1; k <= nMore; ++k)
        {
            const auto chNext = static_cast<unsigned char>(strText[i + k]);
            if ((chNext & 0xc0) != 0x80)
                return false;
            nPoint = (nPoint << 6) | (chNext & 0x3f);
        }
        constexpr char32_t SMALLEST[] = {0, 0x80, 0x800, 0x10000};
        if (nPoint < SMALLEST[nMore] || nPoint > 0x10ffff || (nPoint >= 0xd800 && nPoint < 0xe000))
            return false;
        aPoints.push_back(nPoint);
        i += nMore + 1;
    }
    return true;
}

} // namespace

bool CanQuote(std::string_view strText)
{
    for (const char ch : strText)
        if (ch == '\0' || ch == '\r' || ch == '\n' || static_cast<unsigned char>(ch) >= 0x80)
            return false;
    return true;
}

std::string Quote(std::string_view strText)
{
    std::string strQuoted = "\"";
    for (const char ch : strText)
    {
        if (ch == '"' || ch == '\\')
            strQuoted += '\\';
        strQuoted += ch;
    }
    return strQuoted + '"';
}

std::string MailboxName(std::string_view strFolder)
{
    std::vector<char32_t> aPoints;
    if (strFolder.empty() || platform::HoldsControlCharacter(strFolder) || !DecodeUtf8(strFolder, aPoints))
        return {};
    std::string strName;
    std::vector<std::uint16_t> aUnits; // the UTF-16 of the run of characters being encoded
    const auto flush = [&]()
    {
        if (aUnits.empty())
            return;
        strName += '&';
        std::uint32_t nBits = 0;
        int nCount = 0;
        for (const std::uint16_t nUnit : aUnits)
        {
            nBits = (nBits << 16) | nUnit;
            nCount += 16;
            while (nCount >= 6)
            {
                nCount -= 6;
                strName += MODIFIED_BASE64[(nBits >> nCount) & 0x3f];
            }
        }
        if (nCount > 0)
            strName += MODIFIED_BASE64[(nBits << (6 - nCount)) & 0x3f];
        strName += '-';
        aUnits.clear();
    };
    for (const char32_t nPoint : aPoints)
    {
        if (nPoint >= 0x20 && nPoint < 0x7f)
        {
            flush();
            strName += nPoint == '&' ? std::string("&-") : std::string(1, static_cast<char>(nPoint));
        }
        else if (nPoint >= 0x10000)
        {
            aUnits.push_back(static_cast<std::uint16_t>(0xd800 + ((nPoint - 0x10000) >> 10)));
            aUnits.push_back(static_cast<std::uint16_t>(0xdc00 + ((nPoint - 0x10000) & 0x3ff)));
        }
        else
        {
            aUnits.push_back(static_cast<std::uint16_t>(nPoint));
        }
    }
    flush();
    return Quote(strName);
}

std::string UidSet(const std::vector<std::uint32_t>& aUids)
{
    std::string strSet;
    for (std::size_t i = 0; i < aUids.size();)
    {
        std::size_t j = i;
        while (j + 1 < aUids.size() && aUids[j + 1] == aUids[j] + 1)
            ++j;
        if (!strSet.empty())
            strSet += ',';
        strSet += std::to_string(aUids[i]);
        if (j > i)
            strSet += ':' + std::to_string(aUids[j]);
        i = j + 1;
    }
    return strSet;
}

std::string SearchDate(std::int64_t nTime)
{
    const std::time_t time = static_cast<std::time_t>(nTime);
    std::tm parts = {};
    ::gmtime_r(&time, &parts);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d-%s-%d", parts.tm_mday, MONTHS[parts.tm_mon],
                  parts.tm_year + 1900);
    return buffer;
}

std::int64_t ParseInternalDate(std::string_view strDate)
{
    // date-time = DQUOTE date-day-fixed "-" date-month "-" date-year SP time SP zone DQUOTE
    char szText[40] = {};
    if (strDate.size() >= sizeof szText)
        return 0;
    std::memcpy(szText, strDate.data(), strDate.size());
    int nDay = 0, nYear = 0, nHour = 0, nMinute = 0, nSecond = 0, nZone = 0;
    char szMonth[4] = {};
    char chSign = 0;
    if (std::sscanf(szText, "%d-%3s-%d %d:%d:%d %c%4d", &nDay, szMonth, &nYear, &nHour, &nMinute, &nSecond,
                    &chSign, &nZone) != 8 ||
        (chSign != '+' && chSign != '-'))
        return 0;
    int nMonth = -1;
    for (int i = 0; i < 12; ++i)
        if (std::strcmp(szMonth, MONTHS[i]) == 0)
            nMonth = i;
    if (nMonth < 0 || nDay < 1 || nDay > 31 || nYear < 1970 || nHour > 23 || nMinute > 59 || nSecond > 60)
        return 0;
    std::tm parts = {};
    parts.tm_mday = nDay;
    parts.tm_mon = nMonth;
    parts.tm_year = nYear - 1900;
    parts.tm_hour = nHour;
    parts.tm_min = nMinute;
    parts.tm_sec = nSecond;
    const std::int64_t nOffset = (nZone / 100 * 60 + nZone % 100) * 60;
    return static_cast<std::int64_t>(::timegm(&parts)) - (chSign == '+' ? nOffset : -nOffset);
}
