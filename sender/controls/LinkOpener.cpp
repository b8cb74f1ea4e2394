#include "sender/controls/LinkOpener.h"

#include "platform/Message.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

namespace
{

CLinkOpener::Function& CurrentFunction()
{
    static CLinkOpener::Function s_function;
    return s_function;
}

} // namespace

int CLinkOpener::Open(const std::string& strTarget, EFallback eFallback)
{
    const auto& function = CurrentFunction();
    if (function)
        return function(strTarget, eFallback);
    return eFallback == EFallback::Browser ? platform::OpenUrl(strTarget)
                                           : platform::OpenWithDesktop(strTarget);
}

void CLinkOpener::Replace(Function function)
{
    CurrentFunction() = std::move(function);
}

std::string CLinkOpener::ErrorText(int nCode)
{
    switch (nCode)
    {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
               "processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        break;
    }
    char szText[64];
    std::snprintf(szText, sizeof(szText), "Unknown Error (%d) occurred.", nCode);
    return szText;
}

void CLinkOpener::ShowError(std::string_view strPrefix, int nCode)
{
    QApplication::beep();
    std::string strText(strPrefix);
    strText += ErrorText(nCode);
    platform::ShowMessage(ApplicationTitle(), strText, platform::EMessageIcon::Warning);
}

std::string CLinkOpener::ApplicationTitle()
{
    if (QCoreApplication::instance() == nullptr)
        return {};
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}
