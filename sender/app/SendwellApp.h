#pragma once

// The application: shows the main dialog modally; the program ends when it closes.
class CSendwellApp
{
public:
    // Needs the QApplication of main(). Returns the program's exit code.
    int InitInstance();
};
