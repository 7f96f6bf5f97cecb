#pragma once
// TCOMExchange: the thread of one polling run.
//
// It walks the controller's sensor list in order, lets each channel poll, and waits on its event
// after each sensor (the sensor interval) and after the last one (the cycle interval), until it
// is stopped. Stop clears the running flag and signals the event, so a wait ends at once and a
// poll under way is the last one. When the run ends, the end handler returns the driver to idle
// on the window thread and the object deletes itself.
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// An auto-reset event: one Set ends exactly one wait, the one under way or the next.
class TAutoResetEvent {
public:
    void Set();
    // True when the event ended the wait, false when the time ran out.
    bool Wait(std::uint32_t milliseconds);

private:
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

class TCOMExchange : public QThread {
    Q_OBJECT
public:
    // Creates the thread of a new run and starts it at once; it deletes itself after its end
    // handler. The controller must exist and hold at least one sensor.
    static TCOMExchange *Start(QObject *parent = nullptr);

    // Ends the run after the poll under way; does not wait.
    void Stop();
    // Stops the run and waits for its end, for at most ms; true when it ended. For the shut-down
    // only: the polling thread never waits for the window thread, so this cannot deadlock.
    bool StopAndWait(int ms);

    std::uint16_t Index = 0;
    TAutoResetEvent Event;
    std::atomic<bool> Running{true};

signals:
    // Emitted on the window thread by the end handler, after the driver went back to idle.
    void Ended();

protected:
    void run() override;

private:
    explicit TCOMExchange(QObject *parent);
    void ExchangeTerminated();
    void RunPollingCycle(bool individual);

    std::atomic<bool> Done{false};  // run() has returned: its reads of the controller are over
};
