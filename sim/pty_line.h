#pragma once
// The simulator's end of a pseudo-terminal: the master side that a simulator serves, a slave
// descriptor of its own that keeps the terminal alive between the program's opens, the name that
// programs open it by (port_name.h), and the waits and writes a serving thread needs, each cut
// short when the simulator stops.
//
// Wire time: pseudo-terminals pass bytes at once whatever the baud rate. byteTime() reads the
// baud rate that the program set on its end (tcgetattr on the master shows the slave's
// settings), so that a simulator can hand its answers over when a real line would.
#include "pty_master.h"
#include "reply_delay.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class PtyLine {
public:
    using Clock = std::chrono::steady_clock;

    PtyLine();   // opens the terminal; isValid() says whether that worked
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool isValid() const { return m_pty.isValid() && m_holder >= 0 && m_wake >= 0; }
    // The name a program opens: /dev/pts/N, or a private link to it (port_name.h).
    const std::string &path() const { return m_pty.path(); }
    int masterFd() const { return m_pty.fd(); }

    // From any thread: every wait and write returns at once from now on.
    void stop();
    bool stopping() const;
    // Waits until data can be read from the master; false when stopped or the line failed.
    bool waitReadable();
    // Reads what is there: count, 0 for nothing.
    long read(std::uint8_t *buffer, std::size_t size);
    // Waits until the time; false when stopped first.
    bool waitUntil(Clock::time_point when) const;
    bool writeAll(const std::uint8_t *data, std::size_t size);
    // Waits until the time, then writes the bytes, in the bursts of `delay` when it has them
    // (each burst at its own time from `when` on, so that one late wake-up delays no other);
    // false when stopped first or the write failed. With `late` given, it tells how long after
    // its time the most belated burst was out (this thread may be woken late).
    bool writeAt(Clock::time_point when, const std::uint8_t *data, std::size_t size, const ReplyDelay &delay,
                 Clock::duration *late = nullptr);
    // One byte's wire time (10 bits) at the baud rate set on the terminal.
    std::chrono::nanoseconds byteTime() const;
    // Removes the private name, then closes both ends: the program's open descriptor sees the
    // line gone, and an open by the name finds nothing.
    void close();

private:
    PtyMaster m_pty;
    int m_holder = -1;
    int m_wake = -1;
};

// The commands' way of serving until they are stopped: BlockStopSignals before any thread
// starts (so that no thread but the waiter sees SIGINT, SIGTERM or SIGHUP), then
// WaitForStopSignal once the simulator serves.
void BlockStopSignals();
void WaitForStopSignal();

} // namespace sim
