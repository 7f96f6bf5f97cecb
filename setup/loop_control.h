#pragma once
// Operations run from a start/stop button (the device search, the measuring loops, the cyclic
// indicator test): the button's captions while they run, the stop request of the loops, and the
// frame that every loop shares.
//
// The button decides by its caption (TfMain::ToggleClick): the start caption starts the
// operation on a worker, the stop caption shows "Wait..." and asks for the stop, "Wait..." does
// nothing. The worker shows the stop caption when it begins and the start caption once it has
// ended, so the button never reads "Wait..." or the stop caption with nothing running.
//
// A loop's stop is never lost: RunFlag becomes 1 before the stop caption shows and is never set
// again during the run, so a stop clicked at any moment of the run (while the port opens, while
// the link lock is awaited, during a pause) ends it; a pause ends at once on a stop.
//
//     RunLoop(device, {{ui->TS4Button5, start, stop, 617}, 500ms, [&] { ...one step... }});
#include <QString>

#include <chrono>
#include <functional>

class QAbstractButton;
class TDevice;
class TfMain;

// The caption of a start/stop button whose stop was asked for: "Wait...".
QString WaitCaption();

// A start/stop button, its two captions, and the AccessId that keeps it enabled while its
// operation has the link.
struct TStopButton {
    QAbstractButton *Button = nullptr;
    QString StartCaption;
    QString StopCaption;
    int AccessId = -1;
};

// One run of a button's operation, any thread. Made: the stop caption shows. BeginExchange:
// the button stays enabled (AccessId in AlwaysEnabledMask) while the exchange state becomes
// Exchanging. Destroyed: the start caption again and, after BeginExchange, the AccessId cleared
// and the exchange state Idle.
class TButtonRun {
public:
    TButtonRun(TfMain &form, TStopButton button);
    ~TButtonRun();
    TButtonRun(const TButtonRun &) = delete;
    TButtonRun &operator=(const TButtonRun &) = delete;

    void BeginExchange();

private:
    TfMain &FForm;
    TStopButton FButton;
    bool FExchanging = false;
};

// The stop request of the loops, through RunFlag. StartLoop sets it (a loop's first step);
// RequestLoopStop clears it and ends a pause at once (the stop click, window thread).
void StartLoop();
void RequestLoopStop();
bool LoopRunning();
// Waits up to pause, less when a stop comes; true while the loop may go on.
bool LoopPause(std::chrono::milliseconds pause);

// One loop: its button, the pause after each step, the step itself (port open, link lock held;
// what it throws ends the loop), and what it restores at its end, before the port closes (the
// loop's readouts; may be empty).
struct TLoop {
    TStopButton Button;
    std::chrono::milliseconds Pause{0};
    std::function<void()> Step;
    std::function<void()> Finish;
};

// The loop frame, on a worker: RunFlag 1, the stop caption, the exchange state; the port opened
// once without the lock (a failure ends the loop at once, without a message); while no stop: the
// link lock taken (a stop that came meanwhile ends the loop without a step), one step, the lock
// released, the pause. Then Finish, the port closed, the start caption, the exchange state idle.
void RunLoop(TDevice &device, const TLoop &loop);
