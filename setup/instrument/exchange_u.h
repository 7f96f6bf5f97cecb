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
    // Writes: the operation changes the instrument (or may), and once begun it finishes even
    // when the program is asked to end. ReadsOnly: it only reads from the instrument, and its
    // link commands fail once the program's end has begun (TDevice::StopReading), so that it
    // ends at its next exchange and keeps nothing of a half read.
    enum TKind { Writes, ReadsOnly };

    // Creates the thread, running at normal priority.
    static TExchange *Start(TOperation operation, TKind kind = Writes);
    template <class Device, class R>
    static TExchange *Start(Device *device, R (Device::*operation)())
    {
        return Start([device, operation] { (device->*operation)(); });
    }

    // Workers still running their operation (started and not yet returned from it).
    static int Running();
    // Of those, the ones that only read.
    static int ReadersRunning();
    // True on the thread of a worker started as ReadsOnly.
    static bool ReadsOnlyHere();
    // Serves the window thread's events until every worker has returned from its operation.
    // Only for the end of the program, before the objects the workers use are freed: a worker
    // may still need the window thread to answer it on its way out.
    static void WaitForAll();

protected:
    void run() override;  // Execute: runs the bound operation once

private:
    TExchange(TOperation operation, TKind kind);
    TOperation FOperation;
    TKind FKind;
};
