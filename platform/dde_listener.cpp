// The DDE server's listening socket, kept through a shortage of file descriptors.
#include "platform/dde_listener.h"

#include "platform/dde_protocol.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// How long accepting pauses when not even the spare descriptor helps.
constexpr int kRetryMs = 100;
constexpr int kBacklog = 128;

int openSpare()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

int acceptOne(int fd)
{
    int connection;
    do {
        connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (connection < 0 && (errno == EINTR || errno == ECONNABORTED));
    return connection;
}

} // namespace

DdeListener::DdeListener(Handler handler, QObject *parent) : QObject(parent), handler_(std::move(handler))
{
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &DdeListener::resume);
}

DdeListener::~DdeListener()
{
    close();
}

bool DdeListener::listen(const QString &path, QString *error)
{
    close();
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(native.size()) >= sizeof address.sun_path) {
        *error = tr("The socket path %1 is too long").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::chmod(native.constData(), 0600) != 0 || ::listen(fd, kBacklog) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    spare_ = openSpare();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { acceptWaiting(); });
    return true;
}

void DdeListener::close()
{
    if (fd_ < 0)
        return;
    delete notifier_;
    notifier_ = nullptr;
    retry_->stop();
    ::close(fd_);
    fd_ = -1;
    if (spare_ >= 0)
        ::close(spare_);
    spare_ = -1;
    QFile::remove(path_);
    path_.clear();
}

void DdeListener::refuse(int fd, const QByteArray &line)
{
    (void)!::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
}

void DdeListener::resume()
{
    // A spare that could not be had back during the shortage is taken as soon as one is free.
    if (spare_ < 0)
        spare_ = openSpare();
    if (notifier_)
        notifier_->setEnabled(true);
    acceptWaiting();
}

void DdeListener::acceptWaiting()
{
    while (fd_ >= 0) {
        const int connection = acceptOne(fd_);
        if (connection >= 0) {
            handler_(connection);
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        if ((errno == EMFILE || errno == ENFILE) && spare_ >= 0) {
            ::close(spare_);
            const int refused = acceptOne(fd_);
            if (refused >= 0) {
                dde::Message bye;
                bye.verb = dde::Verb::Bye;
                bye.text = "The DDE server is out of file descriptors; try again later";
                refuse(refused, dde::formatLine(bye));
            }
            // The refused connection has given its descriptor back: the spare takes it, ready
            // for the next shortage.
            spare_ = openSpare();
            if (refused >= 0)
                continue;
        }
        // No descriptor to be had, or another failure: the client stays queued; try again soon.
        notifier_->setEnabled(false);
        retry_->start(kRetryMs);
        return;
    }
}

} // namespace platform
