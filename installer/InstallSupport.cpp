#include "installer/InstallSupport.h"

namespace installer
{

std::string FirstLine(const std::string& strText)
{
    // lpadmin warns about deprecated drivers on every call; the reason for a failure is elsewhere.
    std::string strChosen;
    std::size_t nStart = 0;
    while (nStart < strText.size())
    {
        std::size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == ' '))
            strLine.pop_back();
        if (!strLine.empty() && strLine.find("deprecated") == std::string::npos)
            return strLine;
        if (strChosen.empty())
            strChosen = strLine;
        nStart = nEnd + 1;
    }
    return strChosen;
}

std::string ToolFailure(const std::string& strProgram, const platform::SRunResult& result)
{
    const std::string strSaid = FirstLine(result.m_strOutput);
    const std::string strHow = strProgram + ": " + result.Describe();
    return strSaid.empty() ? strHow : strSaid + " (" + strHow + ")";
}

void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& stop)
{
    std::error_code error;
    auto isInside = [&](const std::filesystem::path& path)
    {
        const auto relative = path.lexically_relative(stop);
        return !stop.empty() && !relative.empty() && *relative.begin() != "..";
    };
    while (isInside(folder) && !std::filesystem::exists(std::filesystem::symlink_status(folder, error)))
        folder = folder.parent_path();
    while (isInside(folder) && folder != stop &&
           std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)) &&
           std::filesystem::is_empty(folder, error) && !error)
    {
        if (!std::filesystem::remove(folder, error))
            break;
        folder = folder.parent_path();
    }
}

} // namespace installer
