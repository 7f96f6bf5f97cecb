// The named lock: re-entrant for its thread, exclusive between threads and between processes,
// freed when its holder process dies, and still usable when no lock file can be had.
#include "platform/named_lock.h"
#include "tests/support/lock_holder_process.h"
#include "tests/support/worker_thread.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace platform;

namespace {

constexpr int kDeadlineMs = 10000;

// A one-shot signal between threads.
class Flag {
public:
    void set()
    {
        {
            std::lock_guard guard(mutex_);
            set_ = true;
        }
        cv_.notify_all();
    }
    bool wait()
    {
        std::unique_lock guard(mutex_);
        return cv_.wait_for(guard, std::chrono::milliseconds(kDeadlineMs), [this] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// The kernel lists a process blocked in flock as a "->" line of /proc/locks. This tells for
// certain that a holder process is waiting for the lock rather than not there yet.
bool blockedInFlock(qint64 pid)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray marker = " " + QByteArray::number(pid) + " ";
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.contains("->") && line.contains("FLOCK") && line.contains(marker))
            return true;
    }
    return false;
}

} // namespace

class TestNamedLock : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void reentrantForHoldingThread();
    void threadsExcludeEachOther();
    void secondProcessWaitsForRelease();
    void killedHolderFreesTheLock();
    void withoutLockFileLocksThreadsOnly();

private:
    QString uniqueName() { return QStringLiteral("TestLock%1").arg(++names); }

    QTemporaryDir runtime;
    int names = 0;
};

void TestNamedLock::initTestCase()
{
    // A private runtime folder of the test's own, shared with the holder processes it starts.
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
}

void TestNamedLock::reentrantForHoldingThread()
{
    const QString name = uniqueName();
    NamedLock lock(name);
    NamedLock sameName(name);  // a second object of the same name is the same lock

    auto otherThreadGetsIt = [&] {
        bool got = false;
        WorkerThread([&] {
            got = lock.tryLock();
            if (got)
                lock.unlock();
        });
        return got;
    };

    QVERIFY(!lock.isHeldByCurrentThread());
    lock.lock();
    QVERIFY(lock.tryLock());
    sameName.lock();  // would deadlock if the second object were a lock of its own
    QVERIFY(sameName.isHeldByCurrentThread());

    // Another thread's unlock is ignored.
    WorkerThread([&] { lock.unlock(); });
    for (int held = 3; held > 1; --held) {
        QVERIFY(!otherThreadGetsIt());
        lock.unlock();
    }
    QVERIFY(!otherThreadGetsIt());
    QVERIFY(lock.isHeldByCurrentThread());
    sameName.unlock();
    QVERIFY(!lock.isHeldByCurrentThread());
    QVERIFY(otherThreadGetsIt());

    // Unlocks beyond the takes are ignored and do not stand in for a later one.
    lock.unlock();
    lock.lock();
    QVERIFY(!otherThreadGetsIt());
    lock.unlock();
    QVERIFY(otherThreadGetsIt());
}

void TestNamedLock::threadsExcludeEachOther()
{
    NamedLock lock(uniqueName());

    // A waiting thread gets the lock once the holder lets go, and then keeps others out.
    lock.lock();
    Flag waiting, release;
    std::atomic<bool> acquired{false};
    {
        WorkerThread waiter([&] {
            waiting.set();
            lock.lock();
            acquired = true;
            release.wait();
            lock.unlock();
        });
        QVERIFY(waiting.wait());
        QVERIFY(!acquired);
        lock.unlock();
        QTRY_VERIFY_WITH_TIMEOUT(acquired.load(), kDeadlineMs);
        QVERIFY(!lock.tryLock());
        release.set();
    }
    QVERIFY(lock.tryLock());
    lock.unlock();

    // Threads taking it in turn never hold it together (a plain counter stays exact).
    constexpr int kThreads = 4, kRounds = 400;
    int counter = 0;
    std::atomic<int> inside{0}, overlaps{0};
    {
        std::vector<std::unique_ptr<WorkerThread>> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.push_back(std::make_unique<WorkerThread>([&, t] {
                for (int i = 0; i < kRounds; ++i) {
                    const bool blocking = (i + t) % 2 == 0;
                    if (!blocking && !lock.tryLock())
                        continue;
                    if (blocking)
                        lock.lock();
                    if (++inside != 1)
                        ++overlaps;
                    ++counter;
                    --inside;
                    lock.unlock();
                }
            }));
        }
    }
    QCOMPARE(overlaps.load(), 0);
    QVERIFY(counter >= kThreads * kRounds / 2);
}

void TestNamedLock::secondProcessWaitsForRelease()
{
    const QString name = uniqueName();
    NamedLock ours(name);

    Holder first, second;
    QVERIFY(first.start(name));
    QVERIFY(first.waitForLine("locked"));
    QVERIFY(!ours.tryLock());  // another process holds it

    QVERIFY(second.start(name));
    QVERIFY(second.waitForLine("waiting"));
    QTRY_VERIFY_WITH_TIMEOUT(blockedInFlock(second.pid()), kDeadlineMs);

    first.writeLine();
    QVERIFY(first.waitForLine("released"));
    QVERIFY(second.waitForLine("locked"));
    QVERIFY(!ours.tryLock());

    second.writeLine();
    QVERIFY(second.waitForLine("released"));
    QVERIFY(first.waitForExit());
    QVERIFY(second.waitForExit());

    // And the other way round: a process waits while this one holds it.
    QVERIFY(ours.tryLock());
    Holder third;
    QVERIFY(third.start(name));
    QVERIFY(third.waitForLine("waiting"));
    QTRY_VERIFY_WITH_TIMEOUT(blockedInFlock(third.pid()), kDeadlineMs);
    ours.unlock();
    QVERIFY(third.waitForLine("locked"));
    third.closeInput();  // end of input releases too
    QVERIFY(third.waitForLine("released"));
    QVERIFY(third.waitForExit());
}

void TestNamedLock::killedHolderFreesTheLock()
{
    const QString name = uniqueName();
    Holder holder, waiter;
    QVERIFY(holder.start(name));
    QVERIFY(holder.waitForLine("locked"));
    QVERIFY(waiter.start(name));
    QVERIFY(waiter.waitForLine("waiting"));
    QTRY_VERIFY_WITH_TIMEOUT(blockedInFlock(waiter.pid()), kDeadlineMs);

    holder.kill();  // SIGKILL: no chance to unlock
    QVERIFY(holder.waitForExit());
    QVERIFY(waiter.waitForLine("locked"));

    NamedLock ours(name);
    QVERIFY(!ours.tryLock());
    waiter.writeLine();
    QVERIFY(waiter.waitForLine("released"));
    QVERIFY(waiter.waitForExit());
    QVERIFY(ours.tryLock());
    ours.unlock();
}

void TestNamedLock::withoutLockFileLocksThreadsOnly()
{
    // A folder standing where the lock file belongs: the file cannot be opened.
    QVERIFY(QDir(runtime.path()).mkdir(QStringLiteral("Blocked.lock")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Blocked.*only this process")));
    NamedLock lock(QStringLiteral("Blocked"));
    NamedLock again(QStringLiteral("Blocked"));  // the same lock: warned once only

    lock.lock();
    again.lock();
    bool otherGotIt = true;
    WorkerThread([&] { otherGotIt = lock.tryLock(); });
    QVERIFY(!otherGotIt);
    lock.unlock();
    again.unlock();
    WorkerThread([&] {
        otherGotIt = lock.tryLock();
        lock.unlock();
    });
    QVERIFY(otherGotIt);
}

QTEST_GUILESS_MAIN(TestNamedLock)
#include "tst_named_lock.moc"
