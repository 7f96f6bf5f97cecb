#pragma once
// The client side of our DDE stand-in: one conversation with one topic of a service
// (dde_protocol.h has the line protocol, dde_server.h the server).
//
//   DdeClient manage;
//   connect(&manage, &DdeClient::itemChanged, this, &TMain::ManagementItemChange);
//   if (manage.connectToProgram(DdeService, DdeTopic) && manage.advise(DdeItem)) ...
//
// - Used on the thread that created it; signals come on that thread.
// - Calls that need the server's answer (connecting, advise, unadvise, request, poke) wait for it
//   for at most timeout() milliseconds, running a local event loop meanwhile, as a DDE client's
//   synchronous transactions do. The server may therefore live on the same thread. Change
//   notifications that arrive during such a wait are held back and delivered, in order, after it;
//   when thousands pile up, only the newest of each item is kept.
// - What a server can make the client hold is bounded: answers to no call of ours and changes of
//   items we have no link on are dropped at once.
// - Do not delete the client from within its own signals; use deleteLater().
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

class DdeClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 3000;

    explicit DdeClient(QObject *parent = nullptr);
    ~DdeClient() override;

    // Opens the conversation with the topic of the service, ending any earlier one. False, with
    // errorString(), when the service does not run, does not know the topic, or does not answer.
    bool connectTo(const QString &service, const QString &topic);
    // As connectTo(), trying again as the service comes up, for at most waitMs.
    bool connectWithin(const QString &service, const QString &topic, int waitMs);
    // The link to a program that serves the topic: connects to the service that the program's
    // path names (ddeServiceName); when that fails, starts the program (ddeProgramToStart) and
    // waits up to waitMs for it to serve, since a program just started needs a moment.
    bool connectToProgram(const QString &programPath, const QString &topic, int waitMs = 5000);
    // Ends the conversation. disconnected() is not emitted for this.
    void disconnectFromServer();

    bool isConnected() const;
    QString service() const;
    QString topic() const;
    QString errorString() const;
    int timeout() const;
    void setTimeout(int ms);

    // Takes a hot link on the item: itemChanged() brings its text at once when the item exists,
    // and on every later set. The link is taken also while the service has no such item yet.
    bool advise(const QString &item);
    bool unadvise(const QString &item);
    // The item's current text; nothing (with errorString()) when it is unknown or no answer came.
    std::optional<QString> request(const QString &item);
    // Asks the server to set the item's text; refused unless the item accepts pokes.
    bool poke(const QString &item, const QString &text);

    // Starts a program without waiting for it. False, with the reason in *error, when it cannot
    // be started.
    static bool startProgram(const QString &program, QString *error = nullptr);

signals:
    // A hot-linked item changed; `item` is spelt as advise() was given it.
    void itemChanged(const QString &item, const QString &text);
    // A hot-linked item was removed or renamed by the server; the link stays.
    void itemGone(const QString &item);
    // The conversation ended from the server's side (the server closed, went away, dropped the
    // topic or refused what we sent).
    void disconnected(const QString &reason);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
