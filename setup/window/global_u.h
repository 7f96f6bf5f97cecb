#pragma once
// Process-wide objects of the setup program, made before any window exists: the registered
// window messages, the link lock "COMPortMutex" and the run flag of the measurement loops;
// and the one way by which any thread gets work done on the window thread.
#include "platform/messages.h"
#include "platform/named_lock.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

// Numbers of the registered messages; 0 until InitGlobals() has run.
extern platform::UINT SX_SearchAvailableCOMPorts;  // registered, never used
extern platform::UINT SX_SearchAvailableDevices;   // the link library's search reports
extern platform::UINT SX_ProgramDialog;            // a program message for the window thread

// 1 while a measurement loop (or the cyclic indicator test) may run, 0 once a stop was asked.
// A loop sets it to 1 *before* it shows its stop caption and never again after that, so a stop
// clicked as soon as the caption reads "stop" is never lost.
extern std::atomic<std::uint8_t> RunFlag;

// Registers the messages and creates the link lock. The main block calls it before it makes
// any window; calling it again does nothing.
void InitGlobals();
// Closes the link lock (at the end of the program).
void DoneGlobals();

// The link lock shared by every copy of the program; InitGlobals() must have run. Workers take
// it with lock(); the window thread only with tryLock(), since a worker holding it may be
// waiting for the window thread to answer a program message.
platform::NamedLock &COMPortMutex();

// The program's title ("Настройка ВКС 7400 и ЛДМ 0612/К3"): the caption of custom program
// messages. It is deliberately not Qt's application display name, which the window system
// would append to every window caption.
QString ApplicationTitle();

// Sets up the application object as the program needs it before its first window: Qt's own
// texts in Russian and the help file name. The main block and the tests call it.
void InitApplication(QCoreApplication &application);

// The application's help file name ("Vks74xx.hlp"), looked up in the program folder; set by the
// main block.
void SetApplicationHelpFile(const QString &fileName);
QString ApplicationHelpFile();

// True on the thread that runs the windows (the application's main thread).
inline bool IsWindowThread()
{
    return QCoreApplication::instance() == nullptr
        || QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Hands fn to the window thread's event loop and waits until it has run there (or has been
// dropped because the loop is gone). Workers only; RunOnWindowThread is the way to call it.
void CallOnWindowThread(const std::function<void()> &fn);

// Runs fn on the window thread and returns its result. On the window thread it runs at once;
// from a worker it is queued behind everything the worker handed over before (so a worker's
// changes of the window keep their order) and the worker waits until it has run. The window
// thread never waits for a worker, so this cannot deadlock as long as the window thread does
// not block on the link lock.
template <class F>
auto RunOnWindowThread(F &&fn) -> std::invoke_result_t<F &>
{
    using R = std::invoke_result_t<F &>;
    if (IsWindowThread())
        return fn();
    if constexpr (std::is_void_v<R>) {
        CallOnWindowThread([&fn] { fn(); });
    } else {
        R result{};
        CallOnWindowThread([&fn, &result] { result = fn(); });
        return result;
    }
}
