#pragma once
// The listening socket of the DDE server. It stands in for QLocalServer, which closes and
// unlinks its socket for good when accept fails for lack of file descriptors: this one keeps
// its socket for as long as the program runs. When accept fails so, a spare descriptor kept for
// that moment is freed, the waiting client is taken and told why with a BYE line, and the spare
// is taken again; when even that cannot be done, accepting pauses for a moment and goes on.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace platform {

class DdeListener : public QObject {
public:
    // Gets each new connection, connected and non-blocking; the receiver owns the descriptor.
    using Handler = std::function<void(int fd)>;

    DdeListener(Handler handler, QObject *parent = nullptr);
    ~DdeListener() override;  // closes and removes the socket

    // Binds and listens at path (mode 0600). False with the reason in *error.
    bool listen(const QString &path, QString *error);
    void close();

    // Writes the line to a connection that is not to be served, without waiting, and closes it.
    static void refuse(int fd, const QByteArray &line);

private:
    void acceptWaiting();
    void resume();  // after a pause

    Handler handler_;
    int fd_ = -1;
    int spare_ = -1;
    QString path_;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *retry_ = nullptr;
};

} // namespace platform
