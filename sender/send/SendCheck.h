#pragma once

#include "sender/query/CoverageQuery.h"
#include "sender/send/SendOperation.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

// The check before a send: everything that can make the send fail, found out without sending
// anything. For each number the gateway's coverage; the SMTP server reached, secured and signed
// in to, then left with QUIT before any MAIL FROM; and the fax built as the send would build it
// and its size compared with the server's SIZE limit. The waiting page files stay as they are:
// the converter runs on a private copy of them.

// One line of the check's list: what will work, or what will not and why, in the user's words,
// printable whatever a server said.
struct SCheckLine
{
    bool m_bOk = false;
    std::string m_strText;
};

struct SCheckRecipient
{
    std::string m_strName;
    std::string m_strNumber;
};

struct SSendCheckJob
{
    // The SMTP server, security, login, password, sender, time limits and cancel, and the cover
    // page, as the send would have them; its recipient address and converter are not used.
    SSendJob m_send;
    // The recipients as typed; each is checked as the send checks it.
    std::vector<SCheckRecipient> m_aRecipients;
    // The gateway address template of the settings.
    std::string m_strGatewayAddress = DEFAULT_GATEWAY_TEMPLATE;
    // The coverage query's web server; empty: coverage is not asked.
    std::string m_strQueryHost;
    SQueryLimits m_queryLimits;
    // Asked when the web server wants a password; empty: the query goes without.
    CCoverageQuery::AskCredentials m_fnAskQueryCredentials;
    // Ends a coverage query (the SMTP dialogue ends by m_send.m_pCancel).
    std::stop_token m_stopToken;
    // Runs the converter on the page files below this root (the drive root is its "c") and waits.
    std::function<SConverterRun(const std::filesystem::path& vellumRoot)> m_fnRunConverter;
};

// How the check's sign-in went, for what becomes of the password (as after a send).
struct SCheckSignIn
{
    bool m_bSignedIn = false;
    bool m_bCredentialsRefused = false;
};

// Runs the check. Shows nothing and touches no window, so it may run on a worker thread.
std::vector<SCheckLine> CheckBeforeSend(const SSendCheckJob& job, SCheckSignIn* pSignIn = nullptr);
// Whether every line says that it will work.
bool AllPassed(const std::vector<SCheckLine>& aLines);

// The converter of this installation run on the page files below vellumRoot.
SConverterRun RunInstalledConverterIn(const std::filesystem::path& vellumRoot);
