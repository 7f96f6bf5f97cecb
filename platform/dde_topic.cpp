// Topics and items of the DDE server, and the hot links on their names.
#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_server_p.h"

namespace platform {

// ---- DdeTopic ----

DdeTopic::DdeTopic(DdeServer *server, const QString &name) : QObject(server), d(new Private)
{
    d->server = server;
    d->name = name;
    d->key = ddeNameKey(name);
    server->d->topics.append(this);
    server->d->topicByKey.insert(d->key, this);
}

DdeTopic::~DdeTopic()
{
    const QString reason = tr("DDE topic \"%1\" was removed").arg(d->name);
    while (!d->convs.isEmpty())
        d->convs.last()->end(reason);
    while (!d->items.isEmpty())
        delete d->items.last();
    d->server->d->topics.removeOne(this);
    d->server->d->topicByKey.remove(d->key);
    delete d;
}

DdeServer *DdeTopic::server() const
{
    return d->server;
}

QString DdeTopic::name() const
{
    return d->name;
}

bool DdeTopic::setName(const QString &name)
{
    const QString key = ddeNameKey(name);
    DdeServer::Private *s = d->server->d;
    if (!isValidDdeName(name))
        return s->fail(tr("Invalid DDE topic name \"%1\"").arg(name));
    if (key != d->key && s->topicByKey.contains(key))
        return s->fail(tr("DDE topic \"%1\" exists already").arg(name));
    s->topicByKey.remove(d->key);
    s->topicByKey.insert(key, this);
    d->name = name;
    d->key = key;
    return true;
}

DdeItem *DdeTopic::createItem(const QString &name, const QString &text)
{
    if (!isValidDdeName(name) || d->itemByKey.contains(ddeNameKey(name)) || text.size() > dde::kMaxText)
        return nullptr;
    return new DdeItem(this, name, text);
}

DdeItem *DdeTopic::item(const QString &name) const
{
    return d->itemByKey.value(ddeNameKey(name));
}

QList<DdeItem *> DdeTopic::items() const
{
    return d->items;
}

void DdeTopic::Private::link(DdeServerConv *conv, const QString &key)
{
    if (conv->links.contains(key))
        unlink(conv, key);
    conv->links.insert(key);
    if (DdeItem *item = itemByKey.value(key)) {
        item->d->links.append(conv);
        conv->push(item);
    } else {
        waitingLinks[key].append(conv);
    }
}

void DdeTopic::Private::unlink(DdeServerConv *conv, const QString &key)
{
    if (!conv->links.remove(key))
        return;
    conv->forget(key, itemByKey.value(key));
    if (DdeItem *item = itemByKey.value(key)) {
        item->d->links.removeOne(conv);
        return;
    }
    auto waiting = waitingLinks.find(key);
    if (waiting != waitingLinks.end()) {
        waiting->removeOne(conv);
        if (waiting->isEmpty())
            waitingLinks.erase(waiting);
    }
}

void DdeTopic::Private::attach(DdeItem *item)
{
    itemByKey.insert(item->d->key, item);
    item->d->links = waitingLinks.take(item->d->key);
    for (DdeServerConv *conv : std::as_const(item->d->links))
        conv->push(item);
}

void DdeTopic::Private::detach(DdeItem *item)
{
    itemByKey.remove(item->d->key);
    const QList<DdeServerConv *> links = std::exchange(item->d->links, {});
    if (links.isEmpty())
        return;
    for (DdeServerConv *conv : links)
        conv->pushGone(item);
    waitingLinks.insert(item->d->key, links);
}

void DdeTopic::Private::removeConv(DdeServerConv *conv)
{
    const QSet<QString> keys = conv->links;
    for (const QString &key : keys)
        unlink(conv, key);
    convs.removeOne(conv);
}

// ---- DdeItem ----

DdeItem::DdeItem(DdeTopic *topic, const QString &name, const QString &text) : QObject(topic), d(new Private)
{
    d->topic = topic;
    d->text = text;
    d->rawText = toCp1251(text);
    d->setName(name);
    topic->d->items.append(this);
    topic->d->attach(this);
}

DdeItem::~DdeItem()
{
    d->topic->d->detach(this);
    d->topic->d->items.removeOne(this);
    delete d;
}

DdeTopic *DdeItem::topic() const
{
    return d->topic;
}

QString DdeItem::name() const
{
    return d->name;
}

bool DdeItem::setName(const QString &name)
{
    const QString key = ddeNameKey(name);
    if (!isValidDdeName(name))
        return false;
    if (key == d->key) {  // only the letter case changes
        d->setName(name);
        return true;
    }
    if (d->topic->d->itemByKey.contains(key))
        return false;
    d->topic->d->detach(this);
    d->setName(name);
    d->topic->d->attach(this);
    return true;
}

QString DdeItem::text() const
{
    return d->text;
}

bool DdeItem::setText(const QString &text)
{
    if (text.size() > dde::kMaxText)
        return false;
    d->text = text;
    d->rawText = toCp1251(text);
    d->rebuildLine();
    for (DdeServerConv *conv : std::as_const(d->links))
        conv->push(this);
    return true;
}

bool DdeItem::acceptsPokes() const
{
    return d->acceptsPokes;
}

void DdeItem::setAcceptsPokes(bool accepts)
{
    d->acceptsPokes = accepts;
}

void DdeItem::Private::setName(const QString &newName)
{
    name = newName;
    key = ddeNameKey(newName);
    rawName = toCp1251(newName);
    rebuildLine();
}

void DdeItem::Private::rebuildLine()
{
    dde::Message upd;
    upd.verb = dde::Verb::Upd;
    upd.name = rawName;
    upd.text = rawText;
    line = dde::formatLine(upd);
}

} // namespace platform
