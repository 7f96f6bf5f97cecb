#pragma once
// What the calibration, monitor and inspection tests share: the transfers' window fixture with
// a calibration play on the simulated instrument.
#include "tests/support/setup_transfer_fixture.h"

#include "instrument_play.h"

#include <memory>

namespace loops {

using transfers::Trace;
using ::WaitFor;

// Plays given readings on the instrument (replacing any play it had); change() fills them.
inline void Play(sim::InstrumentSim &line, const std::function<void(sim::SignalPlay &)> &change)
{
    line.modify(0, [&](sim::InstrumentModel &m) {
        m.play = std::make_shared<sim::SignalPlay>();
        change(*m.play);
    });
}

// Changes the play the instrument has, under the simulator's lock.
inline void ChangePlay(sim::InstrumentSim &line, const std::function<void(sim::SignalPlay &)> &change)
{
    line.modify(0, [&](sim::InstrumentModel &m) { change(*m.play); });
}

inline sim::AdcReading Reading(float v1, float v2, float v3, std::uint8_t code = 1, float measured = 0)
{
    return {code, measured, v1, v2, v3};
}

// How many lines of the trace are exactly this.
inline int Count(const QStringList &trace, const QString &line)
{
    return int(trace.count(line));
}

// Serves the window until the condition holds; fails the test (without hanging) otherwise.
#define LOOP_WAIT(condition) QVERIFY2(loops::WaitFor([&] { return bool(condition); }, 20000), #condition)

} // namespace loops
