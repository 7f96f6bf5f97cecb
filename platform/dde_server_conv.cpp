// One client connection of the DDE server: reading its requests and writing what it is owed.
#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_server_p.h"

#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace platform {

DdeServerConv::DdeServerConv(DdeServer *server, QLocalSocket *socket)
    : QObject(server), server_(server), socket_(socket)
{
    socket_->setParent(this);
    // Qt reads no further ahead than this; the kernel holds the rest, and a client that writes
    // faster than it is read waits in its own write.
    socket_->setReadBufferSize(2 * dde::kMaxLine);
    connect(socket_, &QLocalSocket::readyRead, this, &DdeServerConv::readInput);
    connect(socket_, &QLocalSocket::bytesWritten, this, [this] {
        if (backlogged_ && waiting() < kLowWater)
            server_->d->scheduleFlush(this);
        resumeInputIfDrained();
    });
    connect(socket_, &QLocalSocket::disconnected, this, [this] { end(QString()); });
    // A connection that never says HELLO would hold a place among the conversations for good.
    QTimer::singleShot(DdeServer::kHelloTimeoutMs, this, [this] {
        if (!topic)
            end(tr("No HELLO within %1 ms").arg(DdeServer::kHelloTimeoutMs));
    });
    if (socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &DdeServerConv::readInput, Qt::QueuedConnection);
}

qsizetype DdeServerConv::waiting() const
{
    return out_.size() + socket_->bytesToWrite();
}

void DdeServerConv::push(DdeItem *item)
{
    if (queue(item->d->line) || owedItems_.contains(item))
        return;
    owedItems_.insert(item);
    backlog_.push_back({item, QString()});
}

void DdeServerConv::pushGone(DdeItem *item)
{
    dde::Message gone;
    gone.verb = dde::Verb::Gone;
    gone.name = item->d->rawName;
    if (queue(dde::formatLine(gone)))
        return;
    dropOwed(item);
    if (owedGone_.contains(item->d->key))
        return;
    owedGone_.insert(item->d->key, item->d->rawName);
    backlog_.push_back({nullptr, item->d->key});
}

// The line goes out in order while the client keeps up; false once it is behind.
bool DdeServerConv::queue(const QByteArray &line)
{
    if (ended_)
        return true;
    server_->d->scheduleFlush(this);
    if (backlogged_)
        return false;
    out_.append(line);
    if (waiting() >= kHighWater)
        backlogged_ = true;
    return true;
}

void DdeServerConv::dropOwed(DdeItem *item)
{
    if (item && owedItems_.remove(item))
        backlog_.erase(std::find_if(backlog_.begin(), backlog_.end(), [&](const Owed &o) { return o.item == item; }));
}

void DdeServerConv::send(const dde::Message &message)
{
    if (ended_)
        return;
    out_.append(dde::formatLine(message));
    server_->d->scheduleFlush(this);
}

void DdeServerConv::forget(const QString &key, DdeItem *item)
{
    dropOwed(item);
    if (owedGone_.remove(key))
        backlog_.erase(std::find_if(backlog_.begin(), backlog_.end(), [&](const Owed &o) { return !o.item && o.key == key; }));
}

void DdeServerConv::flush()
{
    if (ended_)
        return;
    for (;;) {
        if (!out_.isEmpty()) {
            socket_->write(out_);
            out_.clear();
            socket_->flush();
        }
        if (!backlogged_ || socket_->bytesToWrite() >= kLowWater)
            break;
        if (backlog_.empty()) {
            backlogged_ = false;
            break;
        }
        const qsizetype room = kHighWater - socket_->bytesToWrite();
        while (!backlog_.empty() && out_.size() < room) {
            const Owed owed = std::move(backlog_.front());
            backlog_.pop_front();
            if (owed.item) {
                owedItems_.remove(owed.item);
                out_.append(owed.item->d->line);
            } else {
                dde::Message gone;
                gone.verb = dde::Verb::Gone;
                gone.name = owedGone_.take(owed.key);
                out_.append(dde::formatLine(gone));
            }
        }
    }
    resumeInputIfDrained();
}

void DdeServerConv::end(const QString &reason)
{
    if (ended_)
        return;
    if (!reason.isEmpty()) {
        dde::Message bye;
        bye.verb = dde::Verb::Bye;
        bye.text = toCp1251(reason);
        out_.append(dde::formatLine(bye));
    }
    // What fits into the socket now still reaches the client; a stalled client loses the rest.
    if (!out_.isEmpty() && socket_->state() == QLocalSocket::ConnectedState) {
        socket_->write(out_);
        socket_->flush();
    }
    ended_ = true;
    out_.clear();
    backlog_.clear();
    owedItems_.clear();
    owedGone_.clear();
    if (topic)
        topic->d->removeConv(this);
    topic = nullptr;
    server_->d->removeConv(this);
    socket_->disconnect(this);
    socket_->abort();
    deleteLater();
}

void DdeServerConv::resumeInputIfDrained()
{
    if (inputPaused_ && !ended_ && waiting() < kLowWater) {
        inputPaused_ = false;
        QMetaObject::invokeMethod(this, &DdeServerConv::readInput, Qt::QueuedConnection);
    }
}

void DdeServerConv::readInput()
{
    QPointer<DdeServerConv> self(this);
    QByteArray line;
    while (self && !ended_) {
        if (waiting() >= kHighWater) {
            // The client does not read its replies: take no more requests until it does.
            inputPaused_ = true;
            return;
        }
        if (in_.takeLine(line)) {
            const auto message = dde::parseLine(line);
            if (!message) {
                end(tr("Malformed line"));
                return;
            }
            handle(*message);
            continue;
        }
        if (in_.overflowed()) {
            end(tr("Line longer than %1 bytes").arg(dde::kMaxLine));
            return;
        }
        if (socket_->bytesAvailable() <= 0)
            return;
        in_.append(socket_->read(dde::kMaxLine));
    }
}

DdeItem *DdeServerConv::findItem(const dde::Message &message)
{
    const QString name = fromCp1251(message.name);
    DdeItem *item = topic->item(name);
    if (!item) {
        dde::Message err{dde::Verb::Err, message.id, {}, {}};
        err.text = toCp1251(tr("No item \"%1\" on topic \"%2\"").arg(name, topic->name()));
        send(err);
    }
    return item;
}

void DdeServerConv::handle(const dde::Message &message)
{
    dde::Message reply{dde::Verb::Ok, message.id, {}, {}};
    auto refuse = [&](const QString &reason) {
        reply.verb = dde::Verb::Err;
        reply.text = toCp1251(reason);
        send(reply);
    };

    if (message.verb == dde::Verb::Hello) {
        if (topic) {
            end(tr("HELLO came twice"));
            return;
        }
        const QString name = fromCp1251(message.name);
        DdeTopic *found = server_->topic(name);
        if (!found) {
            refuse(tr("No topic \"%1\" on DDE service \"%2\"").arg(name, server_->service()));
            end(QString());
            return;
        }
        topic = found;
        topic->d->convs.append(this);
        send(reply);
        return;
    }
    if (!topic) {
        end(tr("HELLO expected"));
        return;
    }

    switch (message.verb) {
    case dde::Verb::Req:
        if (DdeItem *item = findItem(message)) {
            reply.text = item->d->rawText;
            reply.hasText = true;
            send(reply);
        }
        break;
    case dde::Verb::Adv: {
        const QString name = fromCp1251(message.name);
        if (!isValidDdeName(name)) {
            refuse(tr("Invalid item name \"%1\"").arg(name));
            break;
        }
        const QString key = ddeNameKey(name);
        if (!links.contains(key) && links.size() >= DdeServer::kMaxLinks) {
            refuse(tr("No more than %1 hot links in one conversation").arg(DdeServer::kMaxLinks));
            break;
        }
        send(reply);
        topic->d->link(this, key);
        break;
    }
    case dde::Verb::Unadv:
        topic->d->unlink(this, ddeNameKey(fromCp1251(message.name)));
        send(reply);
        break;
    case dde::Verb::Poke:
        if (DdeItem *item = findItem(message)) {
            const QString text = fromCp1251(message.text);
            if (!item->acceptsPokes()) {
                refuse(tr("Item \"%1\" does not accept pokes").arg(item->name()));
            } else if (!item->setText(text)) {
                refuse(tr("Text longer than %1 characters").arg(dde::kMaxText));
            } else {
                send(reply);
                emit item->poked(text);
            }
        }
        break;
    default:
        end(tr("Unexpected line from a client"));
        break;
    }
}

} // namespace platform
