#pragma once
// Operations run from a start/stop button (the device search, the measuring loops, the cyclic
// indicator test): the button's captions while they run and the stop request of the loops. The
// frame that every loop shares is RunLoop (device_loops.h).
//
// The button decides by its caption (TfMain::ToggleClick): the start caption shows the stop
// caption at once and starts the operation on a worker, the stop caption shows "Wait..." and
// asks for the stop, "Wait..." does nothing. So a quick second click (a double click) stops what
// the first started. The worker shows the start caption once it has ended, on every path (a
// declined question too), so the button never reads "Wait..." or the stop caption with nothing
// running.
//
// A loop's stop is never lost: RunFlag becomes 1 (on the start click) before the stop caption
// shows and is never set again during the run, so a stop clicked at any moment of the run
// (before the worker has begun, while the port opens, while the link lock is awaited, during a
// pause) ends it; a pause ends at once on a stop.
#include <QString>

#include <chrono>

class QAbstractButton;
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

// One run of a button's operation, any thread. Made: the stop caption shows, unless a stop was
// already asked for ("Wait..." stays). BeginExchange:
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

// The stop request of the loops, through RunFlag. StartLoop sets it (the start click);
// RequestLoopStop clears it and ends a pause at once (the stop click, window thread).
void StartLoop();
void RequestLoopStop();
bool LoopRunning();
// Waits up to pause, less when a stop comes; true while the loop may go on.
bool LoopPause(std::chrono::milliseconds pause);
