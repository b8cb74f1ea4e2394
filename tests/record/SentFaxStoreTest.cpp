#include "sender/record/SentFaxStore.h"

#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>

namespace fs = std::filesystem;

namespace
{

SSentFax Fax(const std::string& strName, const std::string& strNumber, std::int64_t nSentAt)
{
    SSentFax fax;
    fax.m_nSentAt = nSentAt;
    fax.m_strRecipient = strName;
    fax.m_strFaxNumber = strNumber;
    fax.m_strGatewayAddress = "remote-printer." + strName + "@" + strNumber + ".fax.example";
    fax.m_nMailBytes = 4321;
    fax.m_strMessageId = "<" + std::to_string(nSentAt) + "@example.org>";
    fax.m_strServerReply = "250-2.0.0 Ok\n250 2.0.0 queued as Q" + std::to_string(nSentAt);
    return fax;
}

unsigned Mode(const fs::path& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class SentFaxStore : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        m_store = m_dir / "sent";
        for (int n = 1; n <= 2; ++n)
        {
            m_aPages.push_back(m_dir / ("quill" + std::to_string(n) + ".tif"));
            ASSERT_TRUE(platform::WriteWholeFile(m_aPages.back(), "page " + std::string(n * 1000, 'x')));
        }
    }

    // Adds a fax to a store of its own and returns its id (0 on failure).
    std::int64_t Add(SSentFax fax, const SSentFaxLimits& limits = {})
    {
        CSentFaxStore store(m_store);
        std::string strError;
        if (!store.Add(fax, m_aPages, limits, strError))
        {
            ADD_FAILURE() << strError;
            return 0;
        }
        return fax.m_nId;
    }

    std::vector<std::string> Names(std::string_view strSearch = {})
    {
        CSentFaxStore store(m_store);
        std::string strError;
        EXPECT_TRUE(store.Open(strError)) << strError;
        std::vector<std::string> aNames;
        for (const SSentFax& fax : store.List(strSearch))
            aNames.push_back(fax.m_strRecipient);
        return aNames;
    }

    // Folders of page copies in the store.
    int FolderCount()
    {
        int nCount = 0;
        for (const auto& entry : fs::directory_iterator(m_store))
            nCount += entry.is_directory() ? 1 : 0;
        return nCount;
    }

    fs::path m_store;
    std::vector<fs::path> m_aPages;
};

TEST_F(SentFaxStore, KeepsEveryFieldAndPrivateCopiesNewestFirst)
{
    const std::int64_t nFirst = Add(Fax("Acme", "4930111", 1'800'000'000));
    const std::int64_t nSecond = Add(Fax("Bob_Smith", "4930222", 1'800'000'100));
    ASSERT_NE(nFirst, 0);
    ASSERT_NE(nSecond, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Bob_Smith", "Acme"}));

    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError)) << strError;
    EXPECT_FALSE(store.IsReadOnly());
    const auto fax = store.Find(nFirst);
    ASSERT_TRUE(fax);
    const SSentFax expected = Fax("Acme", "4930111", 1'800'000'000);
    EXPECT_EQ(fax->m_nSentAt, expected.m_nSentAt);
    EXPECT_EQ(fax->m_strFaxNumber, expected.m_strFaxNumber);
    EXPECT_EQ(fax->m_strGatewayAddress, expected.m_strGatewayAddress);
    EXPECT_EQ(fax->m_nMailBytes, expected.m_nMailBytes);
    EXPECT_EQ(fax->m_strMessageId, expected.m_strMessageId);
    EXPECT_EQ(fax->m_strServerReply, expected.m_strServerReply);
    EXPECT_EQ(fax->m_nPages, 2);
    EXPECT_EQ(fax->m_nFolderBytes, fs::file_size(m_aPages[0]) + fs::file_size(m_aPages[1]));
    for (int n = 1; n <= 2; ++n)
    {
        EXPECT_EQ(platform::ReadWholeFile(store.PagePath(*fax, n), 1 << 20),
                  platform::ReadWholeFile(m_aPages[n - 1], 1 << 20));
        EXPECT_EQ(Mode(store.PagePath(*fax, n)), 0600u);
    }
    EXPECT_EQ(Mode(store.PagePath(*fax, 1).parent_path()), 0700u);
    EXPECT_EQ(Mode(m_store), 0700u);
    EXPECT_EQ(Mode(store.DatabasePath()), 0600u);
    EXPECT_NE(store.Find(nSecond)->m_strFolder, fax->m_strFolder);

    // Deleting takes the row and the copies.
    ASSERT_TRUE(store.Remove(nFirst, strError)) << strError;
    EXPECT_FALSE(store.Find(nFirst));
    EXPECT_FALSE(fs::exists(store.PagePath(*fax, 1).parent_path()));
    EXPECT_EQ(store.Count(), 1);
}

TEST_F(SentFaxStore, SearchFindsNameOrNumberAndTakesItsCharactersLiterally)
{
    Add(Fax("Acme_Trading", "4930111", 1));
    Add(Fax("bob", "4411930", 2));
    Add(Fax("x%y", "777", 3));
    EXPECT_EQ(Names("acme"), (std::vector<std::string>{"Acme_Trading"}));
    // The name as typed: the send wrote its blanks and dots as underscores.
    EXPECT_EQ(Names("Acme Trad"), (std::vector<std::string>{"Acme_Trading"}));
    EXPECT_EQ(Names("acme.trading"), (std::vector<std::string>{"Acme_Trading"}));
    // The Message-ID, dots and all ("<2@example.org>").
    EXPECT_EQ(Names("<2@example.org"), (std::vector<std::string>{"bob"}));
    EXPECT_EQ(Names("1193"), (std::vector<std::string>{"bob"}));
    EXPECT_EQ(Names("930"), (std::vector<std::string>{"bob", "Acme_Trading"}));
    EXPECT_EQ(Names("%"), (std::vector<std::string>{"x%y"}));
    EXPECT_EQ(Names("_"), (std::vector<std::string>{"Acme_Trading"}));
    EXPECT_TRUE(Names("nobody").empty());

    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError));
    EXPECT_EQ(store.Count("930"), 2);
    // A window of the list, as the sent faxes window fetches it.
    const auto aSecond = store.List({}, 1, 1);
    ASSERT_EQ(aSecond.size(), 1u);
    EXPECT_EQ(aSecond[0].m_strRecipient, "bob");
}

TEST_F(SentFaxStore, OldestGoBeyondEitherLimitButNeverTheFaxJustSent)
{
    for (int n = 1; n <= 4; ++n)
        Add(Fax("F" + std::to_string(n), "1", n), {3, 100});
    EXPECT_EQ(Names(), (std::vector<std::string>{"F4", "F3", "F2"}));
    EXPECT_EQ(FolderCount(), 3);

    // A limit of 0 is no limit: nothing goes for it, whichever it is.
    Add(Fax("F5", "1", 5), {3, 0});
    EXPECT_EQ(Names(), (std::vector<std::string>{"F5", "F4", "F3"}));
    EXPECT_EQ(FolderCount(), 3);
    Add(Fax("F6", "1", 6), {0, 0});
    EXPECT_EQ(FolderCount(), 4);

    // What a prune would remove is counted first, removing nothing.
    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError)) << strError;
    EXPECT_EQ(store.CountBeyondLimits({1, 100}), 3);
    EXPECT_EQ(store.CountBeyondLimits({0, 0}), 0);
    EXPECT_EQ(store.Count(), 4);
    ASSERT_TRUE(store.Prune({1, 100}, strError)) << strError;
    EXPECT_EQ(Names(), (std::vector<std::string>{"F6"}));
    EXPECT_EQ(FolderCount(), 1);
}

TEST_F(SentFaxStore, DamagedReadOnlyOrNewerDatabaseIsNeverWritten)
{
    fs::create_directories(m_store);
    const fs::path db = m_store / SENT_DATABASE_NAME;
    const std::string strGarbage(3000, 'Z');
    ASSERT_TRUE(platform::WriteWholeFile(db, strGarbage));
    {
        CSentFaxStore store(m_store);
        SSentFax fax = Fax("A", "1", 1);
        std::string strError;
        EXPECT_FALSE(store.Add(fax, m_aPages, {}, strError));
        // Said plainly: the file's name, neither its whole path nor the driver's words.
        EXPECT_EQ(strError, "the record of sent faxes (sent.db) is damaged");
        EXPECT_TRUE(store.IsDamaged());
    }
    EXPECT_EQ(platform::ReadWholeFile(db, 1 << 20), strGarbage);
    EXPECT_EQ(FolderCount(), 0);

    // A good database that its owner made read-only: read, not written (root included).
    fs::remove(db);
    const std::int64_t nId = Add(Fax("A", "1", 1));
    ASSERT_NE(nId, 0);
    ASSERT_EQ(::chmod(db.c_str(), 0400), 0);
    const auto strBefore = platform::ReadWholeFile(db, 1 << 20);
    {
        CSentFaxStore store(m_store);
        std::string strError;
        ASSERT_TRUE(store.Open(strError)) << strError;
        EXPECT_TRUE(store.IsReadOnly());
        EXPECT_EQ(store.Count(), 1);
        SSentFax fax = Fax("B", "2", 2);
        EXPECT_FALSE(store.Add(fax, m_aPages, {}, strError));
        EXPECT_NE(strError.find("read-only"), std::string::npos) << strError;
        EXPECT_FALSE(store.Remove(nId, strError));
    }
    EXPECT_EQ(platform::ReadWholeFile(db, 1 << 20), strBefore);
    EXPECT_EQ(FolderCount(), 1);

    // A layout of a later version is shown, never written.
    ASSERT_EQ(::chmod(db.c_str(), 0600), 0);
    ASSERT_TRUE(platform::RunProgram({"/usr/bin/python3", "-c",
                                      "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); "
                                      "c.execute('PRAGMA user_version = 7'); c.commit()",
                                      db.string()})
                    .Succeeded());
    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError)) << strError;
    EXPECT_TRUE(store.IsReadOnly());
    SSentFax fax = Fax("C", "3", 3);
    EXPECT_FALSE(store.Add(fax, m_aPages, {}, strError));
}

// A record of version 1 (before cover_sent) keeps every row: upgraded in place where it may be
// written, read as it is where not; its faxes went without a cover.
TEST_F(SentFaxStore, EarlierRecordKeepsItsRowsAndGainsTheCoverColumn)
{
    for (const bool bReadOnly : {false, true})
    {
        fs::remove_all(m_store);
        fs::create_directories(m_store);
        const fs::path db = m_store / SENT_DATABASE_NAME;
        ASSERT_TRUE(
            platform::RunProgram(
                {"/usr/bin/python3", "-c",
                 "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.execute('CREATE TABLE sent_fax (id "
                 "INTEGER PRIMARY KEY AUTOINCREMENT, sent_at, recipient, fax_number, gateway_address, pages, "
                 "mail_bytes, message_id, server_reply, folder UNIQUE, folder_bytes)'); [c.execute('INSERT "
                 "INTO sent_fax VALUES (NULL,?,?,1,2,2,9,?,3,?,5)', (n, 'F%d' % n, '<%d@x>' % n, "
                 "'%016x' % n)) for n in (1, 2)]; c.execute('PRAGMA user_version = 1'); c.commit()",
                 db.string()})
                .Succeeded());
        ASSERT_EQ(::chmod(db.c_str(), bReadOnly ? 0400 : 0600), 0);
        const auto strBefore = platform::ReadWholeFile(db, 1 << 20);
        CSentFaxStore store(m_store);
        std::string strError;
        ASSERT_TRUE(store.Open(strError)) << strError;
        EXPECT_EQ(store.IsReadOnly(), bReadOnly);
        const auto aFaxes = store.List();
        ASSERT_EQ(aFaxes.size(), 2u);
        EXPECT_EQ(aFaxes[1].m_strMessageId, "<1@x>");
        EXPECT_FALSE(aFaxes[0].m_bCoverSent || aFaxes[1].m_bCoverSent);
        SSentFax fax = Fax("C", "3", 3);
        fax.m_bCoverSent = true;
        EXPECT_EQ(store.Add(fax, m_aPages, {}, strError), !bReadOnly) << strError;
        EXPECT_TRUE(bReadOnly ? platform::ReadWholeFile(db, 1 << 20) == strBefore
                              : store.Find(fax.m_nId)->m_bCoverSent && store.Count() == 3);
    }
}

// A record of version 2 gains the notices' columns, its rows kept and Sent; one that may not be
// written reads them as Sent and stays byte for byte as it was.
TEST_F(SentFaxStore, EarlierRecordReadsAsSentAndGainsTheNoticeColumns)
{
    for (const bool bReadOnly : {false, true})
    {
        fs::remove_all(m_store);
        fs::create_directories(m_store);
        const fs::path db = m_store / SENT_DATABASE_NAME;
        ASSERT_TRUE(
            platform::RunProgram(
                {"/usr/bin/python3", "-c",
                 "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.execute('CREATE TABLE sent_fax "
                 "(id INTEGER PRIMARY KEY, sent_at, recipient, fax_number, gateway_address, pages, "
                 "mail_bytes, message_id, server_reply, folder, folder_bytes, cover_sent)'); "
                 "c.execute('INSERT INTO sent_fax VALUES (1,100,2,3,4,5,6,7,8,9,10,0)'); "
                 "c.execute('PRAGMA user_version = 2'); c.commit()",
                 db.string()})
                .Succeeded());
        ASSERT_EQ(::chmod(db.c_str(), bReadOnly ? 0400 : 0600), 0);
        const auto strBefore = platform::ReadWholeFile(db, 1 << 20);
        CSentFaxStore store(m_store);
        std::string strError;
        ASSERT_TRUE(store.Open(strError)) << strError;
        ASSERT_EQ(store.Find(1)->m_eStatus, ESentStatus::Sent);
        EXPECT_EQ(store.ApplyNoticeWord({{1, ESentStatus::Delivered, "", 200, "OK", ""}},
                                        SNoticePollState{"a@b/INBOX", 0, 0, 0, 0, "", false}, strError),
                  !bReadOnly);
        EXPECT_TRUE(bReadOnly ? platform::ReadWholeFile(db, 1 << 20) == strBefore
                              : store.Find(1)->m_eStatus == ESentStatus::Delivered);
    }
}

// Only faxes of the last three days without word await it; word is stored once per fax, with the
// poll's mark, and a fax that is gone is passed over.
TEST_F(SentFaxStore, NoticeWordIsStoredOnceAndOnlyRecentFaxesWithoutWordAwaitIt)
{
    const std::int64_t nNow = 1'800'000'000;
    const std::int64_t nOld = Add(Fax("Old", "1", nNow - NOTICE_WAIT_SECONDS - 1));
    const std::int64_t nFirst = Add(Fax("First", "2", nNow - NOTICE_WAIT_SECONDS));
    const std::int64_t nSecond = Add(Fax("Second", "3", nNow - 60));
    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError)) << strError;
    const auto awaiting = [&]
    {
        std::vector<std::int64_t> aIds;
        for (const SSentFax& fax : store.AwaitingWord(nNow))
            aIds.push_back(fax.m_nId);
        return aIds;
    };
    EXPECT_EQ(awaiting(), (std::vector<std::int64_t>{nFirst, nSecond}));
    const SNoticePollState state{"ann@imap.example.org/INBOX", 7, 42, 0, nNow, "", false};
    for (const ESentStatus eStatus : {ESentStatus::Failed, ESentStatus::Delivered})
        ASSERT_TRUE(store.ApplyNoticeWord({{nFirst, eStatus, "busy", nNow - 30, "Fax failed", "Line busy."},
                                           {nOld + 1000, eStatus, "", nNow, "", ""}},
                                          state, strError))
            << strError;
    EXPECT_EQ(awaiting(), (std::vector<std::int64_t>{nSecond}));
    const auto fax = store.Find(nFirst);
    EXPECT_EQ(std::tie(fax->m_eStatus, fax->m_strStatusReason, fax->m_nNoticeAt, fax->m_strNoticeSubject,
                       fax->m_strNoticeLines),
              std::make_tuple(ESentStatus::Failed, std::string("busy"), nNow - 30, std::string("Fax failed"),
                              std::string("Line busy.")));
    EXPECT_EQ(store.PollState(state.m_strAccount).m_nLastUid, 42u);
}

TEST_F(SentFaxStore, DamagedRecordIsSaidAndKeptAsideForANewOne)
{
    ASSERT_NE(Add(Fax("A", "1", 1)), 0);
    const fs::path db = m_store / SENT_DATABASE_NAME;
    ASSERT_TRUE(platform::RunProgram({"/usr/bin/python3", "-c",
                                      "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); "
                                      "c.execute('ALTER TABLE sent_fax DROP COLUMN message_id'); c.commit()",
                                      db.string()})
                    .Succeeded());
    const auto strDamaged = platform::ReadWholeFile(db, 1 << 20);
    CSentFaxStore store(m_store);
    std::string strError;
    EXPECT_FALSE(store.Open(strError));
    EXPECT_TRUE(store.IsDamaged());
    EXPECT_NE(strError.find("(sent.db) is damaged"), std::string::npos) << strError;
    EXPECT_EQ(strError.find(m_dir.string()), std::string::npos) << strError;

    std::string strAside;
    ASSERT_TRUE(store.StartNewRecord(strAside, strError)) << strError;
    EXPECT_TRUE(strAside.starts_with("sent-damaged-")) << strAside;
    EXPECT_EQ(platform::ReadWholeFile(m_store / strAside, 1 << 20), strDamaged);
    EXPECT_EQ(FolderCount(), 1) << "the page copies stay";
    SSentFax fax = Fax("B", "2", 2);
    EXPECT_TRUE(store.Add(fax, m_aPages, {}, strError)) << strError;
}

TEST_F(SentFaxStore, DatabaseLockedByAnotherProcessFailsInTimeAndLeavesNothing)
{
    ASSERT_NE(Add(Fax("A", "1", 1)), 0);
    const fs::path db = m_store / SENT_DATABASE_NAME;
    const fs::path ready = m_dir / "locked";
    const fs::path release = m_dir / "release";
    // Another process holds the write lock until it is told to let go (at most 60 s).
    platform::CProcess holder;
    ASSERT_TRUE(holder.Start({"/usr/bin/python3", "-c",
                              "import sqlite3,sys,os,time\n"
                              "c=sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                              "c.execute('BEGIN EXCLUSIVE')\n"
                              "open(sys.argv[2],'w').close()\n"
                              "t=time.time()\n"
                              "while not os.path.exists(sys.argv[3]) and time.time()-t<60: time.sleep(0.02)\n"
                              "c.execute('COMMIT')\n",
                              db.string(), ready.string(), release.string()}));
    for (int i = 0; i < 3000 && !fs::exists(ready); ++i)
        ::usleep(10'000);
    ASSERT_TRUE(fs::exists(ready)) << "the other process did not lock the database";
    const auto strBefore = platform::ReadWholeFile(db, 1 << 20);
    {
        CSentFaxStore store(m_store);
        SSentFax fax = Fax("B", "2", 2);
        std::string strError;
        EXPECT_FALSE(store.Add(fax, m_aPages, {}, strError));
        EXPECT_NE(strError.find("locked"), std::string::npos) << strError;
    }
    EXPECT_EQ(FolderCount(), 1);
    EXPECT_EQ(platform::ReadWholeFile(db, 1 << 20), strBefore);
    ASSERT_TRUE(platform::WriteWholeFile(release, ""));
    EXPECT_EQ(holder.Wait(std::chrono::seconds(60)), platform::EWaitResult::Ended);
    EXPECT_TRUE(holder.Succeeded());
    EXPECT_NE(Add(Fax("B", "2", 2)), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B", "A"}));
}

TEST_F(SentFaxStore, FolderNameFromATamperedDatabaseNeverLeadsOutOfTheStore)
{
    const std::int64_t nId = Add(Fax("A", "1", 1));
    ASSERT_NE(nId, 0);
    const fs::path outside = m_dir / "keep";
    fs::create_directories(outside);
    ASSERT_TRUE(platform::WriteWholeFile(outside / "mine", "x"));
    ASSERT_TRUE(platform::RunProgram({"/usr/bin/python3", "-c",
                                      "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); "
                                      "c.execute(\"UPDATE sent_fax SET folder='../keep'\"); c.commit()",
                                      (m_store / SENT_DATABASE_NAME).string()})
                    .Succeeded());
    CSentFaxStore store(m_store);
    std::string strError;
    ASSERT_TRUE(store.Open(strError)) << strError;
    const auto fax = store.Find(nId);
    ASSERT_TRUE(fax);
    EXPECT_TRUE(store.PagePath(*fax, 1).empty());
    EXPECT_TRUE(store.Remove(nId, strError)) << strError;
    EXPECT_TRUE(fs::exists(outside / "mine"));
}

} // namespace

int main(int argc, char** argv)
{
    // Qt loads the SQLite driver as a plugin, which needs an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
