#include "platform/BinaryFile.h"

#include "tests/support/FifoWatchdog.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

class BinaryFileTest : public CTempFolderTest
{
protected:
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

std::string Pattern(std::size_t nBytes)
{
    std::string strData(nBytes, '\0');
    for (std::size_t i = 0; i < nBytes; ++i)
        strData[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return strData;
}

TEST_F(BinaryFileTest, ByteAndBulkReadsMixAcrossBufferBoundaries)
{
    const std::string strData = Pattern(3 * platform::FILE_BUFFER_BYTES + 17);
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "f", strData));

    platform::CFileReader reader;
    ASSERT_TRUE(reader.Open(m_dir / "f"));
    EXPECT_EQ(reader.Size(), strData.size());
    std::string strGot;
    std::uint8_t byte = 0;
    for (int i = 0; i < 5; ++i) // a few bytes fill the buffer...
    {
        ASSERT_TRUE(reader.ReadByte(byte));
        strGot += static_cast<char>(byte);
    }
    std::vector<char> chunk(2 * platform::FILE_BUFFER_BYTES); // ...a large read drains it and bypasses it
    strGot.append(chunk.data(), reader.Read(chunk.data(), chunk.size()));
    while (reader.ReadByte(byte))
        strGot += static_cast<char>(byte);
    EXPECT_EQ(strGot, strData);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Read(chunk.data(), 10), 0u);
}

TEST_F(BinaryFileTest, OpeningAMissingFileOrAFolderFails)
{
    platform::CFileReader reader;
    EXPECT_FALSE(reader.Open(m_dir / "missing"));
    EXPECT_FALSE(reader.Open(m_dir));
    EXPECT_FALSE(reader.ReadByte(*std::make_unique<std::uint8_t>()));
}

TEST_F(BinaryFileTest, AFifoOrADeviceFailsAsAMissingFileWithoutWaitingForAWriter)
{
    const fs::path fifo = m_dir / "Page.tmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bool bOpened = true;
    std::optional<std::string> strWhole = "unread";
    EXPECT_TRUE(ReturnsWithin(fifo, std::chrono::seconds(10),
                              [&]
                              {
                                  platform::CFileReader reader;
                                  bOpened = reader.Open(fifo);
                                  strWhole = platform::ReadWholeFile(fifo, 100);
                              }))
        << "reading a FIFO waited for a writer";
    EXPECT_FALSE(bOpened);
    EXPECT_EQ(strWhole, std::nullopt);

    platform::CFileReader reader;
    EXPECT_FALSE(reader.Open("/dev/null"));
}

TEST_F(BinaryFileTest, AtomicWriteReplacesOnlyWhenClosedAndLeavesNoTemporary)
{
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "book", "old"));
    {
        platform::CFileWriter writer;
        ASSERT_TRUE(writer.Create(m_dir / "book", platform::EWriteMode::Atomic));
        writer.Write("new but never finished", 22);
        // The writer goes away without Close(): the old file must stay whole.
    }
    EXPECT_EQ(platform::ReadWholeFile(m_dir / "book", 100), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"book"});

    platform::CFileWriter writer;
    ASSERT_TRUE(writer.Create(m_dir / "book", platform::EWriteMode::Atomic));
    const std::string strBig = Pattern(10000);
    for (char ch : strBig)
        writer.WriteByte(static_cast<std::uint8_t>(ch));
    EXPECT_EQ(platform::ReadWholeFile(m_dir / "book", 100), "old");
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(platform::ReadWholeFile(m_dir / "book", 20000), strBig);
    EXPECT_EQ(Entries(), std::vector<std::string>{"book"});
}

TEST_F(BinaryFileTest, AnAtomicTargetAppearsWithThePermissionsItWasGiven)
{
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "program", "old"));
    fs::permissions(m_dir / "program", fs::perms::owner_read | fs::perms::owner_write);
    // Beyond what the usual umask lets a new file have.
    const fs::perms wanted = fs::perms::owner_all | fs::perms::group_write | fs::perms::others_exec;
    platform::CFileWriter writer;
    ASSERT_TRUE(writer.Create(m_dir / "program", platform::EWriteMode::Atomic));
    EXPECT_TRUE(writer.SetPermissions(wanted));
    writer.Write("new", 3);
    EXPECT_EQ(fs::status(m_dir / "program").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(fs::status(m_dir / "program").permissions(), wanted);
    EXPECT_EQ(platform::ReadWholeFile(m_dir / "program", 10), "new");
    EXPECT_FALSE(writer.SetPermissions(wanted)) << "closed";
}

TEST_F(BinaryFileTest, AWriteThatDoesNotReachTheDiskIsReportedAtClose)
{
    platform::CFileWriter writer;
    ASSERT_TRUE(writer.Create("/dev/full"));
    writer.Write(Pattern(100).data(), 100); // still buffered: no error yet
    EXPECT_FALSE(writer.Close());
    EXPECT_NE(writer.Error().find("No space left"), std::string::npos) << writer.Error();
}

TEST_F(BinaryFileTest, CreatingInAMissingFolderFailsInBothModes)
{
    platform::CFileWriter writer;
    EXPECT_FALSE(writer.Create(m_dir / "no" / "f"));
    EXPECT_FALSE(writer.Create(m_dir / "no" / "f", platform::EWriteMode::Atomic));
    EXPECT_FALSE(writer.Write("x", 1));
}

TEST_F(BinaryFileTest, ReadWholeFileRefusesFilesOverItsLimit)
{
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "f", Pattern(5000)));
    EXPECT_FALSE(platform::ReadWholeFile(m_dir / "f", 4999));
    EXPECT_EQ(platform::ReadWholeFile(m_dir / "f", 5000)->size(), 5000u);
    EXPECT_FALSE(platform::ReadWholeFile(m_dir / "missing", 10));
}

} // namespace
