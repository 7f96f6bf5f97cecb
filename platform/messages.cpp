#include "platform/messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Registered messages

namespace {

struct MessageNames {
    std::mutex mutex;
    QHash<QString, UINT> numbers;  // keyed by the case-folded name
    UINT next = 0xC000;
};

MessageNames &messageNames()
{
    static MessageNames names;
    return names;
}

} // namespace

UINT RegisterWindowMessage(const QString &name)
{
    if (name.isEmpty())
        return 0;
    const QString key = name.toCaseFolded();
    MessageNames &names = messageNames();
    std::lock_guard guard(names.mutex);
    const auto found = names.numbers.constFind(key);
    if (found != names.numbers.constEnd())
        return *found;
    if (names.next > 0xFFFF)
        return 0;  // the range of registered messages is used up
    const UINT number = names.next++;
    names.numbers.insert(key, number);
    return number;
}

// ---------------------------------------------------------------------------------------------
// The channel: what senders and posters share with the window. It outlives the window for as
// long as a sender or a queued message still refers to it, so a worker that waits on it is
// never left with a dangling pointer.

namespace {

struct PendingSend {
    bool done = false;
    LRESULT result = 0;
};

struct Channel : std::enable_shared_from_this<Channel> {
    using HookPtr = std::shared_ptr<ApplicationWindow::Hook>;

    explicit Channel(HWND h) : handle(h), thread(QThread::currentThreadId()) {}

    const HWND handle;
    const Qt::HANDLE thread;  // the window thread

    // Guards posting. Kept apart from `mutex` because Qt may destroy an event inside
    // postEvent, and the event's destructor takes `mutex`.
    std::mutex postMutex;
    QObject *receiver = nullptr;  // null once the window is going

    std::mutex mutex;  // guards everything below
    std::condition_variable answered;
    bool alive = true;
    std::vector<std::pair<int, HookPtr>> hooks;
    int nextHookId = 1;

    bool onWindowThread() const { return QThread::currentThreadId() == thread; }
    bool hasHook(int id) const
    {
        return std::any_of(hooks.begin(), hooks.end(), [id](const auto &h) { return h.first == id; });
    }

    // Runs the hooks in the order they were added; the first that returns true handles the
    // message. A hook removed by an earlier hook of the same round is skipped.
    void dispatch(Message &message)
    {
        std::vector<std::pair<int, HookPtr>> snapshot;
        {
            std::lock_guard guard(mutex);
            if (!alive)
                return;
            snapshot = hooks;
        }
        for (const auto &[id, hook] : snapshot) {
            {
                std::lock_guard guard(mutex);
                if (!alive || !hasHook(id))
                    continue;
            }
            if ((*hook)(message))
                return;
        }
    }

    void finish(PendingSend &pending, LRESULT result)
    {
        {
            std::lock_guard guard(mutex);
            if (pending.done)
                return;
            pending.done = true;
            pending.result = result;
        }
        answered.notify_all();
    }

    LRESULT send(UINT msg, WPARAM wParam, LPARAM lParam, const std::function<void()> *call = nullptr);
    bool post(UINT msg, WPARAM wParam, LPARAM lParam, const QString &payload);
};

// One queued message. A sent one carries the sender's pending answer; the answer is given
// when the event is destroyed, which Qt does right after delivering it and also when it drops
// the event undelivered (receiver gone, thread ended). So a waiting sender is always released.
class MessageEvent : public QEvent {
public:
    MessageEvent(std::shared_ptr<Channel> channel, Message message, std::shared_ptr<PendingSend> pending)
        : QEvent(eventType()), channel(std::move(channel)), message(std::move(message)), pending(std::move(pending))
    {}
    ~MessageEvent() override
    {
        if (pending)
            channel->finish(*pending, handled ? message.result : 0);
    }

    static QEvent::Type eventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    std::shared_ptr<Channel> channel;
    Message message;
    std::shared_ptr<PendingSend> pending;
    const std::function<void()> *call = nullptr;  // a function to run instead of the hooks
    bool handled = false;
};

// A send of a message to the hooks, or with `call` a function run in its place; the answer of
// a call is 1 once it has run.
LRESULT Channel::send(UINT msg, WPARAM wParam, LPARAM lParam, const std::function<void()> *call)
{
    Message message;
    message.msg = msg;
    message.wParam = wParam;
    message.lParam = lParam;

    if (onWindowThread()) {
        const auto keep = shared_from_this();  // a hook may destroy the window meanwhile
        {
            std::lock_guard guard(mutex);
            if (!alive)
                return 0;
        }
        if (call) {
            (*call)();
            return 1;
        }
        dispatch(message);
        return message.result;
    }

    auto pending = std::make_shared<PendingSend>();
    {
        std::lock_guard guard(postMutex);
        if (!receiver)
            return 0;
        // Queued behind everything posted before, so a post followed by a send from one
        // thread is handled in that order. Nested event loops (modal dialogs) deliver it too.
        auto *event = new MessageEvent(shared_from_this(), message, pending);
        event->call = call;
        QCoreApplication::postEvent(receiver, event);
    }
    std::unique_lock guard(mutex);
    answered.wait(guard, [&] { return pending->done || !alive; });
    return pending->done ? pending->result : 0;
}

bool Channel::post(UINT msg, WPARAM wParam, LPARAM lParam, const QString &payload)
{
    Message message;
    message.msg = msg;
    message.wParam = wParam;
    message.lParam = lParam;
    message.payload = payload;
    std::lock_guard guard(postMutex);
    if (!receiver)
        return false;
    QCoreApplication::postEvent(receiver, new MessageEvent(shared_from_this(), std::move(message), nullptr));
    return true;
}

// Lives on the window thread beside the window: takes the queued messages and runs the timers.
class Receiver : public QObject {
public:
    explicit Receiver(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}

    void startUserTimer(WPARAM id, int intervalMs)
    {
        stopUserTimer(id);
        // Like Windows, very short intervals are raised to 10 ms rather than spin.
        const int qtId = startTimer(std::max(intervalMs, 10));
        if (qtId != 0) {
            timerIds_.insert(id, qtId);
            userIds_.insert(qtId, id);
        }
    }

    // True while a hook runs from one of our events: the window is then being destroyed by
    // that hook, and we must outlive the event.
    bool busy() const { return busy_ > 0; }

    void stopUserTimer(WPARAM id)
    {
        const auto found = timerIds_.find(id);
        if (found == timerIds_.end())
            return;
        killTimer(*found);
        userIds_.remove(*found);
        timerIds_.erase(found);
    }

protected:
    bool event(QEvent *event) override
    {
        // A sender builds and posts its event under postMutex; taking it here orders the
        // sender's writes before our reads in terms that race checkers see (Qt's own queue
        // lock they cannot see).
        { std::lock_guard guard(channel_->postMutex); }
        if (event->type() != MessageEvent::eventType())
            return QObject::event(event);
        auto *queued = static_cast<MessageEvent *>(event);
        ++busy_;
        if (queued->call) {
            bool alive = false;
            {
                std::lock_guard guard(channel_->mutex);
                alive = channel_->alive;
            }
            if (alive) {
                (*queued->call)();
                queued->message.result = 1;
            }
        } else {
            channel_->dispatch(queued->message);
        }
        --busy_;
        queued->handled = true;
        return true;
    }

    void timerEvent(QTimerEvent *event) override
    {
        const auto found = userIds_.constFind(event->timerId());
        if (found == userIds_.constEnd())
            return;
        Message message;
        message.msg = WM_TIMER;
        message.wParam = *found;
        ++busy_;
        channel_->dispatch(message);
        --busy_;
    }

private:
    std::shared_ptr<Channel> channel_;
    int busy_ = 0;                 // depth of hooks running from here
    QHash<WPARAM, int> timerIds_;  // our timer id -> Qt's
    QHash<int, WPARAM> userIds_;   // Qt's timer id -> ours
};

// The windows of the process by handle; the last one created is the application window.
struct WindowTable {
    std::mutex mutex;
    std::vector<std::pair<ApplicationWindow *, std::shared_ptr<Channel>>> windows;
    HWND nextHandle = 1;
};

// Never destroyed: a worker may still post while the process exits (Qt ends it by exit() when it
// loses its display), after the destructors of static objects have begun to run.
WindowTable &windowTable()
{
    static WindowTable &table = *new WindowTable;
    return table;
}

std::shared_ptr<Channel> channelOf(HWND handle)
{
    WindowTable &table = windowTable();
    std::lock_guard guard(table.mutex);
    for (const auto &entry : table.windows) {
        if (entry.second->handle == handle)
            return entry.second;
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The application window

struct ApplicationWindow::Private {
    std::shared_ptr<Channel> channel;
    Receiver *receiver = nullptr;
};

ApplicationWindow::ApplicationWindow() : d(new Private)
{
    WindowTable &table = windowTable();
    std::lock_guard guard(table.mutex);
    d->channel = std::make_shared<Channel>(table.nextHandle++);
    d->receiver = new Receiver(d->channel);
    d->channel->receiver = d->receiver;
    table.windows.emplace_back(this, d->channel);
}

ApplicationWindow::~ApplicationWindow()
{
    {
        WindowTable &table = windowTable();
        std::lock_guard guard(table.mutex);
        std::erase_if(table.windows, [this](const auto &entry) { return entry.first == this; });
    }
    {
        std::lock_guard guard(d->channel->postMutex);
        d->channel->receiver = nullptr;
    }
    std::vector<std::pair<int, Channel::HookPtr>> hooks;
    {
        std::lock_guard guard(d->channel->mutex);
        d->channel->alive = false;
        hooks.swap(d->channel->hooks);
    }
    // Senders still waiting get 0; messages still queued are dropped with the receiver.
    d->channel->answered.notify_all();
    if (d->receiver->busy())
        d->receiver->deleteLater();
    else
        delete d->receiver;
    delete d;
}

ApplicationWindow *ApplicationWindow::instance()
{
    WindowTable &table = windowTable();
    std::lock_guard guard(table.mutex);
    return table.windows.empty() ? nullptr : table.windows.back().first;
}

HWND ApplicationWindow::handle() const
{
    return d->channel->handle;
}

int ApplicationWindow::addHook(Hook hook)
{
    Channel &channel = *d->channel;
    std::lock_guard guard(channel.mutex);
    const int id = channel.nextHookId++;
    channel.hooks.emplace_back(id, std::make_shared<Hook>(std::move(hook)));
    return id;
}

void ApplicationWindow::removeHook(int id)
{
    Channel::HookPtr removed;  // destroyed outside the lock
    Channel &channel = *d->channel;
    std::lock_guard guard(channel.mutex);
    const auto found = std::find_if(channel.hooks.begin(), channel.hooks.end(),
                                    [id](const auto &h) { return h.first == id; });
    if (found != channel.hooks.end()) {
        removed = std::move(found->second);
        channel.hooks.erase(found);
    }
}

LRESULT ApplicationWindow::sendMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return d->channel->send(msg, wParam, lParam);
}

bool ApplicationWindow::call(const std::function<void()> &fn)
{
    return d->channel->send(0, 0, 0, &fn) == 1;
}

void ApplicationWindow::postMessage(UINT msg, WPARAM wParam, LPARAM lParam, const QString &payload)
{
    d->channel->post(msg, wParam, lParam, payload);
}

void ApplicationWindow::setTimer(WPARAM id, int intervalMs)
{
    Receiver *receiver = d->receiver;
    QMetaObject::invokeMethod(receiver, [receiver, id, intervalMs] { receiver->startUserTimer(id, intervalMs); });
}

void ApplicationWindow::killTimer(WPARAM id)
{
    Receiver *receiver = d->receiver;
    QMetaObject::invokeMethod(receiver, [receiver, id] { receiver->stopUserTimer(id); });
}

} // namespace platform

// ---------------------------------------------------------------------------------------------
// C entries for the outside libraries

extern "C" {

std::uint32_t platform_ApplicationWindowHandle(void)
{
    platform::WindowTable &table = platform::windowTable();
    std::lock_guard guard(table.mutex);
    return table.windows.empty() ? 0 : table.windows.back().second->handle;
}

std::intptr_t platform_SendMessage(std::uint32_t hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    const auto channel = platform::channelOf(hwnd);
    return channel ? channel->send(msg, wParam, lParam) : 0;
}

int platform_PostMessage(std::uint32_t hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    const auto channel = platform::channelOf(hwnd);
    return channel && channel->post(msg, wParam, lParam, QString()) ? 1 : 0;
}

std::uint32_t platform_RegisterWindowMessage(const char *name)
{
    return name ? platform::RegisterWindowMessage(QString::fromUtf8(name)) : 0;
}

} // extern "C"
