#include "platform/Environment.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

constexpr const char* NAME = "VELLUM_ENVIRONMENT_TEST";

TEST(EnvironmentTest, AnUnsetOrEmptyVariableGivesTheDefault)
{
    ::unsetenv(NAME);
    EXPECT_EQ(platform::EnvOr(NAME, "/usr/share"), "/usr/share");
    EXPECT_EQ(platform::EnvOr(NAME), "");
    ::setenv(NAME, "", 1);
    EXPECT_EQ(platform::EnvOr(NAME, "/usr/share"), "/usr/share");
    ::setenv(NAME, " ", 1);
    EXPECT_EQ(platform::EnvOr(NAME, "/usr/share"), " ");
    ::setenv(NAME, "/opt/share", 1);
    EXPECT_EQ(platform::EnvOr(NAME, "/usr/share"), "/opt/share");
    ::unsetenv(NAME);
}

TEST(EnvironmentTest, AChildsEnvironmentIsOursWithItsOwnEntriesPutIn)
{
    ::setenv(NAME, "old", 1);
    ::setenv("VELLUM_ENVIRONMENT_TEST_2", "kept", 1);
    const auto aEnvironment = platform::EnvironmentWith({std::string(NAME) + "=new", "VELLUM_ADDED=x"});
    ::unsetenv(NAME);
    ::unsetenv("VELLUM_ENVIRONMENT_TEST_2");
    const auto count = [&](const std::string& strEntry)
    { return std::count(aEnvironment.begin(), aEnvironment.end(), strEntry); };
    EXPECT_EQ(count(std::string(NAME) + "=new"), 1);
    EXPECT_EQ(count(std::string(NAME) + "=old"), 0);
    // A longer name that starts with the replaced one is another variable.
    EXPECT_EQ(count("VELLUM_ENVIRONMENT_TEST_2=kept"), 1);
    EXPECT_EQ(count("VELLUM_ADDED=x"), 1);
    EXPECT_EQ(count(std::string("PATH=") + std::getenv("PATH")), 1);
}

} // namespace
