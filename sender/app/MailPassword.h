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

// Where the password for one Send came from, which decides what becomes of it once the server
// has answered the sign-in (SettleMailPassword).
enum class EPasswordOrigin
{
    Keyring,        // the keyring held it
    AskedToKeep,    // the user gave it, and the keyring works and merely had no entry
    AskedNotToKeep, // the user gave it; the keyring is missing, locked or failing
};

// How the server answered a sign-in with the password.
enum class ESignInAnswer
{
    None, // it was never asked, or the connection failed for another reason
    Accepted,
    Refused, // 535: the user name or password is wrong
};

// The password for strUser at strServer, for one Send. From the keyring when it holds one;
// otherwise the user is asked in a modal dialog over pParent. Nullopt when the user cancels: the
// caller then sends nothing. peOrigin, when given, learns where the password came from. The
// caller wipes the password when it is done with it (platform::WipeSecret).
[[nodiscard]] std::optional<std::string> ObtainMailPassword(QWidget* pParent, const std::string& strServer,
                                                            const std::string& strUser,
                                                            EPasswordOrigin* peOrigin = nullptr);

// What becomes of a password once the server has answered: an answer the user gave is kept in the
// keyring only once the server has accepted it (and only when the keyring merely had no entry),
// and a kept one that the server refused is forgotten, so that the next Send asks again instead
// of failing the same way. A keyring that cannot do it is noted in the log; the user is not asked.
void SettleMailPassword(const std::string& strServer, const std::string& strUser,
                        const std::string& strPassword, EPasswordOrigin eOrigin, ESignInAnswer eAnswer);

// For the settings dialog. Keeps strPassword (wiped afterwards) as the password for strUser at
// strServer; an empty password leaves the stored one alone. False, with the text to show the user
// in strMessage, when the keyring could not keep it.
[[nodiscard]] bool StoreMailPassword(const std::string& strServer, const std::string& strUser,
                                     std::string strPassword, std::string& strMessage);

// Removes the stored password for strUser at strServer, if any. False, with the text to show the
// user in strMessage, when the keyring could not be asked.
[[nodiscard]] bool ForgetMailPassword(const std::string& strServer, const std::string& strUser,
                                      std::string& strMessage);
