#include "platform/Shell.h"

#include "platform/BinaryFile.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <cerrno>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform
{

namespace
{

// xdg-open's documented exit statuses.
constexpr int OPENER_SYNTAX_ERROR = 1;
constexpr int OPENER_FILE_MISSING = 2;
constexpr int OPENER_TOOL_MISSING = 3;
constexpr int OPENER_ACTION_FAILED = 4;

// mimeapps.list files and desktop entries hold a few KiB; a larger file is not one of them.
constexpr std::uint64_t MAX_KEY_FILE_BYTES = 1 << 20;
// What is trimmed around a line, a key, a value or a list entry of those files.
constexpr std::string_view KEY_FILE_BLANKS = " \t\r";

int CodeForSpawnError(int nError)
{
    switch (nError)
    {
    case ENOENT:
        return SHELL_FILE_NOT_FOUND;
    case ENOTDIR:
        return SHELL_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return SHELL_ACCESS_DENIED;
    case ENOMEM:
    case EAGAIN:
        return SHELL_OUT_OF_MEMORY;
    case ENOEXEC:
        return SHELL_BAD_FORMAT;
    default:
        return SHELL_OUT_OF_RESOURCES;
    }
}

int MapOpenerExit(int nStatus)
{
    switch (nStatus)
    {
    case OPENER_FILE_MISSING:
        return SHELL_FILE_NOT_FOUND;
    case OPENER_TOOL_MISSING:
        return SHELL_NO_ASSOCIATION;
    case OPENER_SYNTAX_ERROR:
    case OPENER_ACTION_FAILED:
    default:
        return SHELL_ASSOCIATION_INCOMPLETE;
    }
}

// A child that outlives the wait is reaped in the background so that it leaves no zombie.
void ReapLater(pid_t pid)
{
    std::thread(
        [pid]
        {
            int nStatus = 0;
            while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR)
            {
            }
        })
        .detach();
}

std::vector<std::string> SplitPathList(const std::string& strList)
{
    std::vector<std::string> parts;
    std::string::size_type nStart = 0;
    while (nStart <= strList.size())
    {
        const auto nEnd = strList.find(':', nStart);
        const std::string strPart =
            strList.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (!strPart.empty())
            parts.push_back(strPart);
        if (nEnd == std::string::npos)
            break;
        nStart = nEnd + 1;
    }
    return parts;
}

// Reads the value of `strKey` in group `strGroup` of a desktop-entry style file; false when absent.
bool ReadKeyFileValue(const std::string& strPath, const std::string& strGroup, const std::string& strKey,
                      std::string& strValue)
{
    // A FIFO or a device in the desktop's folders must not stop the opener: the reader
    // refuses anything but a regular file without waiting, and a file over the cap counts as absent.
    const auto strText = ReadWholeFile(strPath, MAX_KEY_FILE_BYTES);
    if (!strText)
        return false;
    std::istringstream in(*strText);
    std::string strLine;
    bool bInGroup = false;
    while (std::getline(in, strLine))
    {
        const std::string_view line = Trim(strLine, KEY_FILE_BLANKS);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[')
        {
            bInGroup = line == "[" + strGroup + "]";
            continue;
        }
        if (!bInGroup)
            continue;
        const auto nEquals = line.find('=');
        if (nEquals == std::string_view::npos || Trim(line.substr(0, nEquals), KEY_FILE_BLANKS) != strKey)
            continue;
        strValue = Trim(line.substr(nEquals + 1), KEY_FILE_BLANKS);
        return true;
    }
    return false;
}

std::vector<std::string> SplitIds(const std::string& strList)
{
    std::vector<std::string> ids;
    std::string::size_type nStart = 0;
    while (nStart < strList.size())
    {
        auto nEnd = strList.find(';', nStart);
        if (nEnd == std::string::npos)
            nEnd = strList.size();
        const std::string strId(
            Trim(std::string_view(strList).substr(nStart, nEnd - nStart), KEY_FILE_BLANKS));
        if (!strId.empty())
            ids.push_back(strId);
        nStart = nEnd + 1;
    }
    return ids;
}

bool IsFieldCode(char ch)
{
    // The freedesktop.org desktop entry rules, "The Exec key": the codes that stand for the files or URLs.
    return ch == 'f' || ch == 'F' || ch == 'u' || ch == 'U';
}

// Splits an Exec value into arguments (freedesktop.org desktop entry rules, "The Exec key"): blanks
// separate arguments, double quotes group them, and inside quotes a backslash escapes the next
// character. Returns false for an unbalanced quote.
bool SplitCommand(const std::string& strCommand, std::vector<std::string>& args)
{
    std::string strCurrent;
    bool bHaveArgument = false;
    bool bQuoted = false;
    for (std::string::size_type i = 0; i < strCommand.size(); ++i)
    {
        const char ch = strCommand[i];
        if (bQuoted)
        {
            if (ch == '"')
                bQuoted = false;
            else if (ch == '\\' && i + 1 < strCommand.size())
                strCurrent += strCommand[++i];
            else
                strCurrent += ch;
        }
        else if (ch == '"')
        {
            bQuoted = true;
            bHaveArgument = true;
        }
        else if (ch == ' ' || ch == '\t')
        {
            if (bHaveArgument)
                args.push_back(strCurrent);
            strCurrent.clear();
            bHaveArgument = false;
        }
        else
        {
            strCurrent += ch;
            bHaveArgument = true;
        }
    }
    if (bQuoted)
        return false;
    if (bHaveArgument)
        args.push_back(strCurrent);
    return true;
}

// The remaining field codes (%i, %c, %k and the deprecated ones) are dropped, "%%" is a percent sign.
std::string ExpandRemainingCodes(const std::string& strArgument)
{
    std::string strOut;
    for (std::string::size_type i = 0; i < strArgument.size(); ++i)
    {
        if (strArgument[i] != '%')
        {
            strOut += strArgument[i];
            continue;
        }
        if (i + 1 < strArgument.size())
        {
            ++i;
            if (strArgument[i] == '%')
                strOut += '%';
        }
    }
    return strOut;
}

} // namespace

int StartProgram(const std::vector<std::string>& args, std::chrono::milliseconds wait, ExitMapper mapExit)
{
    if (args.empty() || args.front().empty())
        return SHELL_FILE_NOT_FOUND;
    CProcess process;
    if (!process.Start(args))
        return CodeForSpawnError(process.StartErrno());
    if (process.Wait(wait) == EWaitResult::TimedOut)
    {
        // Still running: it did start. It is reaped in the background when it ends.
        const pid_t pid = process.Pid();
        process.Detach();
        ReapLater(pid);
        return SHELL_SUCCESS;
    }
    if (process.TermSignal() != 0)
        return mapExit == nullptr ? SHELL_SUCCESS : SHELL_OUT_OF_RESOURCES;
    if (process.ExitCode() == 0 || mapExit == nullptr)
        return SHELL_SUCCESS;
    return mapExit(process.ExitCode());
}

int OpenWithDesktop(const std::string& strTarget, const std::string& strOpener,
                    std::chrono::milliseconds wait)
{
    // A target that looks like an option would be read as one by the opener.
    if (strTarget.empty() || strTarget.front() == '-')
        return SHELL_FILE_NOT_FOUND;
    return StartProgram({strOpener, strTarget}, wait, &MapOpenerExit);
}

SDesktopDirs SDesktopDirs::FromEnvironment()
{
    const std::string strHome = EnvOr("HOME", "/");
    const std::string strConfigHome = EnvOr("XDG_CONFIG_HOME", strHome + "/.config");
    const std::string strDataHome = EnvOr("XDG_DATA_HOME", strHome + "/.local/share");
    const auto configDirs = SplitPathList(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"));
    const auto dataDirs = SplitPathList(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"));

    SDesktopDirs dirs;
    dirs.m_aConfigDirs.push_back(strConfigHome);
    dirs.m_aConfigDirs.insert(dirs.m_aConfigDirs.end(), configDirs.begin(), configDirs.end());
    dirs.m_aDataDirs.push_back(strDataHome);
    dirs.m_aDataDirs.insert(dirs.m_aDataDirs.end(), dataDirs.begin(), dataDirs.end());
    return dirs;
}

int ReadDefaultCommand(const std::string& strMimeType, const SDesktopDirs& dirs, std::string& strCommand)
{
    // XDG "Association between MIME types and applications": mimeapps.list in the config
    // folders, then in the applications folders of the data folders (with the older defaults.list).
    std::vector<std::string> lists;
    for (const auto& strDir : dirs.m_aConfigDirs)
        lists.push_back(strDir + "/mimeapps.list");
    for (const auto& strDir : dirs.m_aDataDirs)
    {
        lists.push_back(strDir + "/applications/mimeapps.list");
        lists.push_back(strDir + "/applications/defaults.list");
    }

    bool bFoundEntry = false;
    for (const auto& strList : lists)
    {
        std::string strIds;
        if (!ReadKeyFileValue(strList, "Default Applications", strMimeType, strIds))
            continue;
        for (const auto& strId : SplitIds(strIds))
        {
            for (const auto& strDir : dirs.m_aDataDirs)
            {
                const std::string strEntry = strDir + "/applications/" + strId;
                if (::access(strEntry.c_str(), R_OK) != 0)
                    continue;
                bFoundEntry = true;
                std::string strExec;
                if (ReadKeyFileValue(strEntry, "Desktop Entry", "Exec", strExec) && !strExec.empty())
                {
                    strCommand = strExec;
                    return 0;
                }
            }
        }
    }
    return bFoundEntry ? SHELL_ASSOCIATION_INCOMPLETE : SHELL_NO_ASSOCIATION;
}

std::vector<std::string> BuildOpenArguments(const std::string& strCommand, const std::string& strTarget)
{
    std::string::size_type nCut = std::string::npos;
    for (std::string::size_type i = 0; i + 1 < strCommand.size(); ++i)
    {
        if (strCommand[i] != '%')
            continue;
        if (strCommand[i + 1] == '%')
        {
            ++i;
            continue;
        }
        if (!IsFieldCode(strCommand[i + 1]))
            continue;
        const bool bQuoted =
            i > 0 && strCommand[i - 1] == '"' && i + 2 < strCommand.size() && strCommand[i + 2] == '"';
        nCut = bQuoted ? i - 1 : i;
        break;
    }

    std::vector<std::string> raw;
    if (!SplitCommand(strCommand.substr(0, nCut), raw))
        return {};
    std::vector<std::string> args;
    for (const auto& strArg : raw)
    {
        std::string strExpanded = ExpandRemainingCodes(strArg);
        if (!strExpanded.empty() || strArg.empty())
            args.push_back(std::move(strExpanded));
    }
    if (args.empty() || args.front().empty())
        return {};
    args.push_back(strTarget);
    return args;
}

int OpenUrl(const std::string& strTarget)
{
    const int nDesktop = OpenWithDesktop(strTarget);
    if (ShellSucceeded(nDesktop) || strTarget.empty() || strTarget.front() == '-')
        return nDesktop;

    // The fallback starts the registered web browser directly, as the class of web pages names it.
    std::string strCommand;
    if (ReadDefaultCommand("text/html", SDesktopDirs::FromEnvironment(), strCommand) != 0)
        return nDesktop;
    const auto args = BuildOpenArguments(strCommand, strTarget);
    if (args.empty())
        return nDesktop;
    return StartProgram(args, std::chrono::milliseconds::zero());
}

} // namespace platform
