#include "platform/named_lock.h"

#include <QCryptographicHash>
#include <QHash>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <atomic>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

enum class Take { Taken, Held, Failed };

// The abstract socket address of a name: "\0vks74xx-lock-<uid>-<session>-<name>", the name cut
// to fit. The session is the user's runtime folder as the environment names it (hashed), so
// that the lock is shared by the processes of one login session, as a lock file in that folder
// was, and separate sessions (and tests, each with a folder of its own) do not meet.
std::pair<sockaddr_un, socklen_t> lockAddress(const QString &name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray session =
        QCryptographicHash::hash(qgetenv("XDG_RUNTIME_DIR"), QCryptographicHash::Sha1).toHex().left(16);
    const QByteArray text = "vks74xx-lock-" + QByteArray::number(getuid()) + '-' + session + '-' + name.toUtf8();
    const size_t size = std::min(size_t(text.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, text.constData(), size);
    return {address, socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size)};
}

// The state of one name within this process. Every NamedLock of the same name shares it, so
// that, as with two handles of one Windows mutex, the holding thread may take it again through
// any of them. The in-process part decides which thread holds it; the bound socket, taken once
// when the count goes from 0 to 1, keeps the other processes out.
struct SharedLock {
    explicit SharedLock(const QString &n) : name(n) {}
    ~SharedLock()
    {
        if (fd >= 0)
            ::close(fd);
    }

    const QString name;
    std::mutex mutex;  // guards everything below
    std::condition_variable released;
    std::thread::id owner;
    int count = 0;
    int fd = -1;             // the bound socket while this process holds the lock
    bool threadsOnly = false;  // the name cannot be had: only this process's threads are kept out
    std::atomic<bool> waitingForProcess{false};  // a thread waits for another process's hold

    // Falls back to locking within this process only, saying so once.
    void warn(const QString &why)
    {
        if (threadsOnly)
            return;
        threadsOnly = true;
        qWarning("Named lock \"%s\" keeps out only this process's threads: %s", qUtf8Printable(name),
                 qUtf8Printable(why));
    }

    // Binds the name: Taken, Held (by another process of ours), or Failed (warned).
    Take tryTake()
    {
        if (name.isEmpty() || threadsOnly)
            return Take::Taken;  // an unnamed lock is private to the process
        const auto [address, size] = lockAddress(name);
        const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0) {
            warn(QStringLiteral("socket failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return Take::Failed;
        }
        if (::bind(s, reinterpret_cast<const sockaddr *>(&address), size) == 0 && ::listen(s, 64) == 0) {
            fd = s;
            return Take::Taken;
        }
        const int error = errno;
        ::close(s);
        if (error == EADDRINUSE)
            return Take::Held;
        warn(QStringLiteral("bind failed: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
        return Take::Failed;
    }

    // Waits until the process holding the name lets go of it (or may have). False, warned, when
    // the holder is another user's.
    bool waitForHolder()
    {
        const auto [address, size] = lockAddress(name);
        const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0)
            return true;  // try the name again
        int rc;
        do {
            rc = ::connect(s, reinterpret_cast<const sockaddr *>(&address), size);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {  // gone already (or its queue is full): try the name again
            ::close(s);
            return true;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(s, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid != getuid()) {
            ::close(s);
            std::lock_guard guard(mutex);
            warn(QStringLiteral("its name is held by a process of user %1").arg(peer.uid));
            return false;
        }
        // The holder never accepts: the kernel hangs this connection up when its socket closes.
        pollfd p{s, POLLIN | POLLRDHUP, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        ::close(s);
        return true;
    }

    void give()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

std::shared_ptr<SharedLock> sharedLock(const QString &name)
{
    static std::mutex tableMutex;
    static QHash<QString, std::weak_ptr<SharedLock>> table;
    std::lock_guard guard(tableMutex);
    std::weak_ptr<SharedLock> &slot = table[name];
    if (auto existing = slot.lock())
        return existing;
    auto created = std::make_shared<SharedLock>(name);
    slot = created;
    return created;
}

} // namespace

struct NamedLock::Private {
    std::shared_ptr<SharedLock> shared;
};

NamedLock::NamedLock(const QString &name) : d(new Private{sharedLock(name)}) {}

NamedLock::~NamedLock()
{
    delete d;
}

void NamedLock::lock()
{
    SharedLock &s = *d->shared;
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(s.mutex);
    if (s.count > 0 && s.owner == self) {
        ++s.count;
        return;
    }
    s.released.wait(guard, [&] { return s.count == 0; });
    s.owner = self;
    s.count = 1;
    // Wait for the other processes outside the mutex, so this process's other threads can
    // still ask (and be refused) meanwhile. Only the owner takes or gives the name.
    while (s.tryTake() == Take::Held) {
        guard.unlock();
        s.waitingForProcess = true;
        const bool waited = s.waitForHolder();
        s.waitingForProcess = false;
        guard.lock();
        if (!waited)
            break;
    }
}

bool NamedLock::waitsForAnotherProcess() const
{
    return d->shared->waitingForProcess;
}

bool NamedLock::tryLock()
{
    SharedLock &s = *d->shared;
    const auto self = std::this_thread::get_id();
    std::lock_guard guard(s.mutex);
    if (s.count > 0) {
        if (s.owner != self)
            return false;
        ++s.count;
        return true;
    }
    if (s.tryTake() == Take::Held)
        return false;
    s.owner = self;
    s.count = 1;
    return true;
}

void NamedLock::unlock()
{
    SharedLock &s = *d->shared;
    {
        std::lock_guard guard(s.mutex);
        if (s.count == 0 || s.owner != std::this_thread::get_id())
            return;
        if (--s.count > 0)
            return;
        s.give();
        s.owner = std::thread::id();
    }
    s.released.notify_one();
}

bool NamedLock::isHeldByCurrentThread() const
{
    SharedLock &s = *d->shared;
    std::lock_guard guard(s.mutex);
    return s.count > 0 && s.owner == std::this_thread::get_id();
}

} // namespace platform
