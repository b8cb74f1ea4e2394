#pragma once

#include "pages/UserRoot.h"

#include <functional>
#include <string>

// The application: shows the main dialog modally; the program ends when it closes.
// "Sendwell FILE" makes a document file (PDF, PostScript, a PNG, JPEG or TIFF image, plain text)
// the pages, as printing it would. A bad command line is told on standard error and opens
// nothing; "--help" tells how Sendwell is used.
// "Sendwell --sent" (the desktop entry's action "Sent faxes") shows the sent faxes window
// instead, and the main dialog only after its Send again.
class CSendwellApp
{
public:
    // Needs the QApplication of main(). Returns the program's exit code.
    int InitInstance();
};

// Runs the first start's set-up (fnSetUp: driver::SetUpOnFirstStart, which sets up a user of the
// packaged Sendwell for the fax printer); when it fails, says why in a message box before any
// window opens, and Sendwell opens all the same.
void RunFirstStart(const std::function<driver::ESetUp(std::string&)>& fnSetUp);
// What that message box says before the reason.
inline constexpr const char* SET_UP_FAILED_TEXT = "Sendwell could not set up the fax printer for you: ";

// The command-line option that opens the sent faxes window.
inline constexpr const char* SENT_FAXES_OPTION = "--sent";
// The exit code of a command line that Sendwell refuses (sender/app/CommandLine.h).
inline constexpr int BAD_COMMAND_LINE_EXIT = 2;
