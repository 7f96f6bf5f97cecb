#pragma once
// The setup program's instruments on a pseudo-terminal, for tests, benchmarks and the demo.
//
// The simulator owns the master side of a pseudo-terminal and serves the link protocol of
// ex_com on it from a thread of its own; a program opens portPath() like any serial port. One
// or several instruments answer at their own network addresses. Everything here may be called
// from any thread.
//
// Wire time: pseudo-terminals pass bytes at once whatever the baud rate. With pacing on, the
// simulator reads the baud rate the program set (tcgetattr on the master shows the slave's
// settings) and answers as a real line would: a request counts as arrived when its bytes have
// crossed at 10 bits a byte, the instrument then takes its turnaround, and the reply is handed
// over when its last byte would have arrived. With pacing off it answers at once.
#include "instrument_model.h"
#include "reply_delay.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

enum class Fault {
    None,
    NoAnswer,         // the request is taken (and executed) but nothing is answered
    BrokenFrame,      // only the first half of the reply is sent
    BadCrc,           // the reply's CRC is wrong
    WrongDeviceType,  // the reply names another device type (and Identify says so)
    WrongAddress,     // the reply names another address
    ErrorReply,       // the instrument refuses the command (not executed)
    SlowAnswer,       // the reply comes after slowDelay(), beyond any time-out
    CloseLine,        // the line closes instead of answering; the simulator stops serving
};

struct CommandRecord {
    std::uint8_t deviceType = 0;
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::string argument;

    bool operator==(const CommandRecord &) const = default;
};

struct LineStats {
    std::uint64_t requests = 0;     // valid request frames seen, whoever they were for
    std::uint64_t replies = 0;
    std::uint64_t bytesIn = 0;      // bytes of those requests
    std::uint64_t bytesOut = 0;     // bytes of the replies (an adapter's echo not counted)
    std::chrono::nanoseconds turnaround{0};   // turnaround spent before the replies
    std::uint64_t noiseBytes = 0;   // stray bytes sent around the replies (noise mode)
    std::vector<std::chrono::steady_clock::time_point> written;   // when each reply was out, in order
};

// Stray bytes on the line, as a noisy cable or a floating RS-485 bus gives them: each reply is,
// with the probability `rate`, preceded by 1 to `before` random bytes and followed by 1 to
// `after` random bytes (0 for none), or exactly that many when `exact`. Markers are as likely as
// any other byte. With pacing on the noise takes its wire time like any byte.
struct Noise {
    int before = 0;
    int after = 0;
    bool exact = false;
    double rate = 1.0;
    std::uint32_t seed = 1;
};

class InstrumentSim {
public:
    // One instrument at each address given.
    explicit InstrumentSim(const std::vector<std::uint8_t> &addresses = {0});
    ~InstrumentSim();
    InstrumentSim(const InstrumentSim &) = delete;
    InstrumentSim &operator=(const InstrumentSim &) = delete;

    // False when no pseudo-terminal could be had; the simulator then does nothing.
    bool isValid() const;
    // The slave path to hand to EX_OpenCOM (/dev/pts/N).
    std::string portPath() const;
    // False once a CloseLine fault has closed the line.
    bool lineOpen() const;

    void setPacing(bool on);
    void setTurnaround(std::chrono::microseconds turnaround);   // 1 ms unless set; with pacing only
    void setEcho(bool on);                                      // echo every request, as an RS-485 adapter
    void setSlowDelay(std::chrono::milliseconds delay);         // of SlowAnswer; 1500 ms unless set
    void setNoise(const Noise &noise);                          // none unless set
    // Every reply comes this much later than its time (with or without pacing); none unless set.
    void setReplyDelay(const ReplyDelay &delay);

    // The fault for the next count replies (count < 0: until cleared); replaces the one set.
    void injectFault(Fault fault, int count = 1);
    void clearFaults();

    void addInstrument(std::uint8_t address);
    void removeInstrument(std::uint8_t address);
    // A copy of the instrument's state (a factory model when no instrument has that address).
    InstrumentModel instrument(std::uint8_t address = 0) const;
    // Changes the instrument's state under the simulator's lock.
    void modify(std::uint8_t address, const std::function<void(InstrumentModel &)> &change);

    // Every valid request seen on the line, in order.
    std::vector<CommandRecord> log() const;
    void clearLog();
    // Waits until the log holds at least count records; false at the time-out.
    bool waitForLog(std::size_t count, std::chrono::milliseconds timeout) const;

    LineStats stats() const;
    void resetStats();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sim
