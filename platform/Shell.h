#pragma once

#include <chrono>
#include <string>
#include <vector>

// Opening documents and links through the desktop, and starting programs, always with an
// argument vector (never through a shell, so no text is ever interpreted as a command).
//
// The results follow the convention the link controls report with: a value above 32 means
// success; anything else is one of the error codes below, each of which has a text of its own.
namespace platform
{

inline constexpr int SHELL_SUCCESS = 33;
inline constexpr int SHELL_OUT_OF_RESOURCES = 0;
inline constexpr int SHELL_FILE_NOT_FOUND = 2;
inline constexpr int SHELL_PATH_NOT_FOUND = 3;
inline constexpr int SHELL_ACCESS_DENIED = 5;
inline constexpr int SHELL_OUT_OF_MEMORY = 8;
inline constexpr int SHELL_BAD_FORMAT = 11;
inline constexpr int SHELL_ASSOCIATION_INCOMPLETE = 27;
inline constexpr int SHELL_NO_ASSOCIATION = 31;

[[nodiscard]] constexpr bool ShellSucceeded(int nResult)
{
    return nResult > 32;
}

// How long an opener may take to report its outcome. An opener that is still running after it
// has most likely started the application itself; it counts as success and is reaped later.
inline constexpr std::chrono::milliseconds OPENER_WAIT{3000};

// Starts a program (looked up in PATH when the first argument has no slash) and waits up to
// `wait` for it to end. Ended with status 0, or still running: SHELL_SUCCESS. Could not be
// started: the code for the reason (SHELL_FILE_NOT_FOUND, SHELL_ACCESS_DENIED, ...). Ended with
// another status: the code `mapExit` gives for it (SHELL_SUCCESS when mapExit is null).
using ExitMapper = int (*)(int nExitStatus);
[[nodiscard]] int StartProgram(const std::vector<std::string>& args, std::chrono::milliseconds wait,
                               ExitMapper mapExit = nullptr);

// Hands a target (URL, "mailto:" address or file) to the desktop's opener (xdg-open).
[[nodiscard]] int OpenWithDesktop(const std::string& strTarget, const std::string& strOpener = "xdg-open",
                                  std::chrono::milliseconds wait = OPENER_WAIT);

// Where the registered applications are looked up (the XDG base directories).
struct SDesktopDirs
{
    std::vector<std::string> m_aConfigDirs; // searched for mimeapps.list, most important first
    std::vector<std::string> m_aDataDirs;   // their applications/ folders hold the desktop entries

    // From XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME and XDG_DATA_DIRS and their defaults.
    [[nodiscard]] static SDesktopDirs FromEnvironment();
};

// Reads the command line (the desktop entry's Exec value) of the application registered as
// the default for a MIME type. Returns 0 and sets strCommand, or SHELL_NO_ASSOCIATION when no
// application is registered, or SHELL_ASSOCIATION_INCOMPLETE when its entry lacks a command.
[[nodiscard]] int ReadDefaultCommand(const std::string& strMimeType, const SDesktopDirs& dirs,
                                     std::string& strCommand);

// Builds the argument vector that opens a target with a registered command: the command is cut
// at its placeholder for the file or URL (a quoted "%u" is cut before the opening quote; without
// a placeholder the whole command is kept), then the target is added as one argument of its own.
// Empty when the command cannot be parsed (an unbalanced quote, nothing left to start).
[[nodiscard]] std::vector<std::string> BuildOpenArguments(const std::string& strCommand,
                                                          const std::string& strTarget);

// Opens a target: first through the desktop's opener; if that fails, the registered web browser
// is started with the target. Returns the opener's result when the fallback is not available.
[[nodiscard]] int OpenUrl(const std::string& strTarget);

} // namespace platform
