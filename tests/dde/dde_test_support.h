#pragma once
// Helpers shared by the DDE tests: a private runtime folder, a recorder of hot-link changes and
// a raw socket that speaks (or misspeaks) the protocol by hand.
#include "platform/dde_client.h"
#include "platform/dde_names.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Every test program gets its own runtime folder (mode 0700), inherited by the processes it starts.
inline bool useOwnRuntimeDir()
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        return false;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    return true;
}

struct Recorder {
    explicit Recorder(platform::DdeClient &client)
    {
        QObject::connect(&client, &platform::DdeClient::itemChanged, &client,
                         [this](const QString &item, const QString &text) { changes.append({item, text}); });
        QObject::connect(&client, &platform::DdeClient::itemGone, &client,
                         [this](const QString &item) { gone.append(item); });
    }
    QList<QPair<QString, QString>> changes;
    QStringList gone;
};

// The socket address of a service.
inline sockaddr_un serviceAddress(const QString &service)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(platform::ddeSocketPath(service));
    std::memcpy(addr.sun_path, path.constData(), std::min(size_t(path.size()), sizeof addr.sun_path - 1));
    return addr;
}

// A blocking Unix-domain socket to a service, outside Qt's event loop: it reads only when told.
class RawSocket {
public:
    explicit RawSocket(const QString &service)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = serviceAddress(service);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~RawSocket() { ::close(fd_); }
    bool connected() const { return connected_; }
    // False once the peer is gone.
    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    // Everything the peer has sent so far, without waiting; `eof` tells whether it has closed.
    QByteArray readAvailable(bool *eof = nullptr)
    {
        QByteArray all;
        char chunk[65536];
        bool closed = false;
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n > 0) {
                all.append(chunk, n);
                continue;
            }
            closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            break;
        }
        if (eof)
            *eof = closed;
        return all;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};
