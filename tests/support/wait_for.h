#pragma once
// Waiting for a condition on the window thread with a deadline, for tests and benchmarks.
//
// A failed wait must end its test at the wait's deadline. Two ways it did not:
// - a wait in a helper (or a lambda) fails the helper only: the test goes on, and every later
//   wait used to wait its whole time, once per turn of a loop, until ctest's own time-out;
// - QTRY_* gives up at once once the test has failed, so a clean-up that waited with it for a
//   worker to end went on while the worker still ran; the next test's window then waited for
//   that worker, which waited for the old window: a hang.
// So WaitFor gives up at once in a test that has failed already, and a clean-up waits with
// SettleOrEnd, which waits even then and ends the test program when its time is up.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <functional>

namespace waitsupport {

// Serves the window thread's events until done() holds, the time is up or, when stopOnFailure,
// the running test has failed.
inline bool Serve(const std::function<bool()> &done, int timeoutMs, bool stopOnFailure)
{
    const auto over = [&] { return stopOnFailure && QTest::currentTestFailed(); };
    if (done() || over())
        return done();
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || over() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    return done();
}

} // namespace waitsupport

// Serves the window thread's events until done() holds or the time is up. Unlike QTRY_*,
// which sleeps between rounds, it answers a worker's calls into the window thread at once.
// In a test that has failed already it gives up at once (outside a test it never does).
inline bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    return waitsupport::Serve(done, timeoutMs, true);
}

// For clean-ups: waits until done() holds even when the test has failed, serving the window
// thread meanwhile; when the time is up, ends the test program with `what`, since nothing after
// it could run safely (a worker that still runs would hang the next test).
inline void SettleOrEnd(const std::function<bool()> &done, int timeoutMs, const char *what)
{
    if (!waitsupport::Serve(done, timeoutMs, false))
        qFatal("%s did not happen within %d ms", what, timeoutMs);
}
