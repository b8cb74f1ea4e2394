#include "platform/Roots.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

class RootsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* pszName : {"VELLUM_ROOT", "XDG_DATA_HOME", "HOME"})
        {
            const char* pszValue = std::getenv(pszName);
            m_saved.emplace_back(pszName, pszValue ? std::optional<std::string>(pszValue) : std::nullopt);
        }
    }
    void TearDown() override
    {
        for (const auto& [strName, value] : m_saved)
        {
            if (value)
                ::setenv(strName.c_str(), value->c_str(), 1);
            else
                ::unsetenv(strName.c_str());
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(RootsTest, VellumRootWinsAndTheFoldersHangBelowIt)
{
    ::setenv("VELLUM_ROOT", "/tmp/r1", 1);
    ::setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(platform::VellumRoot(), "/tmp/r1");
    EXPECT_EQ(platform::DriveRoot(), "/tmp/r1/c");
    EXPECT_EQ(platform::WindowsDirectory(), "/tmp/r1/windows");
    EXPECT_EQ(platform::SystemDirectory(), "/tmp/r1/windows/system");
    EXPECT_EQ(platform::DrivePath("Page.tmp"), "/tmp/r1/c/Page.tmp");
}

TEST_F(RootsTest, FallsBackToXdgDataHomeThenHome)
{
    ::unsetenv("VELLUM_ROOT");
    ::setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(platform::VellumRoot(), "/tmp/xdg/vellum");
    ::setenv("XDG_DATA_HOME", "", 1); // empty counts as unset
    ::setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(platform::VellumRoot(), "/home/ann/.local/share/vellum");
}

} // namespace
