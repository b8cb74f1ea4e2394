#pragma once

#include <chrono>
#include <string>
#include <string_view>

// What a keyring call came to.
enum class EKeyringStatus
{
    Ok,        // done; a read has the password
    NotFound,  // the keyring works and holds no password for the account
    NoKeyring, // no session bus, no keyring service, a keyring locked and not opened, or no answer in time
    Failed,    // the keyring answered with another error, or the call came from the wrong thread
};

struct SKeyringResult
{
    EKeyringStatus m_eStatus = EKeyringStatus::Failed;
    // Why, for NoKeyring and Failed: printable ASCII and bounded, so it may go into a message
    // or a log as it is. Empty for Ok and NotFound.
    std::string m_strError;
};

// The mail password in the desktop's keyring through QtKeychain (the Secret Service on Linux,
// or KWallet on KDE), never in a file of ours. Entries are stored under the service "Sendwell"
// with a key naming the account: the SMTP user name, '@', and the SMTP server as the setting
// gives it (host, host:port or [v6-address]:port) with its letters in lower case, as in
// "ada@example.org@smtp.example.org:587". The server keeps its port, so that two accounts on one
// host stay apart; a user name may hold '@' itself, and the last '@' ends it.
//
// Each call waits for the keyring in a local event loop that takes no user input, for at most the
// bound given to the constructor; a keyring that does not answer by then counts as NoKeyring (and
// its late answer is dropped). Calls must come from the thread of the QCoreApplication, the GUI
// thread; from elsewhere, or without an application, they fail at once.
class CMailPasswordKeyring
{
public:
    static constexpr const char* SERVICE_NAME = "Sendwell";
    static constexpr std::chrono::milliseconds DEFAULT_WAIT{20'000};

    explicit CMailPasswordKeyring(std::chrono::milliseconds durWait = DEFAULT_WAIT);

    // The key of the account's entry (see above).
    [[nodiscard]] static std::string AccountKey(std::string_view strServer, std::string_view strUser);

    // Ok puts the password into strPassword; whatever strPassword held before is wiped first.
    [[nodiscard]] SKeyringResult Read(std::string_view strServer, std::string_view strUser,
                                      std::string& strPassword) const;
    // Replaces the password the account had, if any. The password must be UTF-8 text.
    [[nodiscard]] SKeyringResult Write(std::string_view strServer, std::string_view strUser,
                                       std::string_view strPassword) const;
    // Ok also when the account had no password.
    [[nodiscard]] SKeyringResult Erase(std::string_view strServer, std::string_view strUser) const;

private:
    std::chrono::milliseconds m_durWait;
};
