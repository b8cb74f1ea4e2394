#pragma once

#include "platform/Process.h"

#include <filesystem>
#include <string>
#include <vector>

// The loopback mail server scripts/mail-drop.py (aiosmtpd run by the system Python) as a child
// process: it takes every message into a folder (message-N.eml and message-N.json, the
// envelope), answers RCPT TO of a --refuse address with 550, and ends after --messages messages.
class CMailDrop
{
public:
    // Starts it over folder with these further arguments; the port it listens on, or 0 when it
    // did not come up.
    int Start(const std::filesystem::path& folder, const std::vector<std::string>& aArgs = {});
    // Waits for it to end by itself after its --messages: true when they all came.
    [[nodiscard]] bool Finish();
    // The envelope of message n (from 1) as the server wrote it, or empty.
    std::string Envelope(int n) const;

private:
    platform::CProcess m_process;
    std::filesystem::path m_folder;
};
