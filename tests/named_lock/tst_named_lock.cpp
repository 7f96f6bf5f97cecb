// The named lock: re-entrant for its thread, exclusive between threads and between processes,
// freed when its holder process dies, and exclusive still when its runtime folder is wiped or
// squatted.
#include "platform/dde_server.h"
#include "platform/named_lock.h"
#include "platform/runtime_dir.h"
#include "tests/support/lock_holder_process.h"
#include "tests/support/worker_thread.h"

#include <QDeadlineTimer>
#include <QCryptographicHash>
#include <QDir>
#include <QScopeGuard>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
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


// This process is kept out while the holder holds the lock, and gets it once it has let go.
void expectKeptOutUntilReleased(Holder &holder, const QString &name)
{
    NamedLock ours(name);
    QVERIFY(!ours.tryLock());
    holder.writeLine();
    QVERIFY(holder.waitForLine("released"));
    QVERIFY(holder.waitForExit());
    QVERIFY(ours.tryLock());
    ours.unlock();
}

// A holder that has printed "waiting" is blocked in poll once it waits for the lock, rather
// than not there yet: /proc tells the system call a process sleeps in.
bool blockedWaiting(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/syscall").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const long call = file.readAll().split(' ').value(0).toLong();
#ifdef SYS_poll
    if (call == SYS_poll)
        return true;
#endif
    return call == SYS_ppoll;
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
    void wipedRuntimeFolderKeepsItExclusive();
    void squattedFallbackFolderKeepsItExclusive();
    void nameHeldByAnotherUserIsNotWaitedFor();

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
    QTRY_VERIFY_WITH_TIMEOUT(blockedWaiting(second.pid()), kDeadlineMs);

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
    QTRY_VERIFY_WITH_TIMEOUT(blockedWaiting(third.pid()), kDeadlineMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(blockedWaiting(waiter.pid()), kDeadlineMs);

    holder.kill();  // SIGKILL: no chance to unlock
    QVERIFY(holder.waitForExit());
    QVERIFY(waiter.waitForLine("locked"));

    expectKeptOutUntilReleased(waiter, name);
}

// A cleaner of temporary files removes everything in the runtime folder while a process holds
// the lock: it stays held.
void TestNamedLock::wipedRuntimeFolderKeepsItExclusive()
{
    const QString name = uniqueName();
    Holder holder;
    QVERIFY(holder.start(name));
    QVERIFY(holder.waitForLine("locked"));
    QDir folder(runtime.path());
    for (const QString &entry : folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        QVERIFY(QFile::remove(folder.filePath(entry)) || QDir(folder.filePath(entry)).removeRecursively());

    expectKeptOutUntilReleased(holder, name);
}

// Without XDG_RUNTIME_DIR the fallback folder has a name anybody can guess; made first by
// someone else (here: open to everybody, or another user's when the test runs as root), it is
// refused with its name, and the lock still keeps other processes out.
void TestNamedLock::squattedFallbackFolderKeepsItExclusive()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTemp);
    });
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QString squatted = temp.path() + QStringLiteral("/vks74xx-runtime-%1").arg(getuid());
    QVERIFY(QDir().mkdir(squatted));
    QVERIFY(::chmod(QFile::encodeName(squatted).constData(), 0777) == 0);
    if (geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(squatted).constData(), 65534, 65534), 0);

    QCOMPARE(runtimeDir(), QString());
    QVERIFY2(runtimeDirProblem().contains(squatted), qPrintable(runtimeDirProblem()));
    DdeServer server;
    QVERIFY(!server.listen(QStringLiteral("squatted")));
    QVERIFY2(server.errorString().contains(squatted), qPrintable(server.errorString()));

    const QString name = uniqueName();
    Holder holder;
    QVERIFY(holder.start(name));
    QVERIFY(holder.waitForLine("locked"));
    expectKeptOutUntilReleased(holder, name);
}

// Lock names are public: another user's process may bind ours first. lock() must not wait for
// it for ever; it keeps out this process's threads and says whose the name is.
void TestNamedLock::nameHeldByAnotherUserIsNotWaitedFor()
{
    if (geteuid() != 0)
        QSKIP("needs root to run a process as another user");
    const QString name = uniqueName();
    const QByteArray session = QCryptographicHash::hash(qgetenv("XDG_RUNTIME_DIR"), QCryptographicHash::Sha1).toHex().left(16);
    const QByteArray text = "vks74xx-lock-" + QByteArray::number(getuid()) + '-' + session + '-' + name.toUtf8();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, text.constData(), size_t(text.size()));
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(text.size()));

    int ready[2], hold[2];
    QCOMPARE(::pipe(ready), 0);
    QCOMPARE(::pipe(hold), 0);
    const pid_t squatter = ::fork();
    QVERIFY(squatter >= 0);
    if (squatter == 0) {
        ::close(hold[1]);
        ::close(ready[0]);
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0
            && ::bind(s, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(s, 4) == 0;
        (void)!::write(ready[1], ok ? "y" : "n", 1);
        char c;
        (void)!::read(hold[0], &c, 1);  // until the test closes its end
        ::_exit(0);
    }
    ::close(hold[0]);
    ::close(ready[1]);
    char answer = 0;
    (void)!::read(ready[0], &answer, 1);
    ::close(ready[0]);
    const auto cleanup = qScopeGuard([&] {
        ::close(hold[1]);
        ::waitpid(squatter, nullptr, 0);
    });
    if (answer != 'y')
        QSKIP("root here cannot become the user nobody (setuid refused, as in some containers)");

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("only this process's threads.*user 65534")));
    NamedLock lock(name);
    lock.lock();  // returns: the other user's name is not waited for
    bool otherThreadGotIt = true;
    WorkerThread([&] { otherThreadGotIt = lock.tryLock(); });
    QVERIFY(!otherThreadGotIt);
    lock.unlock();
}

QTEST_GUILESS_MAIN(TestNamedLock)
#include "tst_named_lock.moc"
