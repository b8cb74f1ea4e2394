#include "platform/Message.h"

#include "platform/Environment.h"
#include "platform/ProgramPath.h"

#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform
{

namespace
{

constexpr const char* MESSAGE_LOG_VARIABLE = "VELLUM_MESSAGE_LOG";

std::mutex g_presenterMutex;
MessagePresenter g_fnPresenter;

bool AppendToLog(const char* pszLog, const std::string& strLine)
{
    const int fd = ::open(pszLog, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // One write() per line, so that lines of several processes never interleave.
    const std::string strRecord = strLine + "\n";
    const bool bOk =
        ::write(fd, strRecord.data(), strRecord.size()) == static_cast<ssize_t>(strRecord.size());
    ::close(fd);
    return bOk;
}

bool HasDesktopSession()
{
    return !EnvOr("DISPLAY").empty() || !EnvOr("WAYLAND_DISPLAY").empty();
}

// Loads the message box module that sits beside the program and lets it show the box.
bool ShowThroughModule(const std::string& strCaption, const std::string& strText, EMessageIcon eIcon)
{
    const auto dir = ProgramDirectory();
    if (dir.empty())
        return false;
    void* pModule = ::dlopen((dir / MESSAGE_BOX_MODULE).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (pModule == nullptr)
        return false;
    using ShowFn = int (*)(const char*, const char*, int);
    auto pShow = reinterpret_cast<ShowFn>(::dlsym(pModule, MESSAGE_BOX_SYMBOL));
    // The module stays loaded: Qt does not expect to be unloaded while the process lives.
    return pShow != nullptr && pShow(strCaption.c_str(), strText.c_str(), static_cast<int>(eIcon)) == 1;
}

} // namespace

std::string FormatMessageLogLine(std::string_view strCaption, std::string_view strText)
{
    std::string strLine(strCaption);
    strLine += '\t';
    for (char ch : strText)
    {
        if (ch == '\n')
            strLine += "\\n";
        else
            strLine += ch;
    }
    return strLine;
}

void SetMessagePresenter(MessagePresenter presenter)
{
    std::lock_guard lock(g_presenterMutex);
    g_fnPresenter = std::move(presenter);
}

bool MessagesGoToLog()
{
    return !EnvOr(MESSAGE_LOG_VARIABLE).empty();
}

void ShowMessage(std::string_view strCaption, std::string_view strText, EMessageIcon eIcon)
{
    const std::string strCaptionCopy(strCaption);
    const std::string strTextCopy(strText);

    if (const std::string strLog = EnvOr(MESSAGE_LOG_VARIABLE); !strLog.empty())
    {
        if (AppendToLog(strLog.c_str(), FormatMessageLogLine(strCaption, strText)))
            return;
    }
    else
    {
        MessagePresenter presenter;
        {
            std::lock_guard lock(g_presenterMutex);
            presenter = g_fnPresenter;
        }
        if (presenter)
        {
            presenter(strCaptionCopy, strTextCopy, eIcon);
            return;
        }
        if (HasDesktopSession() && ShowThroughModule(strCaptionCopy, strTextCopy, eIcon))
            return;
    }
    std::fprintf(stderr, "%s: %s\n", strCaptionCopy.c_str(), strTextCopy.c_str());
}

} // namespace platform
