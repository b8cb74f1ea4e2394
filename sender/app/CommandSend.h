#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <vector>

// "Sendwell --send": a fax sent without a window, for scripts. The files given (or the pages last
// printed to the fax printer) become the pages as in the dialog, with the dialog's checks and
// messages (on standard error, one line each), address book and sent-fax record; each recipient
// gets its own mail, and the Message-ID of each mail sent is printed on standard output.

// The exit status of a send from the command line.
inline constexpr int SEND_EXIT_SENT = 0;  // sent to every recipient (--dry-run: all would go)
inline constexpr int SEND_EXIT_USAGE = 2; // the command line is wrong: nothing done
inline constexpr int SEND_EXIT_REFUSED =
    3; // a recipient, a likely misdial, the settings, a file, the pages, the password
inline constexpr int SEND_EXIT_CONVERSION = 4;   // the pages could not be made
inline constexpr int SEND_EXIT_SERVER = 5;       // the mail server refused the mail or the sign-in
inline constexpr int SEND_EXIT_CONNECTION = 6;   // the mail server could not be reached or secured
inline constexpr int SEND_EXIT_PARTLY = 7;       // sent to some recipients, not to all
inline constexpr int SEND_EXIT_CANCELLED = 8;    // stopped by SIGINT or SIGTERM before any was sent
inline constexpr int SEND_EXIT_CHECK_FAILED = 9; // --check: something will not work

inline constexpr const char* SEND_OPTION = "--send";

struct SSendRecipientArg
{
    std::string m_strName;
    std::string m_strNumber;
};

// What "Sendwell --send ..." asks for.
struct SSendOptions
{
    std::vector<SSendRecipientArg> m_aRecipients;
    bool m_bCover = false;
    std::string m_strSubject; // the cover page's subject
    std::string m_strNote;    // the cover page's note
    std::optional<int> m_nPasswordFd;
    bool m_bDryRun = false;
    // Go on despite a likely misdial (sender/send/MisdialGuard.h).
    bool m_bYes = false;
    // The check before a send instead of the send (sender/send/SendCheck.h).
    bool m_bCheck = false;
    std::vector<std::string> m_aFiles;
};

// Whether the command line asks for a send without a window: "--send" before any "--". Looked
// at before any application object exists, so that no display is needed for it.
bool IsCommandLineSend(int argc, char** argv);

// Reads the arguments after the program's name; nullopt with strError (printable) when they
// are wrong.
std::optional<SSendOptions> ParseSendOptions(const QStringList& aArgs, std::string& strError);

// Runs the send; the exit status above. Needs a QCoreApplication, and a QGuiApplication for
// --cover, whose text is drawn with Qt's fonts.
int RunCommandLineSend(const QStringList& aArgs);
// Makes the application object the send needs, without a display, and runs the send.
int RunCommandLineSendApp(int argc, char** argv);

// The lines of --help about --send.
std::string CommandSendHelp();
