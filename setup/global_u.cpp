#include "global_u.h"

#include <QMetaObject>

#include <condition_variable>
#include <memory>
#include <mutex>

platform::UINT SX_SearchAvailableCOMPorts = 0;
platform::UINT SX_SearchAvailableDevices = 0;
platform::UINT SX_ProgramDialog = 0;

std::atomic<std::uint8_t> RunFlag{0};

namespace {
std::unique_ptr<platform::NamedLock> linkLock;
QString helpFile;
} // namespace

void SetApplicationHelpFile(const QString &fileName)
{
    helpFile = fileName;
}

QString ApplicationHelpFile()
{
    return helpFile;
}

void InitGlobals()
{
    if (linkLock)
        return;
    SX_SearchAvailableCOMPorts = platform::RegisterWindowMessage(QStringLiteral("SX_SearchAvailableCOMPorts"));
    SX_SearchAvailableDevices = platform::RegisterWindowMessage(QStringLiteral("SX_SearchAvailableDevices"));
    SX_ProgramDialog = platform::RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    linkLock = std::make_unique<platform::NamedLock>(QStringLiteral("COMPortMutex"));
}

void DoneGlobals()
{
    linkLock.reset();
}

platform::NamedLock &COMPortMutex()
{
    Q_ASSERT(linkLock);
    return *linkLock;
}

void CallOnWindowThread(const std::function<void()> &fn)
{
    // The hand-over is ordered by a standard mutex in both directions: the worker releases it
    // before posting and the call takes it before it runs, so what the worker wrote is seen by
    // the call; the call signals under it when done, so what the call wrote is seen by the worker.
    // (Qt's event queue orders the same, but through code that ThreadSanitizer cannot see.)
    // A call dropped unrun (the loop is gone) signals when its last copy is destroyed.
    struct TState {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Finished = false;
    };
    struct TNotifier {
        std::shared_ptr<TState> State;
        void Signal()
        {
            {
                std::lock_guard guard(State->Mutex);
                State->Finished = true;
            }
            State->Done.notify_all();
        }
        ~TNotifier() { Signal(); }
    };
    auto state = std::make_shared<TState>();
    { std::lock_guard released(state->Mutex); }
    {
        auto notifier = std::make_shared<TNotifier>();
        notifier->State = state;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [notifier, &fn] {
                { std::lock_guard taken(notifier->State->Mutex); }
                fn();
                notifier->Signal();
            },
            Qt::QueuedConnection);
    }
    std::unique_lock guard(state->Mutex);
    state->Done.wait(guard, [&] { return state->Finished; });
}
