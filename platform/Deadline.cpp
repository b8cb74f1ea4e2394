#include "platform/Deadline.h"

#include <algorithm>

namespace platform
{

std::chrono::milliseconds RoundUpToMilliseconds(std::chrono::steady_clock::duration left)
{
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(left));
}

int PollTimeoutUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = RoundUpToMilliseconds(deadline - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::min<long long>(left, MAX_POLL_MS));
}

} // namespace platform
