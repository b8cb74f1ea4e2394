#include "sender/store/AddressBook.h"

#include "platform/BinaryFile.h"
#include "sender/common/Gateway.h"
#include "tests/support/FifoWatchdog.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string BookBytes(const Entries& entries, std::int32_t nCount = -1)
{
    std::string strBytes;
    AppendInt32(strBytes, nCount >= 0 ? nCount : static_cast<std::int32_t>(entries.size()));
    for (const auto& [strName, strNumber] : entries)
        strBytes += *EncodeArchiveString(strName) + *EncodeArchiveString(strNumber);
    return strBytes;
}

Entries ToPairs(const CAddressBook& book)
{
    Entries entries;
    for (const auto& entry : book.Entries())
        entries.emplace_back(entry.m_strName, entry.m_strNumber);
    return entries;
}

CAddressBook BookOf(const Entries& entries)
{
    const std::string strBytes = BookBytes(entries);
    CArchiveIn in(strBytes);
    CAddressBook book;
    EXPECT_EQ(book.LoadFrom(in), EBookLoad::Loaded);
    return book;
}

Entries Parse(const std::string& strBytes, EBookLoad eExpected = EBookLoad::Loaded)
{
    CArchiveIn in(strBytes);
    CAddressBook book;
    EXPECT_EQ(book.LoadFrom(in), eExpected);
    return ToPairs(book);
}

class AddressBookFile : public CTempFolderTest
{
protected:
    fs::path File() const { return m_dir / "flist.dll"; }
    fs::path Kept() const { return m_dir / "flist.dll.bad"; }
    std::string Bytes(const fs::path& path) const
    {
        return platform::ReadWholeFile(path, 1 << 24).value_or("<none>");
    }
};

} // namespace

TEST(AddressBook, WorkedExampleIsTwentyFourBytes)
{
    const CAddressBook empty;
    const std::string strBytes = empty.Encode("Acme_Co", "12345678901").value();
    EXPECT_EQ(strBytes, std::string("\x01\x00\x00\x00\x07"
                                    "Acme_Co\x0B"
                                    "12345678901",
                                    24));
    EXPECT_EQ(Parse(strBytes), (Entries{{"Acme_Co", "12345678901"}}));
}

TEST(AddressBook, SaveOrderPutsTheLatestFirstAndDropsItsOlderEntries)
{
    const CAddressBook book = BookOf({{"Bolt", "1"}, {"Acme_Co", "2"}, {"Cray", "3"}});
    EXPECT_EQ(book.Encode("Acme_Co", "4").value(),
              BookBytes({{"Acme_Co", "4"}, {"Bolt", "1"}, {"Cray", "3"}}));
    // A new name goes first and the count grows.
    const CAddressBook two = BookOf({{"Bolt", "1"}, {"Cray", "3"}});
    EXPECT_EQ(two.Encode("Dyna", "5").value(), BookBytes({{"Dyna", "5"}, {"Bolt", "1"}, {"Cray", "3"}}));
    // Every older entry of the same name goes; numbers are never compared.
    const CAddressBook dupes = BookOf({{"Acme", "1"}, {"Bolt", "7"}, {"Acme", "2"}});
    EXPECT_EQ(dupes.Encode("Acme", "7").value(), BookBytes({{"Acme", "7"}, {"Bolt", "7"}}));
    // Names that differ only in case are different entries.
    const CAddressBook cased = BookOf({{"ACME", "1"}, {"Acme", "2"}});
    EXPECT_EQ(cased.Encode("Acme", "3").value(), BookBytes({{"Acme", "3"}, {"ACME", "1"}}));
    // The entries held in memory stay as they were.
    EXPECT_EQ(ToPairs(book), (Entries{{"Bolt", "1"}, {"Acme_Co", "2"}, {"Cray", "3"}}));
    // Several recipients go first in their order, a name given twice once, as first given.
    EXPECT_EQ(book.Encode({{"Dyna", "5"}, {"Cray", "6"}, {"Dyna", "8"}}).value(),
              BookBytes({{"Dyna", "5"}, {"Cray", "6"}, {"Bolt", "1"}, {"Acme_Co", "2"}}));
}

TEST(AddressBook, LookupIsByExactNameAndTheLastWins)
{
    const CAddressBook book = BookOf({{"Acme", "1"}, {"ACME", "9"}, {"Acme", "2"}, {"Acme ", "3"}});
    EXPECT_EQ(book.NumberFor("Acme"), "2");
    EXPECT_EQ(book.NumberFor("ACME"), "9");
    EXPECT_EQ(book.NumberFor("acme"), std::nullopt);
    EXPECT_EQ(book.NumberFor(""), std::nullopt);
}

TEST(AddressBook, EmptyBookLoadsAsEmptyList)
{
    EXPECT_EQ(Parse(std::string(4, '\0')), Entries{});
    // Bytes after the last entry are not an entry.
    EXPECT_EQ(Parse(std::string(4, '\0') + "\x01x"), Entries{});
}

TEST(AddressBook, HoldsFiveHundredEntriesAtMost)
{
    Entries many;
    for (int i = 0; i < 600; ++i)
        many.emplace_back("name" + std::to_string(i), std::to_string(1000 + i));
    const Entries loaded = Parse(BookBytes(many));
    ASSERT_EQ(loaded.size(), 500u);
    EXPECT_EQ(loaded.back().first, "name499");

    CAddressBook book = BookOf(Entries(many.begin(), many.begin() + 500));
    // A new name: it and the 499 entries before the oldest one.
    Entries expected{{"new", "1"}};
    expected.insert(expected.end(), many.begin(), many.begin() + 499);
    EXPECT_EQ(book.Encode("new", "1").value(), BookBytes(expected));
    // A name in the book: it moves to the front, and all 499 others stay.
    Entries moved{{"name7", "2"}};
    for (int i = 0; i < 500; ++i)
        if (i != 7)
            moved.push_back(many[i]);
    EXPECT_EQ(book.Encode("name7", "2").value(), BookBytes(moved));
}

TEST(AddressBook, DamagedBookKeepsTheEntriesReadWhole)
{
    const Entries entries{{"Acme", "12345"}, {std::string(300, 'L'), "1"}, {"Cray", "333"}};
    const std::string strWhole = BookBytes(entries);
    const std::size_t nEnd0 = 4;
    const std::size_t nEnd1 = nEnd0 + 5 + 6;
    const std::size_t nEnd2 = nEnd1 + 303 + 2;
    ASSERT_EQ(nEnd2 + 5 + 4, strWhole.size());
    for (std::size_t nCut = 0; nCut < strWhole.size(); ++nCut)
    {
        const std::size_t nWhole = nCut >= nEnd2 ? 2 : nCut >= nEnd1 ? 1 : 0;
        const Entries loaded = Parse(strWhole.substr(0, nCut), EBookLoad::Damaged);
        EXPECT_EQ(loaded, Entries(entries.begin(), entries.begin() + nWhole)) << nCut;
    }
    EXPECT_EQ(Parse(strWhole), entries);
}

TEST(AddressBook, CountsBeyondTheFileAreDamageNotAllocations)
{
    EXPECT_EQ(Parse(BookBytes({{"A", "1"}}, -1 & 0x7FFFFFFF), EBookLoad::Damaged), (Entries{{"A", "1"}}));
    EXPECT_EQ(Parse(std::string("\xFF\xFF\xFF\xFF", 4), EBookLoad::Damaged), Entries{});
    EXPECT_EQ(Parse(std::string("\x00\x00\x00\x80", 4), EBookLoad::Damaged), Entries{});
    EXPECT_EQ(Parse(BookBytes({{"A", "1"}}, 2), EBookLoad::Damaged), (Entries{{"A", "1"}}));
    // A name that claims four gigabytes.
    EXPECT_EQ(Parse(std::string("\x01\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                "A",
                                12),
                    EBookLoad::Damaged),
              Entries{});
}

TEST(AddressBook, ReadsWideNamesAsUtf8)
{
    std::string strBytes("\x01\x00\x00\x00\xFF\xFE\xFF\x02", 8);
    strBytes += std::string("\x20\x4F\x1F\x77", 4); // 传 U+4F20, 真 U+771F
    strBytes += "\x03"
                "861";
    EXPECT_EQ(Parse(strBytes), (Entries{{"\xE4\xBC\xA0\xE7\x9C\x9F", "861"}}));
}

TEST_F(AddressBookFile, SaveReplacesTheFileAndLoadReadsIt)
{
    CAddressBook book;
    EXPECT_EQ(book.Load(File()), EBookLoad::Missing);
    std::string strError;
    ASSERT_TRUE(book.Save("Acme_Co", "12345678901", strError, File())) << strError;
    EXPECT_EQ(Bytes(File()), std::string("\x01\x00\x00\x00\x07"
                                         "Acme_Co\x0B"
                                         "12345678901",
                                         24));
    EXPECT_TRUE(book.Entries().empty());

    CAddressBook reloaded;
    EXPECT_EQ(reloaded.Load(File()), EBookLoad::Loaded);
    ASSERT_TRUE(reloaded.Save("Bolt", "2", strError, File()));
    ASSERT_EQ(reloaded.Load(File()), EBookLoad::Loaded);
    EXPECT_EQ(ToPairs(reloaded), (Entries{{"Bolt", "2"}, {"Acme_Co", "12345678901"}}));
    EXPECT_FALSE(fs::exists(Kept()));
}

TEST_F(AddressBookFile, DamagedBookIsKeptBeforeTheFirstSave)
{
    const std::string strDamaged = BookBytes({{"Acme", "1"}, {"Bolt", "2"}}).substr(0, 14);
    ASSERT_TRUE(platform::WriteWholeFile(File(), strDamaged));
    CAddressBook book;
    ASSERT_EQ(book.Load(File()), EBookLoad::Damaged);
    EXPECT_EQ(ToPairs(book), (Entries{{"Acme", "1"}}));
    // Loading alone changes nothing on disk.
    EXPECT_EQ(Bytes(File()), strDamaged);
    EXPECT_FALSE(fs::exists(Kept()));

    std::string strError;
    ASSERT_TRUE(book.Save("Cray", "3", strError, File())) << strError;
    EXPECT_EQ(Bytes(Kept()), strDamaged);
    EXPECT_EQ(Bytes(File()), BookBytes({{"Cray", "3"}, {"Acme", "1"}}));
    // A second save in the same session keeps the damaged copy, not the good book.
    ASSERT_TRUE(book.Save("Dyna", "4", strError, File()));
    EXPECT_EQ(Bytes(Kept()), strDamaged);
    EXPECT_EQ(Bytes(File()), BookBytes({{"Dyna", "4"}, {"Acme", "1"}}));
}

TEST_F(AddressBookFile, EveryDamagedBookIsKeptByteForByteAndTheFiveLatestStay)
{
    // Seven sessions in a row, each finding a differently damaged book and saving once.
    std::vector<std::string> damaged; // the latest first
    for (int nSession = 0; nSession < 7; ++nSession)
    {
        const Entries whole{{"Acme" + std::string(nSession, '!'), "1"}};
        damaged.insert(damaged.begin(), BookBytes(whole, 2 + nSession));
        ASSERT_TRUE(platform::WriteWholeFile(File(), damaged.front()));
        CAddressBook book;
        ASSERT_EQ(book.Load(File()), EBookLoad::Damaged);
        std::string strError;
        ASSERT_TRUE(book.Save("Cray", "3", strError, File())) << strError;

        // The folder holds the new book, the latest damaged one as .bad, older ones as .bad.1 ...
        std::map<std::string, std::string> expected{{"flist.dll", BookBytes({{"Cray", "3"}, whole[0]})}};
        for (std::size_t nAge = 0; nAge < std::min<std::size_t>(damaged.size(), 5); ++nAge)
            expected["flist.dll.bad" + (nAge > 0 ? "." + std::to_string(nAge) : "")] = damaged[nAge];
        std::map<std::string, std::string> found;
        for (const auto& entry : fs::directory_iterator(m_dir))
            found[entry.path().filename().string()] = Bytes(entry.path());
        EXPECT_EQ(found, expected) << "after session " << nSession;
    }
}

TEST_F(AddressBookFile, SaveRecordsNoNameOrNumberLongerThanTheGatewayTakes)
{
    CAddressBook book;
    std::string strError;
    const std::string strName49(49, 'N');
    const std::string strNumber63(63, '9');
    EXPECT_FALSE(book.Save(strName49 + "N", "1", strError, File()));
    EXPECT_NE(strError.find(File().string()), std::string::npos) << strError;
    EXPECT_FALSE(book.Save("Acme", strNumber63 + "9", strError, File()));
    EXPECT_FALSE(fs::exists(File()));

    ASSERT_TRUE(book.Save(strName49, strNumber63, strError, File())) << strError;
    EXPECT_EQ(Bytes(File()), BookBytes({{strName49, strNumber63}}));
}

TEST_F(AddressBookFile, AFifoLoadsAsAMissingBookWithoutWaitingAndASaveReplacesIt)
{
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    CAddressBook book;
    EBookLoad eLoad = EBookLoad::Loaded;
    EXPECT_TRUE(ReturnsWithin(File(), std::chrono::seconds(10), [&] { eLoad = book.Load(File()); }))
        << "loading the book waited for a writer";
    EXPECT_EQ(eLoad, EBookLoad::Missing);
    std::string strError;
    ASSERT_TRUE(book.Save("Acme", "1", strError, File())) << strError;
    EXPECT_EQ(Bytes(File()), BookBytes({{"Acme", "1"}}));
    EXPECT_FALSE(fs::exists(Kept()));
}

TEST_F(AddressBookFile, ReaderSurvivesEveryTruncationOfARealFile)
{
    // A book written by the program itself, then cut short at every length. The name of
    // 260 bytes, longer than a new entry's may be, comes from an older book that the save keeps.
    const Entries entries{{"Acme_Co", "12345678901"}, {std::string(260, 'W'), "86755"}, {"Bolt", "1"}};
    ASSERT_TRUE(platform::WriteWholeFile(File(), BookBytes({entries[1], entries[2]})));
    CAddressBook writer;
    ASSERT_EQ(writer.Load(File()), EBookLoad::Loaded);
    std::string strError;
    ASSERT_TRUE(writer.Save(entries[0].first, entries[0].second, strError, File())) << strError;
    ASSERT_EQ(writer.Load(File()), EBookLoad::Loaded);
    ASSERT_EQ(ToPairs(writer), entries);
    const std::string strWhole = Bytes(File());
    const fs::path cut = m_dir / "cut.dll";
    std::size_t nLastCount = 0;
    for (std::size_t nCut = 0; nCut < strWhole.size(); ++nCut)
    {
        ASSERT_TRUE(platform::WriteWholeFile(cut, strWhole.substr(0, nCut)));
        CAddressBook book;
        ASSERT_EQ(book.Load(cut), EBookLoad::Damaged) << nCut;
        const Entries loaded = ToPairs(book);
        ASSERT_LE(loaded.size(), entries.size());
        EXPECT_EQ(loaded, Entries(entries.begin(), entries.begin() + loaded.size())) << nCut;
        EXPECT_GE(loaded.size(), nLastCount);
        nLastCount = loaded.size();
    }
    EXPECT_EQ(nLastCount, entries.size() - 1);
}

TEST_F(AddressBookFile, AFailedSaveNamesTheFileAndKeepsTheOldOne)
{
    fs::create_directories(File());
    CAddressBook book;
    std::string strError;
    EXPECT_FALSE(book.Save("Acme", "1", strError, File()));
    EXPECT_NE(strError.find(File().string()), std::string::npos) << strError;
    EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(AddressBookFile, AFullDiskLeavesTheOldBookWhole)
{
    CAddressBook book;
    std::string strError;
    ASSERT_TRUE(book.Save("Acme", "1", strError, File()));
    ASSERT_EQ(book.Load(File()), EBookLoad::Loaded);
    const std::string strOld = Bytes(File());
    {
        CFileSizeLimit limit(40);
        EXPECT_FALSE(book.Save(std::string(MAX_RECIPIENT_NAME_BYTES, 'B'), "2", strError, File()));
    }
    EXPECT_NE(strError.find(File().string()), std::string::npos) << strError;
    EXPECT_EQ(Bytes(File()), strOld);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(AddressBookFile, SaveMakesTheSystemFolderWhenItIsMissing)
{
    const fs::path nested = m_dir / "windows" / "system" / "flist.dll";
    CAddressBook book;
    std::string strError;
    ASSERT_TRUE(book.Save("Acme", "1", strError, nested)) << strError;
    EXPECT_EQ(Bytes(nested), BookBytes({{"Acme", "1"}}));
}
