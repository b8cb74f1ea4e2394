#pragma once

#include <functional>
#include <string>
#include <string_view>

// How the link controls open their targets, and how they report a failure.
//
// Every control opens through one process-wide function, so that a program (or a test) can
// replace it; by default it is platform::OpenUrl (with the browser fallback) or
// platform::OpenWithDesktop (without it). Results follow platform/Shell.h: above 32 is success.
class CLinkOpener
{
public:
    enum class EFallback
    {
        None,    // only the desktop's opener (a tinted label's click)
        Browser, // the desktop's opener, then the registered web browser (the links)
    };

    using Function = std::function<int(const std::string& strTarget, EFallback eFallback)>;

    [[nodiscard]] static int Open(const std::string& strTarget, EFallback eFallback);

    // Replaces the opener; an empty function restores the desktop's.
    static void Replace(Function function);

    // The text for a result code of a failed opening ("Unknown Error (1) occurred." for a code
    // without a text of its own).
    [[nodiscard]] static std::string ErrorText(int nCode);

    // Sounds the warning beep and shows strPrefix + ErrorText(nCode) in a warning box captioned
    // with the program's title.
    static void ShowError(std::string_view strPrefix, int nCode);

    // The program's title: the executable's name without extension.
    [[nodiscard]] static std::string ApplicationTitle();
};
