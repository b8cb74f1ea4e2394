#include "sender/query/QueryNumber.h"

#include <algorithm>

namespace
{

constexpr std::string_view HTTP_PREFIX = "http://";

constexpr const char* TEXT_NUMBER_BLANK = "Sorry, the fax number could not be blank";
constexpr const char* TEXT_NUMBER_NOT_DIGITS = "Sorry, only number is adopted for fax number";

} // namespace

std::string MakeQueryUrl(std::string_view strHost, std::string_view strNumber)
{
    std::string strUrl(HTTP_PREFIX);
    strUrl += strHost;
    strUrl += QUERY_PATH;
    strUrl += strNumber;
    return strUrl;
}

std::size_t MaxQueryNumberLength(std::string_view strHost)
{
    const std::size_t nFixed = MakeQueryUrl(strHost, {}).size();
    return nFixed >= QUERY_URL_MAX ? 0 : QUERY_URL_MAX - nFixed;
}

std::optional<std::string> CheckQueryNumber(std::string_view strNumber, std::string_view strHost)
{
    if (strNumber.empty())
        return TEXT_NUMBER_BLANK;
    // Blanks, dashes, a plus sign and every byte of a non-ASCII character count as non-digits.
    if (!std::all_of(strNumber.begin(), strNumber.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return TEXT_NUMBER_NOT_DIGITS;
    const std::size_t nMax = MaxQueryNumberLength(strHost);
    if (strNumber.size() > nMax)
        return "Sorry, the fax number could not be longer than " + std::to_string(nMax) + " digits";
    return std::nullopt;
}
