#include "installer/Quoting.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

namespace
{

using installer::ShellQuote;

// The commands the Installer shows are pasted into a shell: each quoted word must reach the
// program as exactly that one argument, whatever it holds.
TEST(QuotingTest, AShellReadsEachQuotedWordBackAsOneArgument)
{
    for (const char* pszWord : {"plain-word_1.0", "", "Vellum Zeru 3.0", "it's", "'", "$HOME `id` \\ \"q\" *",
                                "two\nlines", "~", "a;b&c|d>e", "%s", "\xE4\xB8\xAD\xE6\x96\x87"})
    {
        const std::string strWord = pszWord;
        platform::SRunOptions options;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        options.m_durTimeout = std::chrono::seconds(30);
        const auto result =
            platform::RunProgram({"/bin/sh", "-c", "printf '%s|' " + ShellQuote(strWord)}, options);
        ASSERT_TRUE(result.Succeeded()) << ShellQuote(strWord) << ": " << result.Describe();
        EXPECT_EQ(result.m_strOutput, strWord + "|") << ShellQuote(strWord);
    }
}

} // namespace
