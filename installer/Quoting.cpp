#include "installer/Quoting.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace installer
{

std::string ShellQuote(const std::string& strWord)
{
    const bool bPlain = !strWord.empty() &&
                        std::all_of(strWord.begin(), strWord.end(),
                                    [](unsigned char ch)
                                    { return std::isalnum(ch) || std::strchr("_./:=@%+-,", ch) != nullptr; });
    if (bPlain)
        return strWord;
    std::string strQuoted = "'";
    for (char ch : strWord)
    {
        if (ch == '\'')
            strQuoted += "'\\''";
        else
            strQuoted += ch;
    }
    return strQuoted + "'";
}

std::string DesktopExecArgument(const std::string& strArg)
{
    std::string strQuoted = "\"";
    for (char ch : strArg)
    {
        if (ch == '"' || ch == '`' || ch == '$' || ch == '\\')
            strQuoted += '\\';
        if (ch == '%')
            strQuoted += '%'; // a literal percent sign is doubled: %x are field codes
        strQuoted += ch;
    }
    strQuoted += '"';
    std::string strValue;
    for (char ch : strQuoted)
    {
        if (ch == '\\')
            strValue += "\\\\";
        else if (ch == '\n')
            strValue += "\\n";
        else
            strValue += ch;
    }
    return strValue;
}

} // namespace installer
