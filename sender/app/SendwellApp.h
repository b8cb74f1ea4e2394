#pragma once

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

// The command-line option that opens the sent faxes window.
inline constexpr const char* SENT_FAXES_OPTION = "--sent";
// The exit code of a command line that Sendwell refuses (sender/app/CommandLine.h).
inline constexpr int BAD_COMMAND_LINE_EXIT = 2;
