#pragma once

#include <functional>
#include <string>
#include <string_view>

// The one way a program tells the user something: a modal message box with an
// OK button. Where it goes depends on who is there to read it:
//   - VELLUM_MESSAGE_LOG set: one line is appended to that file
//     (caption, a tab, the text with each newline written as \n) and nothing is shown;
//   - a presenter installed by the program (Sendwell shows a QMessageBox);
//   - a desktop session (DISPLAY or WAYLAND_DISPLAY): the message box module is loaded
//     on demand, so that programs without windows start without any GUI library;
//   - otherwise: a line "caption: text" on standard error.
namespace platform
{

enum class EMessageIcon
{
    None,
    Warning,
    Information,
    Critical,
};

void ShowMessage(std::string_view strCaption, std::string_view strText,
                 EMessageIcon eIcon = EMessageIcon::None);

// True when VELLUM_MESSAGE_LOG names a log: ShowMessage then only appends to it, at once and
// from any thread, so a program that shows boxes of its own leaves them to ShowMessage.
bool MessagesGoToLog();

// Installed by a program that already runs a GUI; called on the thread that calls ShowMessage.
using MessagePresenter =
    std::function<void(const std::string& strCaption, const std::string& strText, EMessageIcon eIcon)>;
void SetMessagePresenter(MessagePresenter presenter);

// The log line for a message, as written to VELLUM_MESSAGE_LOG (without the final newline).
std::string FormatMessageLogLine(std::string_view strCaption, std::string_view strText);

// File name of the module that shows a message box for programs that link no GUI library.
inline constexpr const char* MESSAGE_BOX_MODULE = "libvellum_msgbox.so";
// The C entry point that module exports: returns 1 when the box was shown.
inline constexpr const char* MESSAGE_BOX_SYMBOL = "VellumShowMessageBox";

} // namespace platform
