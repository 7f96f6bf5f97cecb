#pragma once
// The data driver's line of instruments on a pseudo-terminal, for tests, benchmarks and the
// demo (the command tagpump-sim).
//
// Any number of instruments share the one line, each at its own number with channels 1 to n;
// each answers the requests that name it in the ASCII protocol of extlibs/protocol/protocol.h,
// served from a thread of the simulator's own. A channel's value changes over time unless a
// fixed value or an instrument error is set for it. Faults on demand stand for a bad line or a
// sick instrument. Everything here may be called from any thread.
//
// With pacing on, the simulator keeps the wire time of the baud rate the program set: a request
// counts as arrived when its bytes have crossed at 10 bits a byte, the instrument takes its
// turnaround, and the answer is handed over when its last byte would have arrived.
#include "reply_delay.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

enum class LineFault {
    None,
    Silence,          // the request is not answered
    ErrorAnswer,      // the instrument answers "$03 sensor break"
    Garbage,          // bytes that are no answer, ended by a CR, in place of the answer
    LateAnswer,       // the right answer, but lateDelay() after its time
    BadChecksum,      // the answer's CRC is wrong
    WrongChannel,     // the answer names the next channel
    WrongInstrument,  // the answer names the next instrument number
};

struct LineRequest {
    std::uint8_t instrument = 0;
    std::uint8_t command = 0;
    std::uint8_t channel = 0;

    bool operator==(const LineRequest &) const = default;
};

struct LineSimStats {
    std::uint64_t requests = 0;   // valid requests seen, whoever they were for
    std::uint64_t answers = 0;    // answers (and garbage) sent
    std::uint64_t rejected = 0;   // lines that were no valid request
    std::uint64_t bytesIn = 0;    // bytes of the valid requests
    std::uint64_t bytesOut = 0;   // bytes sent
    // The latest answer: when its first byte was due, and how long after their times its bursts
    // were out at the most (the simulator's thread may be woken late, an instrument is not).
    std::chrono::steady_clock::time_point lastAnswerDue;
    std::chrono::steady_clock::duration lastAnswerLate{0};
};

class LineSim {
public:
    // Instrument number -> number of channels; by default instrument 1 with eight channels.
    explicit LineSim(const std::map<std::uint8_t, int> &instruments = {{1, 8}});
    ~LineSim();
    LineSim(const LineSim &) = delete;
    LineSim &operator=(const LineSim &) = delete;

    // False when no pseudo-terminal could be had; the simulator then does nothing.
    bool isValid() const;
    // The slave path to hand to SetCOMCfg (/dev/pts/N).
    std::string portPath() const;

    void setPacing(bool on);
    void setTurnaround(std::chrono::microseconds turnaround);   // 1 ms unless set; with pacing only
    void setLateDelay(std::chrono::milliseconds delay);         // of LateAnswer; 1500 ms unless set
    void setEcho(bool on);                                      // echo every request, as an RS-485 adapter
    // Every answer comes this much later than its time (with or without pacing); none unless set.
    void setReplyDelay(const ReplyDelay &delay);

    // The fault for the next count answers of any instrument (count < 0: until cleared).
    void injectFault(LineFault fault, int count = 1);
    // The fault for every every-th request answered (0: none); independent of injectFault.
    void setPeriodicFault(LineFault fault, int every);
    void clearFaults();

    void addInstrument(std::uint8_t number, int channels);
    void removeInstrument(std::uint8_t number);
    // A fixed value text for a channel (sent as it stands); empty: changing over time again.
    void setValue(std::uint8_t instrument, std::uint8_t channel, const std::string &value);
    // The value the channel would answer at the moment, as text.
    std::string value(std::uint8_t instrument, std::uint8_t channel) const;

    // Every valid request seen on the line, in order.
    std::vector<LineRequest> log() const;
    void clearLog();
    // Waits until the log holds at least count records; false at the time-out.
    bool waitForLog(std::size_t count, std::chrono::milliseconds timeout) const;

    LineSimStats stats() const;
    void resetStats();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// "1", "1:8", "3:16,4": instrument numbers with their channel counts (defaultChannels where
// none is given) added to out; false with out unchanged for a bad list.
bool parseInstrumentList(const std::string &text, int defaultChannels, std::map<std::uint8_t, int> &out);

} // namespace sim
