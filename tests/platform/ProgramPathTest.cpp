#include "platform/ProgramPath.h"

#include "platform/BinaryFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

namespace
{

using ProgramPathTest = CTempFolderTest;

TEST_F(ProgramPathTest, ACompanionBesideTheProgramWinsOverTheSystemDirectorys)
{
    std::filesystem::create_directories(m_dir / "program");
    ASSERT_TRUE(platform::WriteWholeFile(m_dir / "program/Pagemill", "beside"));
    EXPECT_EQ(platform::InstalledFile("Pagemill", m_dir / "program", m_dir / "system"),
              m_dir / "program/Pagemill");
    // Else the system directory's, also when it is missing there, for the error to name.
    EXPECT_EQ(platform::InstalledFile("Sample.html", m_dir / "program", m_dir / "system"),
              m_dir / "system/Sample.html");
}

} // namespace
