#pragma once
// Insides of the DDE server shared by its source files (dde_server.cpp, dde_topic.cpp,
// dde_server_conv.cpp). Not for use outside the platform library.
#include "platform/dde_listener.h"
#include "platform/dde_protocol.h"
#include "platform/dde_server.h"

#include <QHash>
#include <QSet>

#include <deque>

class QLocalSocket;

namespace platform {

// One client connection: its topic, its hot links and what the server owes it.
//
// While the client keeps up, every change and GONE notice goes into `out` in order and leaves in
// one write per event-loop turn. Once the bytes waiting for the client pass kHighWater the
// conversation is backlogged: further changes only mark their item as owed and GONE notices
// their name (once per item or name, in the order first owed; a GONE takes the place of the
// item's owed change), and when the client has read the queue down to kLowWater the item's
// newest text, or GONE, is written. Replies are never coalesced; a client that stops reading
// its replies stops being read, so what it is owed stays bounded by its hot links.
class DdeServerConv : public QObject {
public:
    static constexpr qsizetype kHighWater = 64 * 1024;
    static constexpr qsizetype kLowWater = 16 * 1024;

    DdeServerConv(DdeServer *server, QLocalSocket *socket);

    void push(DdeItem *item);              // owes the client the item's current text
    void pushGone(DdeItem *item);          // owes the client the news that the item went
    void send(const dde::Message &message);
    void forget(const QString &key, DdeItem *item);  // the name (and its item) no longer linked
    void flush();                          // one write of what is owed
    void end(const QString &reason);       // BYE when a reason is given, then close

    DdeTopic *topic = nullptr;
    QSet<QString> links;  // keys of hot-linked item names
    bool dirty = false;   // in the server's list of conversations to flush

private:
    qsizetype waiting() const;
    bool queue(const QByteArray &line);  // false: backlogged, the line must be owed
    void dropOwed(DdeItem *item);
    void readInput();
    void resumeInputIfDrained();
    void handle(const dde::Message &message);
    DdeItem *findItem(const dde::Message &message);

    DdeServer *server_;
    QLocalSocket *socket_;
    dde::LineBuffer in_;
    QByteArray out_;
    struct Owed {
        DdeItem *item;   // its newest text is owed; nullptr for a GONE
        QString key;     // of a GONE: the name key
    };
    std::deque<Owed> backlog_;             // in the order first owed
    QSet<DdeItem *> owedItems_;
    QHash<QString, QByteArray> owedGone_;  // name key -> the name as the server spells it
    bool backlogged_ = false;
    bool inputPaused_ = false;
    bool ended_ = false;
};

struct DdeServer::Private {
    explicit Private(DdeServer *server) : q(server) {}
    void scheduleFlush(DdeServerConv *conv);
    void flushAll();
    void accept(int fd);
    void removeConv(DdeServerConv *conv);
    bool fail(const QString &text);

    DdeServer *q;
    DdeListener *listener = nullptr;
    int lockFd = -1;
    QString service;
    QString socketPath;
    QString error;
    QList<DdeTopic *> topics;
    QHash<QString, DdeTopic *> topicByKey;
    QList<DdeServerConv *> convs;
    QList<DdeServerConv *> dirty;
    bool flushScheduled = false;
};

struct DdeTopic::Private {
    void link(DdeServerConv *conv, const QString &key);
    void unlink(DdeServerConv *conv, const QString &key);
    void attach(DdeItem *item);  // the item's name is taken: links waiting on it get its text
    void detach(DdeItem *item);  // the item's name is given up: its links hear GONE and wait
    void removeConv(DdeServerConv *conv);

    DdeServer *server = nullptr;
    QString name;
    QString key;
    QList<DdeItem *> items;
    QHash<QString, DdeItem *> itemByKey;
    QHash<QString, QList<DdeServerConv *>> waitingLinks;  // links on names that no item bears
    QList<DdeServerConv *> convs;
};

struct DdeItem::Private {
    void setName(const QString &newName);
    void rebuildLine();

    DdeTopic *topic = nullptr;
    QString name;
    QString key;
    QString text;
    QByteArray rawName;  // Windows-1251
    QByteArray rawText;
    QByteArray line;     // the UPD line of the current text
    QList<DdeServerConv *> links;
    bool acceptsPokes = false;
};

} // namespace platform
