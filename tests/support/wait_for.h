#pragma once
// Waiting for a condition on the window thread with a deadline, for tests and benchmarks.
//
// A failed wait must end its test at the wait's deadline. Three ways it did not:
// - a modal box that nobody answers (an error the test did not expect, such as "no answer" on
//   a loaded machine) runs its own event loop inside the wait, and the wait cannot return before
//   that loop does: the wait's deadline passed unnoticed and the test hung until ctest's time-out;
// - a wait in a helper (or a lambda) fails the helper only: the test goes on, and every later
//   wait used to wait its whole time, once per turn of a loop;
// - QTRY_* gives up at once in a test that has failed, so a clean-up that waited with it for a
//   worker to end went on while the worker still ran, and the next test's window waited for it.
// So at its deadline a wait closes the modal boxes still open (naming them in a warning); WaitFor
// gives up at once in a test that has failed already; and a clean-up waits with SettleOrEnd,
// which waits even then, cancels the boxes of a failed test at once, and ends the test program
// when its time is up.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>

namespace waitsupport {

// Closes the modal windows open on the window thread, innermost first; they were left for
// nobody to answer.
inline void CloseModals()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    QWidget *last = nullptr;
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (modal == last)
            break;   // it refused to close
        last = modal;
        const auto *box = qobject_cast<QMessageBox *>(modal);
        qWarning("closing a modal window that nobody answered: %s",
                 qPrintable(box ? box->text() : modal->objectName()));
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

enum class Mode {
    Test,      // gives up at once in a test that has failed
    Cleanup,   // waits even then, and cancels the boxes of a failed test as they come
};

// Serves the window thread's events until done() holds or the time is up (or, for Mode::Test,
// the running test has failed); true when done() holds.
inline bool Serve(const std::function<bool()> &done, int timeoutMs, Mode mode)
{
    const auto failed = [] { return QTest::currentTestFailed(); };
    if (done() || (mode == Mode::Test && failed()))
        return done();
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    // The timer fires inside a modal box's loop too, which is how a box that holds this wait
    // gets closed.
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || (mode == Mode::Test && failed())) {
            loop.quit();
        } else if (clock.elapsed() > timeoutMs) {
            CloseModals();
            loop.quit();
        } else if (mode == Mode::Cleanup && failed()) {
            CloseModals();
        }
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
    return waitsupport::Serve(done, timeoutMs, waitsupport::Mode::Test);
}

// For clean-ups: waits until done() holds even when the test has failed, serving the window
// thread meanwhile; when the time is up, ends the test program with `what`, since nothing after
// it could run safely (a worker that still runs would hang the next test).
inline void SettleOrEnd(const std::function<bool()> &done, int timeoutMs, const char *what)
{
    if (!waitsupport::Serve(done, timeoutMs, waitsupport::Mode::Cleanup))
        qFatal("%s did not happen within %d ms", what, timeoutMs);
}
