#pragma once
// The frame that every measurement loop shares: the three monitors, the inspection and the
// cyclic indicator test.
//
// The start click has raised RunFlag and shown the stop caption (in that order, so a stop
// clicked as soon as the caption reads "stop" is never lost). RunLoop keeps the loop's own
// button enabled through
// AlwaysEnabledMask while the exchange state is Exchanging, opens the port once, and then,
// while RunFlag stays 1, takes the link lock for one sample, releases it, shows what the sample
// left for after the lock and pauses. Its end, on every path: readouts back to rest and the
// start caption (unless the caller ends them itself), port closed, the button's id out of the
// mask, exchange state idle.
//
// Threads: RunLoop runs on the loop's worker. The button and the readouts are only ever touched
// on the window thread: the frame hands each change over and waits for it, so the window's
// queue never holds more than one change of a loop.
#include <QString>

#include <cstdint>
#include <functional>

class QAbstractButton;
class TDevice;

struct TLoop {
    QAbstractButton *Button = nullptr;  // the start/stop button; only touched on the window thread
    QString StartText;
    QString StopText;
    int AccessId = 0;                   // kept enabled while the loop runs
    unsigned PauseMs = 0;               // after each sample
    // Once the port is open, before RunFlag is first tested. May be empty.
    std::function<void()> Opened;
    // One sample, under the link lock: link commands and readouts that follow each command.
    std::function<void()> Sample;
    // After the lock has been released: what shows the whole sample. May be empty.
    std::function<void()> Show;
    // Window thread: the loop's readouts back to their rest texts.
    std::function<void()> Rest;
    // The port could not be opened (text of the failure). May be empty: the loop just ends.
    std::function<void(const QString &)> PortFailed;
    // The caller restores caption and readouts itself after its own closing steps.
    bool CallerEnds = false;
};

// 0 when the loop ran until stopped, -1 when the port could not be opened (or the frame lacks
// a form).
std::int32_t RunLoop(TDevice &device, const TLoop &loop);

// Runs a link read that may also fail by a reply that is no number: true when it succeeded.
bool ReadSucceeded(const std::function<std::int32_t()> &read);

// Texts of the loops' readouts.
extern const QString NoDataText;     // "No Data", at rest
extern const QString ReadErrorText;  // "Ошибка!", a failed read
extern const QString MeasureStartText;
extern const QString MeasureStopText;
// A value as fixed-point text with `decimals` digits after the point (none and no point for 0),
// rounded; a value that rounds to zero shows without a sign.
QString ReadoutText(double value, int decimals);
