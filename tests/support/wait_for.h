#pragma once
// Waiting for a condition on the window thread with a deadline, for tests and benchmarks.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Serves the window thread's events until done() holds or the time is up. Unlike QTRY_*,
// which sleeps between rounds, it answers a worker's calls into the window thread at once.
inline bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    return done();
}
