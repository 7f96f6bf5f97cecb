#pragma once
// The server side of our DDE stand-in: a service with topics (server conversations) and items of
// text, served over a Unix-domain socket (dde_protocol.h has the line protocol).
//
//   DdeServer server;                       // on the window thread
//   DdeTopic *topic = server.createTopic("ORVANT");
//   DdeItem *status = topic->createItem("TAGPUMPSTATUS", "0");
//   server.listen(ddeServiceName(QCoreApplication::applicationFilePath()));
//   status->setText("1");                   // every hot link hears of it at once
//
// - Every object is used on the thread that created the server; nothing blocks.
// - Topics and items may be created, renamed and deleted at any time, before or after listen().
//   Names are unique per server (topics) and per topic (items), 1 to 255 characters without
//   control characters, and match without regard to letter case.
// - A client's conversation stays with its topic object when the topic is renamed; only new
//   conversations use the new name. Deleting a topic ends its conversations.
// - Hot links are held on item names: a client may link to a name before such an item exists.
//   When the item is created (or renamed to that name) its text goes out to the link; when it is
//   deleted or renamed away the link hears GONE and waits for the name to come back. So clients
//   keep their links while the driver rebuilds its sensor items.
// - Items refuse pokes unless setAcceptsPokes(true). The driver's items carry readings that only
//   the driver sets: a poke that changed one would hand every other client a value no instrument
//   gave. An item that accepts pokes takes the poked text as if setText() had been called (hot
//   links hear of it) and emits poked().
// - A slow, stalled or vanished client never holds up the server or the other clients: what the
//   server owes each client is bounded; while a client keeps up it hears every change in order,
//   once it falls behind it gets only the newest text of each item it is owed. A malformed or
//   over-long line ends that client's conversation only.
// - Limits, so that no client can take the server's memory or crowd the others out: at most
//   kMaxConversations conversations (one more is told BYE), kMaxLinks hot links in one
//   conversation (one more is refused with ERR; the conversation goes on), and a connection
//   that sends no HELLO within kHelloTimeoutMs is told BYE. The socket outlives a shortage of
//   file descriptors: a client that cannot be taken then is told BYE, later clients are served.
// - Changes made during one turn of the event loop go out to each client in one write.
// - Do not delete the server, a topic or an item from within a slot connected to poked(); use
//   deleteLater().
#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;

namespace platform {

class DdeTopic;
class DdeItem;
class DdeServerConv;

class DdeServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConversations = 256;
    static constexpr int kMaxLinks = 2048;  // per conversation: a driver's 1000 channels and more
    static constexpr int kHelloTimeoutMs = 5000;

    explicit DdeServer(QObject *parent = nullptr);
    ~DdeServer() override;  // ends every conversation and removes the socket

    // Serves the service. False, with errorString(), when the name is invalid, the runtime folder
    // cannot be had, another live server holds the service, or the socket cannot be made. A
    // socket left behind by a dead server is replaced.
    bool listen(const QString &service);
    void close();  // ends every conversation; topics and items stay
    bool isListening() const;
    QString service() const;
    QString errorString() const;

    // A new topic; nullptr (with errorString()) when the name is invalid or already a topic.
    DdeTopic *createTopic(const QString &name);
    DdeTopic *topic(const QString &name) const;
    QList<DdeTopic *> topics() const;

    int conversationCount() const;

private:
    friend class DdeTopic;
    friend class DdeItem;
    friend class DdeServerConv;
    struct Private;
    Private *d;
};

class DdeTopic : public QObject {
    Q_OBJECT
public:
    ~DdeTopic() override;  // ends the topic's conversations and deletes its items

    DdeServer *server() const;
    QString name() const;
    // False when the name is invalid or another topic bears it; the name then stays.
    bool setName(const QString &name);

    // A new item with its text; nullptr when the name is invalid or taken, or the text too long.
    DdeItem *createItem(const QString &name, const QString &text = QString());
    DdeItem *item(const QString &name) const;
    QList<DdeItem *> items() const;

private:
    friend class DdeServer;
    friend class DdeItem;
    friend class DdeServerConv;
    DdeTopic(DdeServer *server, const QString &name);
    struct Private;
    Private *d;
};

class DdeItem : public QObject {
    Q_OBJECT
public:
    ~DdeItem() override;  // hot links on it hear GONE

    DdeTopic *topic() const;
    QString name() const;
    // False when the name is invalid or another item of the topic bears it; the name then stays.
    bool setName(const QString &name);

    QString text() const;
    // Sets the text and notifies every hot link at once (also when the text is unchanged). False,
    // and nothing changes, for a text longer than 16384 characters. Characters that Windows-1251
    // cannot hold travel as "?".
    bool setText(const QString &text);

    bool acceptsPokes() const;
    void setAcceptsPokes(bool accepts);

signals:
    // A client poked the item, whose text is now `text`.
    void poked(const QString &text);

private:
    friend class DdeTopic;
    friend class DdeServer;
    friend class DdeServerConv;
    DdeItem(DdeTopic *topic, const QString &name, const QString &text);
    struct Private;
    Private *d;
};

} // namespace platform
