#include "platform/Environment.h"

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

} // namespace
