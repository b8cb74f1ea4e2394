#include "sender/store/SettingsFile.h"

#include "platform/BinaryFile.h"
#include "sender/store/ProviderSettings.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <tuple>

namespace fs = std::filesystem;

namespace
{

class SettingsFile : public CTempFolderTest
{
protected:
    fs::path File() const { return m_dir / "quill.cfg"; }
    std::string Bytes() const { return platform::ReadWholeFile(File(), 1 << 20).value_or("<none>"); }
};

} // namespace

TEST_F(SettingsFile, WritesTheThreeStringsInFileOrder)
{
    std::string strError;
    ASSERT_TRUE(WriteSettings("mail.example.net", "ann@example.net", "Ann Lee", strError, File()))
        << strError;
    EXPECT_EQ(Bytes(), "\x10mail.example.net\x0F"
                       "ann@example.net\x07"
                       "Ann Lee");

    std::string strServer = "x", strEmail = "y", strName = "z";
    ASSERT_TRUE(ReadSettings(strServer, strEmail, strName, File()));
    EXPECT_EQ(strServer, "mail.example.net");
    EXPECT_EQ(strEmail, "ann@example.net");
    EXPECT_EQ(strName, "Ann Lee");
}

TEST_F(SettingsFile, EmptyAndLongSettingsRoundTrip)
{
    const std::string strLong(300, 's');
    std::string strError;
    ASSERT_TRUE(WriteSettings("", strLong, "", strError, File()));
    EXPECT_EQ(Bytes(),
              std::string(1, '\0') + std::string("\xFF\x2C\x01", 3) + strLong + std::string(1, '\0'));
    std::string strServer = "x", strEmail, strName = "z";
    ASSERT_TRUE(ReadSettings(strServer, strEmail, strName, File()));
    EXPECT_EQ(strServer, "");
    EXPECT_EQ(strEmail, strLong);
    EXPECT_EQ(strName, "");
}

TEST_F(SettingsFile, MissingOrDamagedFileLeavesTheStringsAlone)
{
    std::string strServer = "keep1", strEmail = "keep2", strName = "keep3";
    EXPECT_FALSE(ReadSettings(strServer, strEmail, strName, File()));

    std::string strError;
    ASSERT_TRUE(WriteSettings("mail.example.net", "ann@example.net", "Ann", strError, File()));
    const std::string strWhole = Bytes();
    // The file cut at every length short of whole, and one that claims a longer name.
    for (std::size_t nCut = 0; nCut < strWhole.size(); ++nCut)
    {
        ASSERT_TRUE(platform::WriteWholeFile(File(), strWhole.substr(0, nCut)));
        EXPECT_FALSE(ReadSettings(strServer, strEmail, strName, File())) << nCut;
    }
    ASSERT_TRUE(platform::WriteWholeFile(File(), strWhole.substr(0, strWhole.size() - 4) + "\xF0"
                                                                                           "Ann"));
    EXPECT_FALSE(ReadSettings(strServer, strEmail, strName, File()));
    EXPECT_EQ(strServer + strEmail + strName, "keep1keep2keep3");
}

TEST_F(SettingsFile, AFailedWriteKeepsTheOldFileWhole)
{
    std::string strError;
    ASSERT_TRUE(WriteSettings("old", "old@example.net", "Old", strError, File()));
    const std::string strOld = Bytes();
    {
        // A disk that fills up halfway: writes beyond 1000 bytes fail.
        CFileSizeLimit limit(1000);
        EXPECT_FALSE(WriteSettings("new", std::string(5000, 'e'), "New", strError, File()));
    }
    EXPECT_NE(strError.find(File().string()), std::string::npos) << strError;
    EXPECT_EQ(Bytes(), strOld);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFile, AFolderInTheWayIsReported)
{
    fs::create_directories(File());
    std::string strError;
    EXPECT_FALSE(WriteSettings("s", "e", "n", strError, File()));
    EXPECT_NE(strError.find(File().string()), std::string::npos) << strError;
}

TEST_F(SettingsFile, SettingsBesideTheFileRoundTripAndStartSecureOnlyForNewUsers)
{
    const fs::path ini = m_dir / "sendwell.ini";
    // A new user gets STARTTLS; settings made before the file beside them existed keep the
    // plain dialogue they worked with.
    EXPECT_EQ(ReadProviderSettings(ini, File()).m_eSecurity, ESmtpSecurity::StartTls);
    std::string strError;
    ASSERT_TRUE(WriteSettings("mail.example.net", "ann@example.net", "Ann", strError, File()));
    EXPECT_EQ(ReadProviderSettings(ini, File()).m_eSecurity, ESmtpSecurity::None);
    const std::string strOldBytes = Bytes();

    SProviderSettings settings;
    settings.m_eSecurity = ESmtpSecurity::Tls;
    settings.m_strLogin = "ann@example.net";
    settings.m_strGatewayAddress = "<number>@fax.provider.example";
    settings.m_strQueryHost = "127.0.0.1:8080";
    settings.m_sentLimits = {12, 0};
    ASSERT_TRUE(WriteProviderSettings(settings, strError, ini)) << strError;
    const SProviderSettings read = ReadProviderSettings(ini, File());
    EXPECT_EQ(read.m_eSecurity, ESmtpSecurity::Tls);
    EXPECT_EQ(read.m_strLogin, settings.m_strLogin);
    EXPECT_EQ(read.m_strGatewayAddress, settings.m_strGatewayAddress);
    EXPECT_EQ(read.m_strQueryHost, settings.m_strQueryHost);
    EXPECT_EQ(read.m_sentLimits.m_nMaxFaxes, 12);
    EXPECT_EQ(read.m_sentLimits.m_nMaxMegabytes, 0);
    EXPECT_EQ(Bytes(), strOldBytes) << "quill.cfg keeps its bytes";

    // A value the file cannot hold is refused and the file stays as it was.
    settings.m_strLogin = "ann\nSecurity=None";
    EXPECT_FALSE(WriteProviderSettings(settings, strError, ini));
    EXPECT_EQ(ReadProviderSettings(ini, File()).m_strLogin, "ann@example.net");
}

TEST_F(SettingsFile, SettingsBesideTheFileAreReadLeniently)
{
    // Lines that cannot be understood count as missing, each on its own; a damaged file does
    // not turn security off.
    const SProviderSettings read =
        DecodeProviderSettings("garbage\n[Mail]\r\nSecurity=Plaintext\n"
                               "Login = bob \n[Gateway]\nMailAddress=\n"
                               "QueryHost=q.example\x01\n\xFF\xFE=\n"
                               "[SentFaxes]\nKeepFaxes=-3\nKeepMegabytes=99999999999\n");
    EXPECT_EQ(read.m_eSecurity, ESmtpSecurity::StartTls);
    EXPECT_EQ(read.m_strLogin, "bob");
    EXPECT_EQ(read.m_strGatewayAddress, DEFAULT_GATEWAY_TEMPLATE);
    EXPECT_EQ(read.m_strQueryHost, GATEWAY_WEB_HOST);
    // A limit there but unreadable prunes nothing; one not there keeps the default.
    EXPECT_EQ(read.m_sentLimits.m_nMaxFaxes, SENT_NO_LIMIT);
    EXPECT_EQ(read.m_sentLimits.m_nMaxMegabytes, SENT_NO_LIMIT);
    for (const char* pszValue : {"1000001", "12x", "", "0x10", "+5"})
        EXPECT_EQ(DecodeProviderSettings(std::string("[SentFaxes]\nKeepFaxes=") + pszValue)
                      .m_sentLimits.m_nMaxFaxes,
                  SENT_NO_LIMIT)
            << pszValue;
    EXPECT_EQ(DecodeProviderSettings("[SentFaxes]\nKeepFaxes=7").m_sentLimits.m_nMaxMegabytes,
              SSentFaxLimits().m_nMaxMegabytes);
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "sendwell.ini", std::string(100 * 1024, '[')));
    EXPECT_EQ(ReadProviderSettings(m_dir / "sendwell.ini", File()).m_eSecurity, ESmtpSecurity::StartTls);
}

TEST_F(SettingsFile, SenderAndCoverChoiceRoundTripAndOlderFilesReadWithDefaults)
{
    const fs::path ini = m_dir / "sendwell.ini";
    // A file written before the sender and the cover had keys.
    ASSERT_TRUE(platform::WriteWholeFile(ini, "[Mail]\nSecurity=TLS\nLogin=ann\n"));
    SProviderSettings settings = ReadProviderSettings(ini, File());
    EXPECT_EQ(settings.m_strSenderName + settings.m_strSenderEmail + settings.m_strCoverTemplate, "");
    EXPECT_FALSE(settings.m_bCoverPage);

    const std::vector<std::string SProviderSettings::*> aTexts = {
        &SProviderSettings::m_strSenderName,  &SProviderSettings::m_strSenderCompany,
        &SProviderSettings::m_strSenderVoice, &SProviderSettings::m_strSenderFax,
        &SProviderSettings::m_strSenderEmail, &SProviderSettings::m_strCoverTemplate};
    const char* aValues[] = {"Анна Ли",          "Lee & Söhne 株式会社", "+44 20 7946 0000",
                             "+44 20 7946 0001", "ann@example.net",      "letterhead.svg"};
    for (std::size_t n = 0; n < aTexts.size(); ++n)
        settings.*aTexts[n] = aValues[n];
    settings.m_bCoverPage = true;
    std::string strError;
    ASSERT_TRUE(WriteProviderSettings(settings, strError, ini)) << strError;
    const SProviderSettings read = ReadProviderSettings(ini, File());
    for (std::size_t n = 0; n < aTexts.size(); ++n)
        EXPECT_EQ(read.*aTexts[n], aValues[n]);
    EXPECT_TRUE(read.m_bCoverPage);
    EXPECT_EQ(read.m_strLogin, "ann");
    // A line break would let a name write a key of its own.
    settings.m_strSenderName = "Ann\nEnabled=0";
    EXPECT_FALSE(WriteProviderSettings(settings, strError, ini));
}

TEST_F(SettingsFile, KeysOfALaterVersionSurviveAWrite)
{
    const std::string strText = "Top=1\n[Mail]\nSecurity=TLS\nWatch = yes\n[Cover]\nMargin=3\n"
                                "[Mailbox]\nHost=imap.example.net\nPort=993\n[Gateway]\nRetries=2\n";
    SProviderSettings settings = DecodeProviderSettings(strText);
    settings.m_strSenderName = "Ann";
    const SProviderSettings read = DecodeProviderSettings(EncodeProviderSettings(settings));
    // Each in its own section again, the sections this version writes in its order.
    const std::vector<std::pair<std::string, std::string>> aExpected = {{"", "Top=1"},
                                                                        {"Mail", "Watch = yes"},
                                                                        {"Gateway", "Retries=2"},
                                                                        {"Cover", "Margin=3"},
                                                                        {"Mailbox", "Host=imap.example.net"},
                                                                        {"Mailbox", "Port=993"}};
    EXPECT_EQ(read.m_aOtherKeys, aExpected);
    EXPECT_EQ(read.m_strSenderName, "Ann");
}

// A file from before [Incoming] watches nothing; a security that is not offered (plain text)
// stays TLS, and an empty folder is INBOX. (Config's test writes and reads back the rest.)
TEST_F(SettingsFile, OlderOrOddIncomingMailSettingsDoNotWatchOrWeaken)
{
    EXPECT_FALSE(DecodeProviderSettings("[Mail]\nSecurity=TLS\n").m_incoming.m_bWatch);
    const SIncomingSettings odd =
        DecodeProviderSettings("[Incoming]\nSecurity=None\nFolder=\nWatch=yes\n").m_incoming;
    EXPECT_EQ(std::tie(odd.m_eSecurity, odd.m_strFolder, odd.m_bWatch),
              std::make_tuple(EIncomingSecurity::Tls, std::string(DEFAULT_INCOMING_FOLDER), false));
    SProviderSettings settings;
    settings.m_incoming.m_strFolder = "INBOX\nWatch=0";
    std::string strError;
    EXPECT_FALSE(WriteProviderSettings(settings, strError, m_dir / "sendwell.ini"));
}
