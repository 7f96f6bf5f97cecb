// The application window as a message target: registered numbers, sends from the window thread
// and from workers, posts in order, modal loops, teardown with waiting senders, timers, C entries.
#include "platform/messages.h"
#include "tests/support/worker_thread.h"

#include <QDialog>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

using namespace platform;

namespace {

constexpr int kDeadlineMs = 10000;

struct Record {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    QString payload;
};

} // namespace

class TestMessages : public QObject {
    Q_OBJECT

private slots:
    void init() { window = std::make_unique<ApplicationWindow>(); }
    void cleanup() { window.reset(); }

    void registeredNumbersAreStablePerName();
    void sendOnWindowThreadRunsHooksAtOnce();
    void workerSendBlocksUntilHandled();
    void workerCallRunsOnWindowThreadInOrder();
    void postsArriveInOrderWithPayloads();
    void sendIsServedWhileModalDialogRuns();
    void teardownReleasesWaitingSender();
    void timerDeliversWmTimerUntilKilled();
    void cEntriesReachTheWindowByHandle();

private:
    std::unique_ptr<ApplicationWindow> window;
};

void TestMessages::registeredNumbersAreStablePerName()
{
    const UINT dialog = RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    QVERIFY(dialog >= 0xC000 && dialog <= 0xFFFF);
    QCOMPARE(RegisterWindowMessage(QStringLiteral("SX_ProgramDialog")), dialog);
    QCOMPARE(RegisterWindowMessage(QStringLiteral("sx_programdialog")), dialog);
    QCOMPARE(platform_RegisterWindowMessage("SX_PROGRAMDIALOG"), dialog);

    const UINT value = RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGEVALUE"));
    const UINT status = RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGESTATUS"));
    QVERIFY(value >= 0xC000 && status >= 0xC000);
    QVERIFY(value != status && value != dialog && status != dialog);
    QCOMPARE(RegisterWindowMessage(QString()), 0u);
    QCOMPARE(platform_RegisterWindowMessage(nullptr), 0u);

    // Threads registering the same new names at once all get the same numbers.
    constexpr int kThreads = 6, kNames = 40;
    std::vector<std::vector<UINT>> seen(kThreads, std::vector<UINT>(kNames));
    {
        std::vector<std::unique_ptr<WorkerThread>> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.push_back(std::make_unique<WorkerThread>([&seen, t] {
                for (int n = 0; n < kNames; ++n)
                    seen[t][n] = RegisterWindowMessage(QStringLiteral("Concurrent_%1").arg(n));
            }));
        }
    }
    for (int t = 1; t < kThreads; ++t)
        QCOMPARE(seen[t], seen[0]);
    for (int n = 0; n < kNames; ++n)
        QCOMPARE(RegisterWindowMessage(QStringLiteral("CONCURRENT_%1").arg(n)), seen[0][n]);
}

void TestMessages::sendOnWindowThreadRunsHooksAtOnce()
{
    const UINT outer = WM_USER + 1, inner = WM_USER + 2, unknown = WM_USER + 3;
    QStringList calls;
    window->addHook([&](Message &m) {
        calls << QStringLiteral("watch %1").arg(m.msg);
        return false;  // sees everything, handles nothing
    });
    window->addHook([&](Message &m) {
        if (m.msg == outer) {
            // A hook may send again; the nested send runs at once too.
            m.result = window->sendMessage(inner, m.wParam, 0) + 1;
            return true;
        }
        if (m.msg == inner) {
            m.result = static_cast<LRESULT>(m.wParam) * 10;
            return true;
        }
        return false;
    });
    const int late = window->addHook([&](Message &m) {
        calls << QStringLiteral("late %1").arg(m.msg);
        return false;
    });

    // No event processing between the send and the checks: it ran synchronously.
    QCOMPARE(window->sendMessage(outer, 4, 0), LRESULT(41));
    QCOMPARE(calls, QStringList({QStringLiteral("watch %1").arg(outer), QStringLiteral("watch %1").arg(inner)}));

    calls.clear();
    QCOMPARE(window->sendMessage(unknown, 0, 0), LRESULT(0));
    QCOMPARE(calls, QStringList({QStringLiteral("watch %1").arg(unknown), QStringLiteral("late %1").arg(unknown)}));

    calls.clear();
    window->removeHook(late);
    window->sendMessage(unknown, 0, 0);
    QCOMPARE(calls, QStringList({QStringLiteral("watch %1").arg(unknown)}));
}

void TestMessages::workerSendBlocksUntilHandled()
{
    const UINT ask = RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    const Qt::HANDLE windowThread = QThread::currentThreadId();
    std::atomic<int> handled{0};
    std::atomic<bool> offThread{false};
    window->addHook([&](Message &m) {
        if (m.msg != ask)
            return false;
        if (QThread::currentThreadId() != windowThread)
            offThread = true;
        m.result = static_cast<LRESULT>(m.wParam) * 1000 + m.lParam;
        ++handled;
        return true;
    });

    // Several workers at once, each must get the answer to its own question.
    constexpr int kWorkers = 4, kSends = 25;
    std::vector<std::vector<LRESULT>> results(kWorkers);
    std::vector<std::vector<bool>> handledBeforeReturn(kWorkers);
    std::vector<std::unique_ptr<WorkerThread>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<WorkerThread>([&, w] {
            for (int i = 0; i < kSends; ++i) {
                const int before = handled.load();
                results[w].push_back(window->sendMessage(ask, WPARAM(w), i));
                handledBeforeReturn[w].push_back(handled.load() > before);
            }
        }));
    }
    for (const auto &worker : workers)
        QTRY_VERIFY_WITH_TIMEOUT(worker->finished(), kDeadlineMs);
    workers.clear();

    QVERIFY(!offThread);
    QCOMPARE(handled.load(), kWorkers * kSends);
    for (int w = 0; w < kWorkers; ++w) {
        for (int i = 0; i < kSends; ++i) {
            QCOMPARE(results[w][i], LRESULT(w * 1000 + i));
            QVERIFY(handledBeforeReturn[w][i]);
        }
    }
}

void TestMessages::workerCallRunsOnWindowThreadInOrder()
{
    const UINT note = RegisterWindowMessage(QStringLiteral("Test_CallOrder"));
    QStringList seen;
    window->addHook([&](Message &m) {
        if (m.msg != note)
            return false;
        seen << m.payload;
        return true;
    });

    // A call from a worker runs on the window thread after what the worker posted before it,
    // and the worker goes on only once it has run; on the window thread it runs at once.
    bool ranOnWindowThread = false;
    bool called = false;
    WorkerThread worker([&] {
        window->postMessage(note, 0, 0, QStringLiteral("posted"));
        called = window->call([&] {
            ranOnWindowThread = QThread::currentThread() == qApp->thread();
            seen << QStringLiteral("called");
        });
    });
    QTRY_VERIFY_WITH_TIMEOUT(worker.finished(), 10000);
    QVERIFY(called);
    QVERIFY(ranOnWindowThread);
    QCOMPARE(seen, (QStringList{QStringLiteral("posted"), QStringLiteral("called")}));

    int direct = 0;
    QVERIFY(window->call([&] { ++direct; }));
    QCOMPARE(direct, 1);
}

void TestMessages::postsArriveInOrderWithPayloads()
{
    const UINT value = RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGEVALUE"));
    const UINT status = RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGESTATUS"));
    const UINT ask = WM_USER + 10;
    std::vector<Record> got;  // touched only on the window thread
    window->addHook([&](Message &m) {
        if (m.msg != value && m.msg != status && m.msg != ask)
            return false;
        got.push_back({m.msg, m.wParam, m.lParam, m.payload});
        m.result = LRESULT(got.size());
        return true;
    });

    // Two workers post readings; each ends with a send that must come after its own posts.
    constexpr int kWorkers = 2, kPosts = 300;
    std::vector<LRESULT> sendResult(kWorkers);
    std::vector<std::unique_ptr<WorkerThread>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<WorkerThread>([&, w] {
            for (int i = 0; i < kPosts; ++i) {
                QString text = QStringLiteral("Ошибка! %1/%2").arg(w).arg(i);
                window->postMessage(value, WPARAM(w), i, text);
                text.fill(QLatin1Char('x'));  // the sender's buffer changes; the message keeps its copy
            }
            window->postMessage(status, WPARAM(w), 0);
            sendResult[w] = window->sendMessage(ask, WPARAM(w), 0);
        }));
    }
    // The window thread's own posts queue too, in order.
    for (int i = 0; i < 3; ++i)
        window->postMessage(status, 100, i);
    QVERIFY(got.empty());

    for (const auto &worker : workers)
        QTRY_VERIFY_WITH_TIMEOUT(worker->finished(), kDeadlineMs);
    workers.clear();
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), size_t(kWorkers * (kPosts + 2) + 3), kDeadlineMs);

    std::vector<int> nextPost(kWorkers, 0);
    std::vector<bool> statusSeen(kWorkers, false);
    int ownPosts = 0;
    for (size_t at = 0; at < got.size(); ++at) {
        const Record &r = got[at];
        if (r.wParam == 100) {
            QCOMPARE(r.lParam, LPARAM(ownPosts++));
            continue;
        }
        const int w = int(r.wParam);
        if (r.msg == value) {
            QVERIFY(!statusSeen[w]);
            QCOMPARE(r.lParam, LPARAM(nextPost[w]));
            QCOMPARE(r.payload, QStringLiteral("Ошибка! %1/%2").arg(w).arg(nextPost[w]));
            ++nextPost[w];
        } else if (r.msg == status) {
            QCOMPARE(nextPost[w], kPosts);
            statusSeen[w] = true;
        } else {
            QVERIFY2(statusSeen[w], "a send overtook the post before it");
            QCOMPARE(sendResult[w], LRESULT(at + 1));
            QVERIFY(r.payload.isEmpty());
        }
    }
    QCOMPARE(ownPosts, 3);
}

void TestMessages::sendIsServedWhileModalDialogRuns()
{
    const UINT ask = RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    QDialog dialog;
    bool insideDialog = false;
    bool servedInsideDialog = false;
    window->addHook([&](Message &m) {
        if (m.msg != ask)
            return false;
        servedInsideDialog = insideDialog;
        m.result = 6;
        dialog.accept();
        return true;
    });

    std::atomic<LRESULT> answer{-1};
    std::unique_ptr<WorkerThread> worker;
    // The worker starts once the dialog's own event loop runs.
    QTimer::singleShot(0, &dialog, [&] {
        worker = std::make_unique<WorkerThread>([&] { answer = window->sendMessage(ask, 0, 0); });
    });
    QTimer::singleShot(kDeadlineMs, &dialog, &QDialog::reject);  // never hang if the send is lost
    insideDialog = true;
    const int outcome = dialog.exec();
    insideDialog = false;

    QCOMPARE(outcome, int(QDialog::Accepted));
    QVERIFY(servedInsideDialog);
    QVERIFY(worker);
    QTRY_VERIFY_WITH_TIMEOUT(worker->finished(), kDeadlineMs);
    QCOMPARE(answer.load(), LRESULT(6));
}

void TestMessages::teardownReleasesWaitingSender()
{
    const UINT ask = RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    std::atomic<bool> hookRan{false};
    window->addHook([&](Message &) {
        hookRan = true;
        return true;
    });
    const HWND handle = window->handle();

    std::mutex mutex;
    std::condition_variable cv;
    bool aboutToSend = false;
    std::atomic<LRESULT> answer{-1};
    WorkerThread worker([&] {
        {
            std::lock_guard guard(mutex);
            aboutToSend = true;
        }
        cv.notify_one();
        answer = platform_SendMessage(handle, ask, 1, 2);
    });
    {
        // Wait without running the event loop, so the send cannot be served before teardown.
        std::unique_lock guard(mutex);
        QVERIFY(cv.wait_for(guard, std::chrono::milliseconds(kDeadlineMs), [&] { return aboutToSend; }));
    }
    window->postMessage(ask, 0, 0, QStringLiteral("dropped with the window"));
    window.reset();

    QTRY_VERIFY_WITH_TIMEOUT(worker.finished(), kDeadlineMs);
    QCOMPARE(answer.load(), LRESULT(0));
    QVERIFY(!hookRan);

    // After the window is gone its handle delivers nothing and answers 0 at once.
    std::atomic<LRESULT> late{-1};
    WorkerThread lateWorker([&] { late = platform_SendMessage(handle, ask, 0, 0); });
    QTRY_VERIFY_WITH_TIMEOUT(lateWorker.finished(), kDeadlineMs);
    QCOMPARE(late.load(), LRESULT(0));
    QCOMPARE(platform_PostMessage(handle, ask, 0, 0), 0);
    QCOMPARE(platform_ApplicationWindowHandle(), 0u);
    QCoreApplication::processEvents();
    QVERIFY(!hookRan);

    // A hook may destroy the window, from a send or from a posted message.
    const UINT close = WM_USER + 20;
    for (const bool posted : {false, true}) {
        window = std::make_unique<ApplicationWindow>();
        window->addHook([&](Message &m) {
            if (m.msg != close)
                return false;
            window.reset();
            return false;
        });
        window->addHook([&](Message &) {
            hookRan = true;  // never reached: the window is gone
            return false;
        });
        if (posted)
            window->postMessage(close, 0, 0);
        else
            window->sendMessage(close, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!window, kDeadlineMs);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QVERIFY(!hookRan);
}

void TestMessages::timerDeliversWmTimerUntilKilled()
{
    int ticks7 = 0, ticks8 = 0, otherTimers = 0;
    window->addHook([&](Message &m) {
        if (m.msg != WM_TIMER)
            return false;
        if (m.wParam == 7)
            ++ticks7;
        else if (m.wParam == 8)
            ++ticks8;
        else
            ++otherTimers;
        return true;
    });

    window->setTimer(7, 100);
    window->setTimer(7, 10);  // setting the same id again replaces the timer
    QTRY_VERIFY_WITH_TIMEOUT(ticks7 >= 3, kDeadlineMs);

    window->killTimer(7);
    ticks7 = 0;
    // A second timer of the same interval ticking three times shows that the first is gone.
    window->setTimer(8, 10);
    QTRY_VERIFY_WITH_TIMEOUT(ticks8 >= 3, kDeadlineMs);
    QCOMPARE(ticks7, 0);
    QCOMPARE(otherTimers, 0);
    window->killTimer(8);
}

void TestMessages::cEntriesReachTheWindowByHandle()
{
    const HWND handle = platform_ApplicationWindowHandle();
    QVERIFY(handle != 0);
    QCOMPARE(handle, window->handle());
    QCOMPARE(ApplicationWindow::instance(), window.get());

    const UINT search = platform_RegisterWindowMessage("SX_SearchAvailableDevices");
    QStringList found;
    int positions = 0;
    window->addHook([&](Message &m) {
        if (m.msg != search)
            return false;
        ++positions;
        if (static_cast<std::uint32_t>(m.lParam) != 0xFFFF)
            found << QString::number(m.lParam);
        m.result = 1;
        return true;
    });

    std::atomic<LRESULT> sum{0};
    std::atomic<int> posted{0};
    WorkerThread library([&] {
        sum += platform_SendMessage(handle, search, 1, 0xFFFF);
        sum += platform_SendMessage(handle, search, 2, 17);
        posted += platform_PostMessage(handle, search, 3, 42);
        sum += platform_SendMessage(handle + 1000, search, 4, 99);  // no such window
        posted += platform_PostMessage(handle + 1000, search, 5, 98);
    });
    QTRY_VERIFY_WITH_TIMEOUT(library.finished(), kDeadlineMs);
    QTRY_COMPARE_WITH_TIMEOUT(positions, 3, kDeadlineMs);
    QCOMPARE(sum.load(), LRESULT(2));
    QCOMPARE(posted.load(), 1);
    QCOMPARE(found, QStringList({QStringLiteral("17"), QStringLiteral("42")}));
}

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
