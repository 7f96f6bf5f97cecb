#include "platform/named_lock.h"

#include "platform/runtime_dir.h"

#include <QFile>
#include <QHash>
#include <QtGlobal>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// The state of one name within this process. Every NamedLock of the same name shares it, so
// that, as with two handles of one Windows mutex, the holding thread may take it again through
// any of them. The in-process part decides which thread holds it; the lock file's flock, taken
// once when the count goes from 0 to 1, keeps the other processes out.
struct SharedLock {
    explicit SharedLock(const QString &n) : name(n) { fd = openLockFile(); }
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
    int fd = -1;  // the lock file, or -1 when only this process's threads are kept out
    bool warned = false;

    // Falls back to locking within this process only, saying so once.
    void warn(const QString &why)
    {
        if (warned)
            return;
        warned = true;
        qWarning("Named lock \"%s\" keeps out only this process's threads: %s", qUtf8Printable(name),
                 qUtf8Printable(why));
    }

    void giveUpFile(const char *call, int error)
    {
        warn(QStringLiteral("%1 failed: %2").arg(QLatin1String(call), QString::fromLocal8Bit(std::strerror(error))));
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    int openLockFile()
    {
        if (name.isEmpty())
            return -1;  // an unnamed lock is private to the process
        const QString folder = runtimeDir();
        if (folder.isEmpty()) {
            warn(QStringLiteral("no private runtime folder"));
            return -1;
        }
        QString fileName = name;
        fileName.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
        const QString path = folder + QLatin1Char('/') + fileName + QStringLiteral(".lock");
        const QByteArray native = QFile::encodeName(path);
        int opened;
        do {
            opened = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        } while (opened < 0 && errno == EINTR);
        if (opened < 0)
            warn(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return opened;
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

int flockRetrying(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
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
    const int fd = s.fd;
    if (fd < 0)
        return;
    // Wait for the other processes outside the mutex, so this process's other threads can
    // still ask (and be refused) meanwhile. Only the owner touches the file until it unlocks.
    guard.unlock();
    if (flockRetrying(fd, LOCK_EX) != 0) {
        const int error = errno;
        guard.lock();
        s.giveUpFile("flock", error);
    }
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
    if (s.fd >= 0 && flockRetrying(s.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        s.giveUpFile("flock", errno);
    }
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
        if (s.fd >= 0)
            flockRetrying(s.fd, LOCK_UN);
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
