#include "printer/JobSupervisor.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using driver::CJobSupervisor;
using driver::EJobEnd;
using driver::SJobLimits;

// Work for the child: reads its input to the end and says what came and which descriptors
// besides the standard streams it holds.
int ReadAll()
{
    std::string strInput;
    char chunk[256];
    for (ssize_t n; (n = ::read(STDIN_FILENO, chunk, sizeof chunk)) > 0;)
        strInput.append(chunk, static_cast<std::size_t>(n));
    int nOthers = 0;
    for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd)
        nOthers += ::fcntl(fd, F_GETFD) != -1;
    std::cerr << "INFO: read " << strInput << "\nATTR: marker-colors=#000000\nINFO: other descriptors "
              << nOthers << std::endl;
    return 3;
}

int StopItself()
{
    ::raise(SIGSTOP);
    return 0;
}

int TalkForever()
{
    for (;;)
    {
        std::cerr << "DEBUG: still here" << std::endl;
        std::this_thread::sleep_for(20ms);
    }
}

int KillItself()
{
    ::raise(SIGKILL);
    return 0;
}

// Keeps each write it gets as one piece, as the spooler's status pipe, which the job's filters
// write to as well, keeps a write of up to 4096 bytes whole.
class CPieceBuffer : public std::streambuf
{
public:
    std::vector<std::string> m_aPieces;

protected:
    std::streamsize xsputn(const char* pData, std::streamsize nSize) override
    {
        m_aPieces.emplace_back(pData, static_cast<std::size_t>(nSize));
        return nSize;
    }
    int_type overflow(int_type nChar) override
    {
        if (!traits_type::eq_int_type(nChar, traits_type::eof()))
            m_aPieces.emplace_back(1, traits_type::to_char_type(nChar));
        return traits_type::not_eof(nChar);
    }
};

TEST(JobSupervisorTest, PassesEachLineOnInOneWrite)
{
    int aInput[2];
    ASSERT_EQ(::pipe(aInput), 0);
    ASSERT_EQ(::write(aInput[1], "the document", 12), 12);
    ::close(aInput[1]);
    CPieceBuffer buffer;
    std::ostream log(&buffer);
    CJobSupervisor supervisor({60s, 60s, 60s}, log);
    EXPECT_EQ(supervisor.Run(aInput[0], ReadAll), EJobEnd::Finished);
    ::close(aInput[0]);
    // The supervisor's own line, and the child's three.
    EXPECT_EQ(buffer.m_aPieces.size(), 4U);
    for (const std::string& strPiece : buffer.m_aPieces)
        EXPECT_TRUE(strPiece.find('\n') == strPiece.size() - 1) << "[" << strPiece << "]";
    EXPECT_NE(std::find(buffer.m_aPieces.begin(), buffer.m_aPieces.end(), "INFO: read the document\n"),
              buffer.m_aPieces.end());
}

TEST(JobSupervisorTest, FeedsTheWorkAndEndsItWhenALimitIsPassed)
{
    struct SCase
    {
        const char* m_pszWhat;
        int (*m_fnWork)();
        bool m_bInputEnds;
        SJobLimits m_limits;
        EJobEnd m_eEnd;
        const char* m_pszLogged; // in the log, or in the reason when the end is not Finished
    };
    // clang-format off
    const SCase CASES[] = {
        {"finishes", ReadAll, true, {60s, 60s, 60s}, EJobEnd::Finished,
         "INFO: read the document\nDEBUG: ATTR: marker-colors=#000000\nINFO: other descriptors 0\n"},
        {"input stalls", ReadAll, false, {200ms, 60s, 60s}, EJobEnd::InputStalled, "no more of its document came"},
        {"stopped", StopItself, true, {60s, 200ms, 60s}, EJobEnd::WorkStalled, "it made no progress for 1 second"},
        {"too long", TalkForever, true, {60s, 60s, 300ms}, EJobEnd::TooLong, "it took longer than 1 second"},
        {"killed", KillItself, true, {60s, 60s, 60s}, EJobEnd::Killed, "ended by signal 9"},
    };
    // clang-format on
    for (const SCase& test : CASES)
    {
        int aInput[2];
        ASSERT_EQ(::pipe(aInput), 0);
        ASSERT_EQ(::write(aInput[1], "the document", 12), 12);
        if (test.m_bInputEnds)
            ::close(aInput[1]);
        std::ostringstream log;
        CJobSupervisor supervisor(test.m_limits, log);
        const EJobEnd eEnd = supervisor.Run(aInput[0], test.m_fnWork);
        ::close(aInput[0]);
        if (!test.m_bInputEnds)
            ::close(aInput[1]);
        EXPECT_EQ(eEnd, test.m_eEnd) << test.m_pszWhat << "\n" << log.str();
        if (eEnd == EJobEnd::Finished)
        {
            EXPECT_EQ(supervisor.ChildExitCode(), 3) << test.m_pszWhat;
            EXPECT_NE(log.str().find(test.m_pszLogged), std::string::npos) << test.m_pszWhat << "\n"
                                                                           << log.str();
        }
        else
            EXPECT_NE(supervisor.Reason().find(test.m_pszLogged), std::string::npos)
                << test.m_pszWhat << ": " << supervisor.Reason();
        EXPECT_EQ(supervisor.ChildPid(), -1) << test.m_pszWhat << ": the child is gone";
    }
}

} // namespace
