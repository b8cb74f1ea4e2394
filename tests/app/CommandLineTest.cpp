#include "sender/app/CommandLine.h"

#include <gtest/gtest.h>

namespace
{

TEST(CommandLineTest, TakesOneFileOrOneOptionAndSaysWhatIsWrongWithTheRest)
{
    struct SCase
    {
        QStringList m_aArgs;
        ELaunch m_eLaunch;
        const char* m_pszFileOrSays;
    };
    // clang-format off
    const SCase aCases[] = {
        {{},                                ELaunch::Dialog,    ""},
        {{"notes.pdf"},                     ELaunch::Document,  "notes.pdf"},
        {{"--", "--lead.pdf"},              ELaunch::Document,  "--lead.pdf"},
        {{"./-lead.pdf"},                   ELaunch::Document,  "./-lead.pdf"},
        {{"--sent"},                        ELaunch::SentFaxes, ""},
        {{"--help"},                        ELaunch::Help,      ""},
        {{"--check-notices"},               ELaunch::CheckNotices, ""},
        {{"--check-notices", "--sent"},     ELaunch::Refused,   "--check-notices runs alone"},
        {{"a.pdf", "--check-notices"},      ELaunch::Refused,   "--check-notices runs alone"},
        {{"a.pdf", "-h"},                   ELaunch::Help,      ""},
        {{"--help", "--send"},              ELaunch::Send,      ""},
        {{"--lead.pdf"},                    ELaunch::Refused,   "there is no option --lead.pdf. A file whose name "
                                                                "begins with \"-\" is given after \"--\" (Sendwell "
                                                                "-- --lead.pdf) or as ./--lead.pdf."},
        {{"-"},                             ELaunch::Refused,   "there is no option -."},
        {{"-x\x1b[2J"},                     ELaunch::Refused,   "there is no option -x"},
        {{"a.pdf", "b.pdf"},                ELaunch::Refused,   "it takes one document file at a time, and 2 were given."},
        {{"--", "a.pdf", "--sent"},         ELaunch::Refused,   "it takes one document file at a time, and 2 were given."},
        {{"--sent", "a.pdf"},               ELaunch::Refused,   "--sent opens the sent faxes and takes no file."},
        {{""},                              ELaunch::Refused,   "the file name is empty."},
    };
    // clang-format on
    for (const SCase& test : aCases)
    {
        const SLaunch launch = ParseCommandLine(test.m_aArgs);
        const std::string strArgs = test.m_aArgs.join(' ').toStdString();
        EXPECT_EQ(launch.m_eLaunch, test.m_eLaunch) << strArgs;
        if (test.m_eLaunch == ELaunch::Document)
            EXPECT_EQ(launch.m_strFile, test.m_pszFileOrSays) << strArgs;
        else
            EXPECT_TRUE(launch.m_strMessage.starts_with(test.m_pszFileOrSays))
                << strArgs << ": " << launch.m_strMessage;
        EXPECT_EQ(launch.m_strMessage.find('\x1b'), std::string::npos)
            << "a control byte reached the message";
    }
}

} // namespace
