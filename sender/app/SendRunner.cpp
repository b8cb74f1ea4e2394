#include "sender/app/SendRunner.h"

#include <QEventLoop>
#include <QMetaObject>
#include <thread>

SSendResult RunSendJobWhileWaiting(const SSendJob& job)
{
    SSendResult result;
    QEventLoop loop;
    // The worker only computes; the loop below is the one place that waits for it, and it
    // cannot return before the worker has posted its quit, so the join never blocks long.
    std::thread worker(
        [&job, &result, &loop]
        {
            result = RunSendJob(job);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return result;
}
