// Sendwell --check-notices on the whole road, run in this process: the password from a private
// keyring (run under tests/support/private-keyring.sh), the real notice poll against a private
// Dovecot with a certificate of the test CA, and the word in a real record. Skips, saying why,
// when Dovecot is not installed.
#include "sender/app/NoticeCommand.h"

#include "platform/BinaryFile.h"
#include "sender/keyring/MailPasswordKeyring.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/PrivateDovecot.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TrustedTestCa.h"

#include <QCoreApplication>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace
{

const char* const USER = "ann@example.org";
const char* const PASSWORD = "imap pa55";

using NoticeCommand = CTempFolderTest;

TEST_F(NoticeCommand, WordFromTheMailboxReachesTheRecordAndNoFlagChanges)
{
    if (const std::string strMissing = CPrivateDovecot::Missing(); !strMissing.empty())
        GTEST_SKIP() << strMissing;
    const CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "notice-command-ca");
    ASSERT_EQ(ca.Failure(), "");
    CPrivateDovecot server(ca.Certificate("good"), ca.Key("good"), USER, PASSWORD);
    ASSERT_EQ(server.Failure(), "");

    ASSERT_EQ(::setenv("VELLUM_ROOT", m_dir.c_str(), 1), 0);
    std::string strError;
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "quill1.tif", "II*"));
    const std::int64_t nNow = static_cast<std::int64_t>(std::time(nullptr));
    CSentFaxStore store;
    std::vector<std::int64_t> aIds;
    for (const char* pszNumber : {"4930111111", "4930222222", "4930333333"})
    {
        SSentFax fax;
        fax.m_nSentAt = nNow - 3600;
        fax.m_strRecipient = "Acme";
        fax.m_strFaxNumber = pszNumber;
        fax.m_strGatewayAddress = std::string("remote-printer.Acme@") + pszNumber + ".fax.example";
        fax.m_strMessageId = std::string("<") + pszNumber + ".1@ann.example.org>";
        ASSERT_TRUE(store.Add(fax, {m_dir / "quill1.tif"}, {}, strError)) << strError;
        aIds.push_back(fax.m_nId);
    }
    SProviderSettings settings;
    settings.m_strLogin = USER;
    settings.m_incoming = {"127.0.0.1:" + std::to_string(server.TlsPort()), EIncomingSecurity::Tls, "",
                           "INBOX", true};
    ASSERT_TRUE(WriteSettings("smtp.example.org:587", USER, "Ann", strError)) << strError;
    ASSERT_TRUE(WriteProviderSettings(settings, strError)) << strError;
    const SMailboxAccount account = MailboxPasswordAccount(settings, "smtp.example.org:587");
    ASSERT_EQ(CMailPasswordKeyring().Write(account.m_strServer, account.m_strLogin, PASSWORD).m_eStatus,
              EKeyringStatus::Ok);

    const auto deliver =
        [&](const std::string& strHeader, const std::string& strSubject, const std::string& strText)
    {
        server.Deliver("INBOX", "From: Fax Gateway <status@fax.example>\nTo: ann@example.org\n" + strHeader +
                                    "Subject: " + strSubject + "\n\n" + strText + "\n");
    };
    deliver("In-Reply-To: <4930111111.1@ann.example.org>\n", "Re: your fax", "Your fax was delivered.");
    deliver("References: <4930222222.1@ann.example.org>\n", "Fax status", "Transmission result: line busy.");
    deliver("", "Your order was delivered", "Tracking 12345.");
    const std::string strFlags = server.Flags("INBOX");
    ASSERT_NE(strFlags, "");

    ASSERT_EQ(CheckNoticesCommand({}, nNow), 0);
    ASSERT_TRUE(store.Open(strError)) << strError;
    EXPECT_EQ(store.Find(aIds[0])->m_eStatus, ESentStatus::Delivered);
    const auto failed = store.Find(aIds[1]);
    EXPECT_EQ(failed->m_eStatus, ESentStatus::Failed);
    EXPECT_EQ(failed->m_strStatusReason, "busy");
    EXPECT_EQ(failed->m_strNoticeSubject, "Fax status");
    EXPECT_GT(failed->m_nNoticeAt, 0);
    EXPECT_EQ(store.Find(aIds[2])->m_eStatus, ESentStatus::Sent);
    EXPECT_EQ(store.PollState(NoticePollAccount(settings)).m_nLastUid, 3u);
    EXPECT_EQ(server.Flags("INBOX"), strFlags) << "the poll changed no flag";
}

} // namespace

int main(int argc, char** argv)
{
    // The keyring's calls and Qt's SQLite driver need an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
