#pragma once

#include "platform/Process.h"

#include <string>
#include <vector>

// The SMTP peer of the delivery tests (tests/mail/smtp_peer.py, aiosmtpd run by the system
// Python) as a child process. It says "PORT n" once it listens, takes one message, checks it
// and ends with a report whose last line is "DONE ok" when all was well.
class CSmtpPeer
{
public:
    // Starts the peer with these arguments of the script (--from, --to, attachments ...); the
    // port it listens on, or 0 when it did not come up. aEnvironment adds or replaces
    // variables ("NAME=value") of this process's environment for the peer (a password goes
    // there, never on its command line).
    int Start(const std::vector<std::string>& aArgs, const std::vector<std::string>& aEnvironment = {});
    // Waits for the peer's report and its end: true when it ended well and said "DONE ok".
    // strReport is what it said, for the failure message.
    [[nodiscard]] bool Finish(std::string& strReport);

private:
    platform::CProcess m_process;
};
