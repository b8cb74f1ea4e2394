#include "platform/Deadline.h"

#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;

TEST(DeadlineTest, RoundsTheTimeLeftUpToWholeMilliseconds)
{
    struct SCase
    {
        std::chrono::steady_clock::duration m_left;
        long long m_nExpected;
    };
    // clang-format off
    const SCase aCases[] = {
        {-5s,          0},
        {-1ns,         0},
        {0ns,          0},
        {1ns,          1}, // never 0 while any time is left: a poll with 0 would spin
        {999'999ns,    1},
        {1ms,          1},
        {1ms + 1ns,    2}, // never short of the deadline
        {1500us,       2},
        {10s,     10'000},
    };
    // clang-format on
    for (const auto& c : aCases)
        EXPECT_EQ(platform::RoundUpToMilliseconds(c.m_left).count(), c.m_nExpected)
            << std::chrono::nanoseconds(c.m_left).count() << " ns";
}

TEST(DeadlineTest, PollTimeoutIsZeroOncePastAndAtMostOneLongPoll)
{
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::PollTimeoutUntil(now - 1ns), 0);
    EXPECT_EQ(platform::PollTimeoutUntil(now + 48h), platform::MAX_POLL_MS);
}

} // namespace
