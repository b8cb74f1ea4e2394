#pragma once

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <unistd.h>

// Runs fnRead, which reads through the FIFO at fifoPath, on a thread of its own, and
// waits for it at most nLimit. A reader that is still waiting then is freed: the FIFO's
// other end is opened and closed until it returns, so that a reader blocked in open()
// or read() sees a writer come and go, and the test fails instead of hanging.
// True when fnRead returned within nLimit.
inline bool ReturnsWithin(const std::filesystem::path& fifoPath, std::chrono::milliseconds nLimit,
                          const std::function<void()>& fnRead)
{
    std::packaged_task<void()> task(fnRead);
    std::future<void> done = task.get_future();
    std::thread reader(std::move(task));
    const bool bInTime = done.wait_for(nLimit) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
    {
        // Opening for reading and writing never waits on Linux, and counts as a writer.
        const int fd = ::open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (fd >= 0)
            ::close(fd);
    }
    reader.join();
    done.get();
    return bInTime;
}
