#pragma once
// TExchange: the worker thread of one long device operation.
//
// The main window makes one per started operation and forgets it: the thread runs its bound
// operation once and deletes itself. Nothing reaches the window when it ends; the operation
// restores its captions, gauge, exchange state and masks itself (through TProgramControl and
// RunOnWindowThread, never by touching a widget).
//
//     TExchange::Start(device, &TDevice::ReadAllSettings);   // a parameterless operation
//     TExchange::Start([=] { ops->ReadAllSettings(); });     // or any callable
#include <QThread>

#include <functional>
#include <utility>

class TExchange : public QThread {
    Q_OBJECT
public:
    using TOperation = std::function<void()>;

    // Creates the thread, running at normal priority.
    static TExchange *Start(TOperation operation);
    template <class Device, class R>
    static TExchange *Start(Device *device, R (Device::*operation)())
    {
        return Start([device, operation] { (device->*operation)(); });
    }

    // Workers still running their operation (started and not yet returned from it).
    static int Running();
    // Serves the window thread's events until every worker has returned from its operation.
    // Only for the end of the program, before the objects the workers use are freed: a worker
    // may still need the window thread to answer it on its way out.
    static void WaitForAll();

protected:
    void run() override;  // Execute: runs the bound operation once

private:
    explicit TExchange(TOperation operation);
    TOperation FOperation;
};
