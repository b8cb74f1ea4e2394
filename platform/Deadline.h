#pragma once

#include <chrono>

// Waits with a deadline on the steady clock, in the whole milliseconds that poll() takes.
namespace platform
{

// The longest single poll: a wait for longer polls again, and the count stays within an int.
constexpr int MAX_POLL_MS = 24 * 3600 * 1000;

// The time left rounded up to whole milliseconds, so that a wait for it never ends before the
// deadline and never spins with 0 while any time is left; 0 once none is left.
std::chrono::milliseconds RoundUpToMilliseconds(std::chrono::steady_clock::duration left);

// The time left until the deadline as a poll() timeout: rounded up, at most MAX_POLL_MS.
int PollTimeoutUntil(std::chrono::steady_clock::time_point deadline);

} // namespace platform
