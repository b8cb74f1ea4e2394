// The IMAP dialogue against the scripted server (TLS with the test CA at a "T:" step): faults
// that a real server does not make end the poll with their status and nothing more sent.
#include "platform/CancelSignal.h"
#include "sender/notice/NoticePoll.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/TrustedTestCa.h"

#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;
using Script = std::vector<std::string>;

const Script SIGNED_IN = {
    "T:",
    "S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready",
    "C: v1 LOGIN \"ann\" \"pw\"",
    "S: v1 OK signed in",
    "C: v2 EXAMINE \"INBOX\"",
    "S: * OK [UIDVALIDITY 7] ok\r\n* OK [UIDNEXT 9] ok\r\nv2 OK [READ-ONLY] done",
    "C: v3 UID SEARCH SINCE *",
    "S: * SEARCH 8\r\nv3 OK done",
    "C: v4 UID FETCH 8 (UID INTERNALDATE BODY.PEEK[HEADER]<0.16384> BODY.PEEK[TEXT]<0.16384>)"};

Script With(Script script, std::initializer_list<std::string> more)
{
    script.insert(script.end(), more);
    return script;
}

struct SFaultCase
{
    const char* m_pszName;
    Script m_script;
    const char* m_pszLeaf;
    EImapSecurity m_eSecurity;
    std::string m_strPassword;
    EPollStatus m_eStatus;
    bool m_bScriptFollowed; // false where the handshake itself fails
    std::chrono::milliseconds m_durLimit = 20s;
    bool m_bCancelled = false;
};

TEST(ImapLinkTest, FaultsEndThePollWithTheirStatus)
{
    CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "imap-link-ca");
    ASSERT_EQ(ca.Failure(), "");
    const SFaultCase CASES[] = {
        {"expired certificate", {"T:"}, "expired", EImapSecurity::Tls, "pw", EPollStatus::NotSecure, false},
        {"no STARTTLS offered",
         {"S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready"},
         "good",
         EImapSecurity::StartTls,
         "pw",
         EPollStatus::NotSecure,
         true},
        {"password sent as a literal",
         {"T:", "S: * OK [CAPABILITY IMAP4rev1] ready", "C: v1 LOGIN \"ann\" {7}", "S: + go on",
          "C: p\xc3\xa4sswd", "S: v1 NO [AUTHENTICATIONFAILED] no"},
         "good",
         EImapSecurity::Tls,
         "p\xc3\xa4sswd",
         EPollStatus::LoginRefused,
         true},
        {"literal of 2^31 announced",
         With(SIGNED_IN, {"S: * 1 FETCH (UID 8 BODY[HEADER]<0> {2147483648}", "H:"}), "good",
         EImapSecurity::Tls, "pw", EPollStatus::ServerError, true},
        {"server gone mid-fetch",
         With(SIGNED_IN, {"S: * 1 FETCH (UID 8 BODY[HEADER]<0> {100}\r\nFrom: a@b", "X:"}), "good",
         EImapSecurity::Tls, "pw", EPollStatus::ServerError, true},
        {"odd untagged text during the fetch",
         With(SIGNED_IN,
              {"S: * OK [ALERT] \"odd {x\r\n* 1 FETCH (UID 8 BODY[HEADER]<0> {11}\r\nSubject: \r\n "
               "BODY[TEXT]<0> NIL)\r\nv4 OK done",
               "C: v5 LOGOUT", "S: * BYE bye\r\nv5 OK done"}),
         "good", EImapSecurity::Tls, "pw", EPollStatus::Ok, true},
        {"plain text after STARTTLS",
         {"S: * OK [CAPABILITY IMAP4rev1 STARTTLS] ready", "C: v1 STARTTLS",
          "S: v1 OK begin\r\n* OK [CAPABILITY X]", "T:"},
         "good",
         EImapSecurity::StartTls,
         "pw",
         EPollStatus::ServerError,
         true},
        {"server silent", {"T:", "H:"}, "good", EImapSecurity::Tls, "pw", EPollStatus::TimedOut, true, 500ms},
        {"cancelled",
         {"T:", "H:"},
         "good",
         EImapSecurity::Tls,
         "pw",
         EPollStatus::Cancelled,
         false,
         20s,
         true},
    };
    for (const SFaultCase& test : CASES)
    {
        CScriptedSmtpServer::SOptions options;
        options.m_strCertificate = ca.Certificate(test.m_pszLeaf);
        options.m_strKey = ca.Key(test.m_pszLeaf);
        CScriptedSmtpServer server(test.m_script, options);
        SImapAccount account;
        account.m_strServer = "127.0.0.1:" + std::to_string(server.Port());
        account.m_eSecurity = test.m_eSecurity;
        account.m_strLogin = "ann";
        account.m_strPassword = test.m_strPassword;
        SAwaitingFax fax;
        fax.m_nId = 1;
        fax.m_strMessageId = "<1@example.org>";

        platform::CCancelSignal cancel;
        if (test.m_bCancelled)
            cancel.Raise();

        const SPollResult result = PollNotices(account, {fax}, {}, test.m_durLimit, &cancel);

        EXPECT_EQ(result.m_eStatus, test.m_eStatus) << test.m_pszName << ": " << result.m_strDetail;
        EXPECT_TRUE(result.m_aOutcomes.empty()) << test.m_pszName;
        const std::string strFaults = server.Finish();
        if (test.m_bScriptFollowed)
        {
            EXPECT_EQ(strFaults, "") << test.m_pszName;
        }
    }
}

} // namespace
