#include "platform/dde_client.h"

#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_protocol.h"
#include "platform/runtime_dir.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QHash>
#include <QSet>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <deque>

namespace platform {

namespace {

// While waiting for a service to come up: the runtime folder is watched for its socket, and an
// attempt is made at least this often in case the watch misses the moment it starts to listen.
constexpr int kRetryMs = 100;
// Held-back notifications beyond one per linked item before they are merged per item.
constexpr std::size_t kMaxNotes = 4096;
// Spellings of item names remembered beyond a few per link before the memory is cleared.
constexpr qsizetype kMaxSpellings = 256;

struct Note {
    enum Kind { Changed, Gone, Ended } kind;
    QString item;
    QString text;
};

} // namespace

struct DdeClient::Private {
    enum class State { Unconnected, Connecting, Connected };

    explicit Private(DdeClient *client) : q(client) {}
    bool open(const QString &service, const QString &topic, int timeoutMs);
    std::optional<dde::Message> call(dde::Message message, int timeoutMs);
    std::optional<dde::Message> call(dde::Verb verb, const QString &item, const QString &text = QString());
    void readInput();
    void take(const dde::Message &message);
    void addNote(Note note);
    void lost(const QString &reason);
    void closeSocket();
    void drop();
    void dispatch();
    void wakeWaiters();
    QString linkedName(const QByteArray &raw);
    bool fail(const QString &text);

    DdeClient *q;
    QLocalSocket *socket = nullptr;
    State state = State::Unconnected;
    QString service;
    QString topic;
    QString error;
    QString byeReason;
    int timeoutMs = kDefaultTimeoutMs;
    dde::LineBuffer in;
    std::uint32_t lastId = 0;
    QHash<std::uint32_t, dde::Message> replies;
    QSet<std::uint32_t> awaited;  // ids of the calls waiting for their answer
    QList<QEventLoop *> waiters;
    int calls = 0;  // synchronous calls in progress
    std::deque<Note> notes;
    bool dispatching = false;
    QHash<QString, QString> links;          // name key -> name as the caller spelt it
    QHash<QByteArray, QString> nameOfRaw;   // server's spelling -> caller's; empty: not linked
};

DdeClient::DdeClient(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

DdeClient::~DdeClient()
{
    if (d->socket) {
        d->socket->disconnect(this);
        delete d->socket;
        d->socket = nullptr;
    }
    d->drop();
}

bool DdeClient::Private::fail(const QString &text)
{
    error = text;
    return false;
}

bool DdeClient::connectTo(const QString &service, const QString &topic)
{
    return d->open(service, topic, d->timeoutMs);
}

bool DdeClient::Private::open(const QString &newService, const QString &newTopic, int waitMs)
{
    drop();
    const QString path = ddeSocketPath(newService);
    if (path.isEmpty())
        return fail(runtimeDirProblem());
    socket = new QLocalSocket(q);
    socket->setReadBufferSize(16 * dde::kMaxLine);  // a server that floods us is read no faster than we parse
    socket->connectToServer(path);
    if (!socket->waitForConnected(waitMs)) {
        const auto why = socket->error();
        const QString text = why == QLocalSocket::ServerNotFoundError || why == QLocalSocket::ConnectionRefusedError
                                 ? tr("DDE service \"%1\" is not running").arg(newService)
                                 : tr("Cannot reach DDE service \"%1\": %2").arg(newService, socket->errorString());
        drop();
        return fail(text);
    }
    QObject::connect(socket, &QLocalSocket::readyRead, q, [this] { readInput(); });
    QObject::connect(socket, &QLocalSocket::disconnected, q, [this] {
        readInput();  // what came before the end, the reason included
        lost(byeReason.isEmpty() ? tr("The DDE server closed the conversation") : byeReason);
    });
    state = State::Connecting;
    service = newService;
    topic = newTopic;

    dde::Message hello{dde::Verb::Hello, 0, toCp1251(newTopic), {}};
    const auto reply = call(hello, waitMs);
    if (!reply || reply->verb != dde::Verb::Ok) {
        const QString why = reply ? fromCp1251(reply->text) : error;
        drop();
        return fail(why);
    }
    state = State::Connected;
    error.clear();
    return true;
}

bool DdeClient::connectWithin(const QString &service, const QString &topic, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    QFileSystemWatcher watcher;
    const QString dir = runtimeDir();
    if (!dir.isEmpty())
        watcher.addPath(dir);
    for (;;) {
        const int left = int(deadline.remainingTime());
        if (d->open(service, topic, std::clamp(left, 1, d->timeoutMs)))
            return true;
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer retry;
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, &QEventLoop::quit);
        retry.start(std::clamp(int(deadline.remainingTime()), 0, kRetryMs));
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) < 0)  // the program is quitting
            return d->fail(tr("The wait for DDE service \"%1\" was given up: the program is quitting").arg(service));
    }
}

bool DdeClient::connectToProgram(const QString &programPath, const QString &topic, int waitMs)
{
    const QString service = ddeServiceName(programPath);
    if (connectTo(service, topic))
        return true;
    QString why;
    if (!startProgram(ddeProgramToStart(programPath), &why))
        return d->fail(d->error + QStringLiteral("; ") + why);
    return connectWithin(service, topic, waitMs);
}

bool DdeClient::startProgram(const QString &program, QString *error)
{
    QProcess process;
    process.setProgram(program);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (error)
        *error = tr("Cannot start %1: %2").arg(program, process.errorString());
    return false;
}

void DdeClient::disconnectFromServer()
{
    d->drop();
}

bool DdeClient::isConnected() const
{
    return d->state == Private::State::Connected;
}

QString DdeClient::service() const
{
    return d->service;
}

QString DdeClient::topic() const
{
    return d->topic;
}

QString DdeClient::errorString() const
{
    return d->error;
}

int DdeClient::timeout() const
{
    return d->timeoutMs;
}

void DdeClient::setTimeout(int ms)
{
    d->timeoutMs = std::max(ms, 1);
}

bool DdeClient::advise(const QString &item)
{
    // Linked before asking: the item's text may come in the same read as the answer.
    const QString key = ddeNameKey(item);
    const bool wasLinked = d->links.contains(key);
    d->links.insert(key, item);
    d->nameOfRaw.clear();
    if (d->call(dde::Verb::Adv, item))
        return true;
    if (!wasLinked) {
        d->links.remove(key);
        d->nameOfRaw.clear();
    }
    return false;
}

bool DdeClient::unadvise(const QString &item)
{
    d->links.remove(ddeNameKey(item));
    d->nameOfRaw.clear();
    return d->call(dde::Verb::Unadv, item).has_value();
}

std::optional<QString> DdeClient::request(const QString &item)
{
    const auto reply = d->call(dde::Verb::Req, item);
    if (!reply)
        return std::nullopt;
    return fromCp1251(reply->text);
}

bool DdeClient::poke(const QString &item, const QString &text)
{
    if (text.size() > dde::kMaxText)
        return d->fail(tr("Text longer than %1 characters").arg(dde::kMaxText));
    return d->call(dde::Verb::Poke, item, text).has_value();
}

std::optional<dde::Message> DdeClient::Private::call(dde::Verb verb, const QString &item, const QString &text)
{
    if (state != State::Connected) {
        fail(tr("Not connected to a DDE service"));
        return std::nullopt;
    }
    if (!isValidDdeName(item)) {
        fail(tr("Invalid item name \"%1\"").arg(item));
        return std::nullopt;
    }
    auto reply = call(dde::Message{verb, 0, toCp1251(item), toCp1251(text)}, timeoutMs);
    if (reply && reply->verb == dde::Verb::Err) {
        fail(fromCp1251(reply->text));
        return std::nullopt;
    }
    return reply;
}

// Sends one request and waits for its answer, for at most timeoutMs. Other events run meanwhile;
// a call made by one of them waits in its own loop, and each call picks its own answer by id.
std::optional<dde::Message> DdeClient::Private::call(dde::Message message, int waitMs)
{
    if (++lastId == 0)
        ++lastId;
    const std::uint32_t id = lastId;
    message.id = id;
    awaited.insert(id);
    socket->write(dde::formatLine(message));
    socket->flush();

    QPointer<DdeClient> alive(q);
    ++calls;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(waitMs);
    bool quitting = false;
    waiters.append(&loop);
    while (alive && socket && !replies.contains(id) && deadline.isActive()) {
        // Once the program is asked to quit, event loops return at once without running
        // anything (no timer either) until the main loop has returned: stop waiting then.
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) < 0) {
            quitting = true;
            break;
        }
    }
    if (!alive)
        return std::nullopt;
    awaited.remove(id);
    waiters.removeOne(&loop);
    --calls;
    if (!notes.empty())
        QMetaObject::invokeMethod(q, [this] { dispatch(); }, Qt::QueuedConnection);

    auto found = replies.find(id);
    if (found == replies.end()) {
        if (quitting)
            fail(tr("The wait for DDE service \"%1\" was given up: the program is quitting").arg(service));
        else if (socket && state != State::Unconnected)
            fail(tr("No answer from DDE service \"%1\" within %2 ms").arg(service).arg(waitMs));
        else if (error.isEmpty())
            fail(tr("The DDE conversation ended"));
        return std::nullopt;
    }
    dde::Message reply = *found;
    replies.erase(found);
    return reply;
}

void DdeClient::Private::wakeWaiters()
{
    for (QEventLoop *loop : std::as_const(waiters))
        loop->quit();
}

void DdeClient::Private::readInput()
{
    QByteArray line;
    while (socket) {
        if (in.takeLine(line)) {
            const auto message = dde::parseLine(line);
            if (!message) {
                lost(tr("Malformed line from DDE service \"%1\"").arg(service));
                break;
            }
            take(*message);
            continue;
        }
        if (in.overflowed()) {
            lost(tr("Over-long line from DDE service \"%1\"").arg(service));
            break;
        }
        if (socket->bytesAvailable() <= 0)
            break;
        in.append(socket->readAll());
    }
    dispatch();
}

void DdeClient::Private::take(const dde::Message &message)
{
    switch (message.verb) {
    case dde::Verb::Ok:
    case dde::Verb::Err:
        // An answer nobody waits for (its call timed out, or no call had that id) is dropped.
        if (awaited.contains(message.id)) {
            replies.insert(message.id, message);
            wakeWaiters();
        }
        break;
    case dde::Verb::Upd: {
        const QString name = linkedName(message.name);
        if (!name.isEmpty())
            addNote({Note::Changed, name, fromCp1251(message.text)});
        break;
    }
    case dde::Verb::Gone: {
        const QString name = linkedName(message.name);
        if (!name.isEmpty())
            addNote({Note::Gone, name, QString()});
        break;
    }
    case dde::Verb::Bye:
        byeReason = fromCp1251(message.text);
        break;
    default:
        lost(tr("Unexpected line from DDE service \"%1\"").arg(service));
        break;
    }
}

// A server that sends faster than the program takes its notifications (or a hostile one) must not
// grow the queue without end: past the limit only the newest notification of each item stays,
// which bounds the queue by the links.
void DdeClient::Private::addNote(Note note)
{
    notes.push_back(std::move(note));
    if (notes.size() <= kMaxNotes + std::size_t(links.size()))
        return;
    QSet<QString> seen;
    std::deque<Note> kept;
    for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
        if (it->kind == Note::Ended || !seen.contains(it->item)) {
            seen.insert(it->item);
            kept.push_front(std::move(*it));
        }
    }
    notes = std::move(kept);
}

QString DdeClient::Private::linkedName(const QByteArray &raw)
{
    auto cached = nameOfRaw.constFind(raw);
    if (cached != nameOfRaw.cend())
        return *cached;
    if (nameOfRaw.size() >= kMaxSpellings + 4 * links.size())
        nameOfRaw.clear();
    const QString name = links.value(ddeNameKey(fromCp1251(raw)));
    nameOfRaw.insert(raw, name);
    return name;
}

// The conversation ended from the server's side or through a broken line. Changes that came
// before the end are still delivered, then disconnected().
void DdeClient::Private::lost(const QString &reason)
{
    if (state == State::Unconnected)
        return;
    const bool wasConnected = state == State::Connected;
    error = reason;
    closeSocket();
    if (wasConnected) {
        notes.push_back({Note::Ended, QString(), reason});
        if (calls == 0)
            QMetaObject::invokeMethod(q, [this] { dispatch(); }, Qt::QueuedConnection);
    }
}

void DdeClient::Private::closeSocket()
{
    if (socket) {
        socket->disconnect(q);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    state = State::Unconnected;
    in = dde::LineBuffer();
    byeReason.clear();
    links.clear();
    nameOfRaw.clear();
    wakeWaiters();
}

// Ends the conversation from our side: nothing more is delivered.
void DdeClient::Private::drop()
{
    closeSocket();
    replies.clear();
    notes.clear();
}

void DdeClient::Private::dispatch()
{
    if (calls > 0 || dispatching)
        return;
    dispatching = true;
    QPointer<DdeClient> alive(q);
    while (alive && !notes.empty() && calls == 0) {
        const Note note = std::move(notes.front());
        notes.pop_front();
        switch (note.kind) {
        case Note::Changed:
            emit q->itemChanged(note.item, note.text);
            break;
        case Note::Gone:
            emit q->itemGone(note.item);
            break;
        case Note::Ended:
            emit q->disconnected(note.text);
            break;
        }
    }
    if (alive)
        dispatching = false;
}

} // namespace platform
