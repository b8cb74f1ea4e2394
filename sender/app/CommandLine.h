#pragma once

#include <QStringList>
#include <string>

// What Sendwell's command line asks for. "Sendwell" opens the dialog with the printed pages,
// "Sendwell FILE" with the pages of a document file, "Sendwell --sent" the sent faxes window,
// "Sendwell --help" prints how it is used. "Sendwell --check-notices" looks once, without a window,
// for the gateway's status notices (sender/app/NoticeCommand.h). A file whose name begins with "-" is given
// after
// "--" or as ./-name; anything else that begins with "-" is an option Sendwell does not know.
enum class ELaunch
{
    Dialog,
    Document,
    SentFaxes,
    CheckNotices,
    Help,
    Send,    // "--send ...": a send without a window (sender/app/CommandSend.h)
    Refused, // a bad command line: nothing is opened
};

struct SLaunch
{
    ELaunch m_eLaunch = ELaunch::Dialog;
    std::string m_strFile;    // for Document
    std::string m_strMessage; // for Refused: what is wrong, printable
};

// aArgs are the arguments after the program's name, once QApplication took Qt's own out.
SLaunch ParseCommandLine(const QStringList& aArgs);

// Whether the command line asks for the poll without a window: looked at before any Qt
// application exists, since that one must be a QCoreApplication.
bool IsCheckNoticesLaunch(int argc, const char* const* argv);

// The text that --help prints.
std::string CommandLineHelp();
