#include "sender/app/SentFaxes.h"

#include "platform/BinaryFile.h"
#include "tests/support/TestFiles.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{

using SentFaxes = CTempFolderTest;

// A page copy that is not a regular file is refused at once: a FIFO is never waited on, a
// link never followed.
TEST_F(SentFaxes, PageThatIsNotARegularFileIsRefusedWithoutWaiting)
{
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "real.tif", "II*"));
    ASSERT_EQ(::mkfifo((m_dir / "quill1.tif").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "real.tif", m_dir / "quill2.tif");
    for (const char* pszName : {"quill1.tif", "quill2.tif"})
    {
        const fs::path page = m_dir / pszName;
        std::string strError;
        auto read = std::async(std::launch::async, [&] { return ReadFaxPageRaster(page, strError); });
        if (read.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
        {
            // A reader stuck opening the FIFO is let go by a writer that opens and closes it.
            ::close(::open(page.c_str(), O_WRONLY | O_NONBLOCK));
            ADD_FAILURE() << pszName << " was waited on";
        }
        EXPECT_FALSE(read.get()) << pszName;
        EXPECT_NE(strError.find(pszName), std::string::npos) << strError;
        EXPECT_EQ(strError.find(m_dir.string()), std::string::npos) << strError;
    }
}

} // namespace
