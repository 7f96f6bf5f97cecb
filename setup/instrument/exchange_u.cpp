#include "exchange_u.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QtDebug>

#include <exception>
#include <mutex>

namespace {

std::mutex runningLock;
int running = 0;                  // guarded by runningLock
int readersRunning = 0;           // guarded by runningLock
thread_local bool readsOnlyHere = false;
QEventLoop *waitingLoop = nullptr; // guarded by runningLock

} // namespace

TExchange::TExchange(TOperation operation, TKind kind) : FOperation(std::move(operation)), FKind(kind)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TExchange *TExchange::Start(TOperation operation, TKind kind)
{
    auto *thread = new TExchange(std::move(operation), kind);
    {
        std::lock_guard guard(runningLock);
        ++running;
        if (kind == ReadsOnly)
            ++readersRunning;
    }
    thread->start(QThread::NormalPriority);
    return thread;
}

int TExchange::Running()
{
    std::lock_guard guard(runningLock);
    return running;
}

int TExchange::ReadersRunning()
{
    std::lock_guard guard(runningLock);
    return readersRunning;
}

bool TExchange::ReadsOnlyHere()
{
    return readsOnlyHere;
}

void TExchange::run()
{
    readsOnlyHere = FKind == ReadsOnly;
    try {
        FOperation();
    } catch (const std::exception &e) {
        // An operation cleans up after itself; whatever still escapes must not end the program.
        qWarning("TExchange: operation failed: %s", e.what());
    } catch (...) {
        qWarning("TExchange: operation failed");
    }
    std::lock_guard guard(runningLock);
    if (FKind == ReadsOnly)
        --readersRunning;
    if (--running == 0 && waitingLoop)
        // By name: the queued call is then made inside Qt, with nothing built here that the
        // window thread would read through Qt's queue lock, which race checkers cannot see.
        QMetaObject::invokeMethod(waitingLoop, "quit", Qt::QueuedConnection);
}

void TExchange::WaitForAll()
{
    QEventLoop loop;
    {
        std::lock_guard guard(runningLock);
        if (running == 0)
            return;
        waitingLoop = &loop;
    }
    loop.exec();
    // The loop may also have been ended from outside (an application quit, after which exec
    // returns at once): serve events until the last worker is gone, which posts to the loop.
    for (;;) {
        {
            std::lock_guard guard(runningLock);
            if (running == 0) {
                waitingLoop = nullptr;
                break;
            }
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
