#include "sender/mail/MailSyntax.h"

#include "platform/Text.h"

#include <algorithm>

using platform::HoldsControlCharacter;

bool HoldsLineBreakOrNul(std::string_view strText)
{
    return strText.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsUnsafeAddress(std::string_view strAddress)
{
    return HoldsControlCharacter(strAddress) || strAddress.find_first_of(" <>") != std::string_view::npos;
}

bool IsPlainAddress(std::string_view strAddress)
{
    const auto nAt = strAddress.find('@');
    return nAt != std::string_view::npos && nAt != 0 && nAt + 1 != strAddress.size() &&
           strAddress.find('@', nAt + 1) == std::string_view::npos && !IsUnsafeAddress(strAddress);
}

bool IsPlainDomain(std::string_view strName)
{
    return !strName.empty() && strName.front() != '.' && strName.back() != '.' &&
           strName.find("..") == std::string_view::npos &&
           std::all_of(strName.begin(), strName.end(),
                       [](char ch)
                       {
                           return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                                  (ch >= '0' && ch <= '9') || ch == '-' || ch == '.';
                       });
}

bool IsAtomCharacter(unsigned char ch)
{
    if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'))
        return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(ch)) != std::string_view::npos;
}

bool IsDotAtom(std::string_view strText)
{
    return !strText.empty() && strText.front() != '.' && strText.back() != '.' &&
           strText.find("..") == std::string_view::npos &&
           std::all_of(strText.begin(), strText.end(),
                       [](char ch) { return ch == '.' || IsAtomCharacter(static_cast<unsigned char>(ch)); });
}
