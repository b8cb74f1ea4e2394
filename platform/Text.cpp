#include "platform/Text.h"

#include <cstring>

namespace platform
{

std::string_view TrimStart(std::string_view strText, std::string_view strSet)
{
    const auto nFirst = strText.find_first_not_of(strSet);
    return nFirst == std::string_view::npos ? std::string_view() : strText.substr(nFirst);
}

std::string_view TrimEnd(std::string_view strText, std::string_view strSet)
{
    const auto nLast = strText.find_last_not_of(strSet);
    return nLast == std::string_view::npos ? std::string_view() : strText.substr(0, nLast + 1);
}

std::string_view Trim(std::string_view strText, std::string_view strSet)
{
    return TrimEnd(TrimStart(strText, strSet), strSet);
}

std::string ErrnoText(std::string_view strWhat, int nError)
{
    return std::string(strWhat) + ": " + std::strerror(nError);
}

void WipeSecret(std::string& strSecret)
{
    strSecret.resize(strSecret.capacity());
    volatile char* p = strSecret.data();
    for (std::size_t i = 0; i < strSecret.size(); ++i)
        p[i] = 0;
    strSecret.clear();
}

} // namespace platform
