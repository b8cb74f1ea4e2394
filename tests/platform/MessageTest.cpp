#include "platform/Message.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace
{

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MessageTest, LogLineEscapesNewlinesAndKeepsUtf8)
{
    EXPECT_EQ(platform::FormatMessageLogLine("警告", "a\nb\n"), "警告\ta\\nb\\n");
    EXPECT_EQ(platform::FormatMessageLogLine("", ""), "\t");
}

TEST(MessageTest, LogSeamAppendsOneLinePerMessageAndBypassesThePresenter)
{
    const auto log = std::filesystem::temp_directory_path() / ("msg-" + std::to_string(::getpid()) + ".log");
    std::filesystem::remove(log);
    ::setenv("VELLUM_MESSAGE_LOG", log.c_str(), 1);
    EXPECT_TRUE(platform::MessagesGoToLog());
    int nPresented = 0;
    platform::SetMessagePresenter([&](const std::string&, const std::string&, platform::EMessageIcon)
                                  { ++nPresented; });

    platform::ShowMessage("Caption", "first\nsecond");
    platform::ShowMessage("Other", "x", platform::EMessageIcon::Warning);

    EXPECT_EQ(ReadText(log), "Caption\tfirst\\nsecond\nOther\tx\n");
    EXPECT_EQ(nPresented, 0);

    ::setenv("VELLUM_MESSAGE_LOG", "", 1); // empty counts as unset
    EXPECT_FALSE(platform::MessagesGoToLog());
    platform::ShowMessage("Shown", "by the presenter", platform::EMessageIcon::Warning);
    EXPECT_EQ(nPresented, 1);
    ::unsetenv("VELLUM_MESSAGE_LOG");
    EXPECT_FALSE(platform::MessagesGoToLog());
    platform::SetMessagePresenter(nullptr);
    std::filesystem::remove(log);
}

TEST(MessageTest, WithoutLogPresenterOrDisplayTheMessageGoesToStandardError)
{
    ::unsetenv("VELLUM_MESSAGE_LOG");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    testing::internal::CaptureStderr();
    platform::ShowMessage("Caption", "text");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: text\n");
}

} // namespace
