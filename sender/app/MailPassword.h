#pragma once

#include <optional>
#include <string>

class QWidget;

// Where the SMTP password comes from: the desktop's keyring (CMailPasswordKeyring), else the
// user, asked at Send. Nothing here writes the password to a file, a log or a command line.
// Call these on the GUI thread; each keyring call waits at most CMailPasswordKeyring::DEFAULT_WAIT.

// What the user is told when no keyring can keep the password.
inline constexpr const char* NO_KEYRING_TEXT =
    "No keyring is available; the password will be asked at each Send";

// The password for strUser at strServer, for one Send. From the keyring when it holds one;
// otherwise the user is asked in a modal dialog over pParent, and what the user gives is kept in
// the keyring when the keyring works and merely has no entry (never when it is missing, locked or
// failing). Nullopt when the user cancels: the caller then sends nothing. The caller wipes the
// password when it is done with it (platform::WipeSecret).
[[nodiscard]] std::optional<std::string> ObtainMailPassword(QWidget* pParent, const std::string& strServer,
                                                            const std::string& strUser);

// For the settings dialog. Keeps strPassword (wiped afterwards) as the password for strUser at
// strServer; an empty password leaves the stored one alone. False, with the text to show the user
// in strMessage, when the keyring could not keep it.
[[nodiscard]] bool StoreMailPassword(const std::string& strServer, const std::string& strUser,
                                     std::string strPassword, std::string& strMessage);

// Removes the stored password for strUser at strServer, if any. False, with the text to show the
// user in strMessage, when the keyring could not be asked.
[[nodiscard]] bool ForgetMailPassword(const std::string& strServer, const std::string& strUser,
                                      std::string& strMessage);
