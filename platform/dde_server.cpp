#include "platform/dde_server.h"

#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_server_p.h"
#include "platform/runtime_dir.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// How long a probe of an existing socket may take before the service counts as unreachable.
constexpr int kProbeMs = 1000;

} // namespace

DdeServer::DdeServer(QObject *parent) : QObject(parent), d(new Private(this)) {}

DdeServer::~DdeServer()
{
    close();
    // Topics delete their items and unhook themselves from d as they go.
    while (!d->topics.isEmpty())
        delete d->topics.last();
    delete d;
}

bool DdeServer::Private::fail(const QString &text)
{
    error = text;
    return false;
}

bool DdeServer::listen(const QString &service)
{
    close();
    if (!isValidDdeName(service))
        return d->fail(tr("Invalid DDE service name \"%1\"").arg(service));
    const QString socketPath = ddeSocketPath(service);
    const QString lockPath = ddeLockPath(service);
    if (socketPath.isEmpty())
        return d->fail(tr("Cannot serve DDE service \"%1\": %2").arg(service, runtimeDirProblem()));

    // The lock is held for as long as we serve: two servers starting at once cannot both take
    // the service, and a dead server's lock goes with its process.
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return d->fail(tr("Cannot open %1: %2").arg(lockPath, QString::fromLocal8Bit(strerror(errno))));
    auto alreadyServed = [&] {
        ::close(fd);
        return d->fail(tr("DDE service \"%1\" is already served by another process").arg(service));
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return alreadyServed();

    // A socket that is still there may belong to a live server that does not take the lock, or
    // be left behind by one that died: ask it first, and remove it only when nobody answers.
    struct stat st {};
    if (::lstat(QFile::encodeName(socketPath).constData(), &st) == 0) {
        QLocalSocket probe;
        probe.connectToServer(socketPath);
        if (probe.waitForConnected(kProbeMs)) {
            probe.abort();
            return alreadyServed();
        }
        if (probe.error() != QLocalSocket::ConnectionRefusedError) {
            ::close(fd);
            return d->fail(tr("Cannot take over %1: %2").arg(socketPath, probe.errorString()));
        }
        QFile::remove(socketPath);
    }

    d->listener = new DdeListener([this](int connection) { d->accept(connection); }, this);
    QString why;
    if (!d->listener->listen(socketPath, &why)) {
        delete d->listener;
        d->listener = nullptr;
        ::close(fd);
        return d->fail(tr("Cannot serve DDE service \"%1\": %2").arg(service, why));
    }
    d->lockFd = fd;
    d->service = service;
    d->socketPath = socketPath;
    d->error.clear();
    return true;
}

void DdeServer::close()
{
    while (!d->convs.isEmpty())
        d->convs.last()->end(tr("The DDE server closed"));
    if (d->listener) {
        delete d->listener;  // removes the socket, still ours: we hold the lock
        d->listener = nullptr;
    }
    if (d->lockFd >= 0) {
        ::close(d->lockFd);
        d->lockFd = -1;
    }
    d->service.clear();
    d->socketPath.clear();
}

bool DdeServer::isListening() const
{
    return d->listener != nullptr;
}

QString DdeServer::service() const
{
    return d->service;
}

QString DdeServer::errorString() const
{
    return d->error;
}

DdeTopic *DdeServer::createTopic(const QString &name)
{
    if (!isValidDdeName(name)) {
        d->fail(tr("Invalid DDE topic name \"%1\"").arg(name));
        return nullptr;
    }
    if (d->topicByKey.contains(ddeNameKey(name))) {
        d->fail(tr("DDE topic \"%1\" exists already").arg(name));
        return nullptr;
    }
    return new DdeTopic(this, name);
}

DdeTopic *DdeServer::topic(const QString &name) const
{
    return d->topicByKey.value(ddeNameKey(name));
}

QList<DdeTopic *> DdeServer::topics() const
{
    return d->topics;
}

int DdeServer::conversationCount() const
{
    return int(d->convs.size());
}

void DdeServer::Private::accept(int fd)
{
    if (convs.size() >= kMaxConversations) {
        dde::Message bye;
        bye.verb = dde::Verb::Bye;
        bye.text = toCp1251(tr("The DDE server holds %1 conversations already").arg(kMaxConversations));
        DdeListener::refuse(fd, dde::formatLine(bye));
        return;
    }
    auto *socket = new QLocalSocket(q);
    if (!socket->setSocketDescriptor(fd)) {
        ::close(fd);
        delete socket;
        return;
    }
    convs.append(new DdeServerConv(q, socket));
}

void DdeServer::Private::removeConv(DdeServerConv *conv)
{
    convs.removeOne(conv);
    dirty.removeOne(conv);
}

void DdeServer::Private::scheduleFlush(DdeServerConv *conv)
{
    if (!conv->dirty) {
        conv->dirty = true;
        dirty.append(conv);
    }
    if (!flushScheduled) {
        flushScheduled = true;
        QMetaObject::invokeMethod(q, [this] { flushAll(); }, Qt::QueuedConnection);
    }
}

void DdeServer::Private::flushAll()
{
    flushScheduled = false;
    const QList<DdeServerConv *> batch = std::exchange(dirty, {});
    for (DdeServerConv *conv : batch) {
        conv->dirty = false;
        conv->flush();
    }
}

} // namespace platform
