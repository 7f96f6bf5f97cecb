// The link against the simulated instrument keeping wire time, at 9600 and 19200 baud:
//   (a) reading all settings: set EEPROM address 0, read 87 bytes;
//   (b) reading the whole EEPROM: 2048 bytes;
//   (c) searching addresses 0 to 255 with one instrument at 200;
//   (d) the same search through the setup program's SearchDevices, its reports shown by the window;
//   (e) at 19200 baud, reading the whole EEPROM with 1 to 16 random noise bytes before every reply;
//   (f) 1000 exchanges whose replies all come 30 to 60 ms late (a USB adapter's latency timer and
//       a slow instrument), with the exchanges that failed: there must be none.
// For each: measured time, wire time (the bytes that crossed at 10 bits a byte, noise included,
// plus the simulator's turnaround) and their ratio; a timed run lasts at least 10 s of wire time
// (repeated where one pass is shorter), so that one late wake-up of 200 ms moves its ratio by
// 0.02 at most. A silent address of the search costs the Identify's wire time and the link's
// reply allowance (EX_REPLY_ALLOWANCE_MS), at most 110 ms more than the wire time. Then the
// exchanges that failed under noise (without pacing, the line's speed does not matter to them):
// one noise byte, sixteen, and 1 to 16 before each reply.
// The simulator is a program that a busy machine may wake late: it notes when it wrote each
// reply, and a failed exchange whose reply was written after the exchange's time-out counts as
// the rig's ("written late"), one whose reply was out in time as the link's ("lost"). The
// figures are met, and the exit status is 0, when the link lost none, whatever the rig did.
// The bench measures the field's allowance: the variables that widen it are cleared.
// Last line: "ratio N.NN", the worst of (a), (b) and (e).
#include "extlibs/ex_com/ex_com.h"
#include "sim/instrument_sim.h"
#include "window_search.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double wireSeconds(const sim::LineStats &s, int baud)
{
    return double(s.bytesIn + s.bytesOut + s.noiseBytes) * 10.0 / baud + std::chrono::duration<double>(s.turnaround).count();
}

int exchange(uint32_t link, uint8_t address, uint8_t command, const char *argument)
{
    char buffer[EX_TEXT_SIZE] = {};
    std::snprintf(buffer, sizeof buffer, "%s", argument);
    char *text = buffer;
    return EX_Exchange(link, EX_DEVICE_TYPE, address, command, &text);
}

constexpr double kShortestRun = 10.0;   // seconds of wire time in a timed run

// The exchanges of a run, each with its start and the longest it may take (as ex_com.h gives
// it), judged against the times the simulator wrote the replies (one reply to each request).
class Exchanges {
public:
    explicit Exchanges(int baud) : m_baud(baud) {}

    bool run(uint32_t link, uint8_t command, const char *argument)
    {
        const std::size_t replyText = command == 1 ? 16 : 3;
        const std::size_t bytes = EX_FRAME_OVERHEAD + std::strlen(argument) + EX_FRAME_OVERHEAD + replyText + EX_MARGIN_BYTES;
        const auto allowed = std::chrono::nanoseconds(static_cast<long long>(bytes) * 10 * 1000000000LL / m_baud)
                             + std::chrono::milliseconds(EX_REPLY_ALLOWANCE_MS);
        const auto start = Clock::now();
        const bool ok = exchange(link, 0, command, argument) == EX_OK;
        m_runs.push_back({start + allowed, ok});
        return ok;
    }
    std::size_t size() const { return m_runs.size(); }

    // Failed exchanges whose reply the simulator wrote after the deadline (or never), and those
    // whose reply was out in time.
    void judge(const std::vector<Clock::time_point> &written, int &late, int &lost) const
    {
        late = lost = 0;
        for (std::size_t i = 0; i < m_runs.size(); ++i) {
            if (m_runs[i].ok)
                continue;
            if (i < written.size() && written[i] <= m_runs[i].deadline)
                ++lost;
            else
                ++late;
        }
    }

private:
    struct Run {
        Clock::time_point deadline;
        bool ok;
    };
    int m_baud;
    std::vector<Run> m_runs;
};

struct Figures {
    double measured = 0;
    double wire = 0;
    sim::LineStats stats;
    int exchanges = 0;
    int late = 0;   // failed, the reply written late by the simulator
    int lost = 0;   // failed with the reply out in time: the link's
    bool ok() const { return lost == 0; }
    double ratio() const { return wire > 0 ? measured / wire : 0; }
    void judge(const Exchanges &e)
    {
        exchanges = static_cast<int>(e.size());
        e.judge(stats.written, late, lost);
    }
};

// Sets EEPROM address 0 and reads count bytes one by one, as often as it takes to fill a timed
// run; a pass is timed from its first exchange to its last.
Figures readEeprom(uint32_t link, sim::InstrumentSim &simulator, int baud, int count)
{
    Figures f;
    Exchanges e(baud);
    simulator.resetStats();
    do {
        const auto start = Clock::now();
        e.run(link, 2, "0");
        for (int i = 0; i < count; ++i)
            e.run(link, 3, "");
        f.measured += seconds(Clock::now() - start);
        f.stats = simulator.stats();
        f.wire = wireSeconds(f.stats, baud);
    } while (f.wire < kShortestRun && f.stats.replies > 0);   // a line that never answers: one pass
    f.judge(e);
    return f;
}

// Reads EEPROM bytes count times (setting the address back to 0 every 1000 reads) with the
// noise given before every reply.
Figures underNoise(const sim::Noise &noise, int count)
{
    sim::InstrumentSim simulator({0});
    simulator.setNoise(noise);
    uint32_t link = EX_CreateCOM();
    EX_SetBaudRate(link, 19200);
    Figures f;
    Exchanges e(19200);
    if (EX_OpenCOM(link, simulator.portPath().c_str()) != EX_OK) {
        EX_FreeCOM(&link);
        f.lost = count;
        return f;
    }
    for (int i = 0; i < count; ++i)
        e.run(link, i % 1000 == 0 ? 2 : 3, i % 1000 == 0 ? "0" : "");
    f.stats = simulator.stats();
    f.judge(e);
    EX_FreeCOM(&link);
    return f;
}

// Reads count EEPROM bytes (the address set once, counted among them) with every reply delayed.
Figures lateReplies(int baud, const sim::ReplyDelay &delay, int count)
{
    sim::InstrumentSim simulator({0});
    simulator.setPacing(true);
    simulator.setReplyDelay(delay);
    uint32_t link = EX_CreateCOM();
    EX_SetBaudRate(link, baud);
    Figures f;
    Exchanges e(baud);
    if (EX_OpenCOM(link, simulator.portPath().c_str()) != EX_OK) {
        EX_FreeCOM(&link);
        f.lost = count;
        return f;
    }
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        e.run(link, i == 0 ? 2 : 3, i == 0 ? "0" : "");
    f.measured = seconds(Clock::now() - start);
    f.stats = simulator.stats();
    f.wire = wireSeconds(f.stats, baud);
    f.judge(e);
    std::printf("  (f) %d exchanges, replies %lld-%lld ms late: %d written late by the simulator, %d lost by the link, "
                "%.3f s (%.1f ms an exchange)%s\n",
                count, static_cast<long long>(delay.least.count()), static_cast<long long>(delay.most.count()), f.late,
                f.lost, f.measured, f.measured * 1000 / count, f.ok() ? "" : "  FAILED");
    EX_FreeCOM(&link);
    return f;
}

void print(const char *what, const Figures &f)
{
    std::printf("  %-30s measured %8.3f s  wire %8.3f s  ratio %.3f  (%llu exchanges, %llu bytes; written late %d, "
                "lost %d)%s\n",
                what, f.measured, f.wire, f.ratio(), static_cast<unsigned long long>(f.stats.requests),
                static_cast<unsigned long long>(f.stats.bytesIn + f.stats.bytesOut), f.late, f.lost,
                f.ok() ? "" : "  FAILED");
}

} // namespace

int main()
{
    unsetenv("EX_COM_REPLY_ALLOWANCE_MS");
    unsetenv("COMPORT_ANSWER_TIMEOUT_MS");
    double worst = 0;
    bool allOk = true;
    for (const int baud : {9600, 19200}) {
        std::printf("baud %d\n", baud);
        const double byteTime = 10.0 / baud;
        {
            sim::InstrumentSim simulator({0});
            simulator.setPacing(true);
            uint32_t link = EX_CreateCOM();
            EX_SetBaudRate(link, baud);
            if (EX_OpenCOM(link, simulator.portPath().c_str()) != EX_OK) {
                std::printf("  cannot open the simulator's port\n");
                return 1;
            }
            const Figures a = readEeprom(link, simulator, baud, 87);
            print("(a) read all settings", a);
            const Figures b = readEeprom(link, simulator, baud, 2048);
            print("(b) read 2048 EEPROM bytes", b);
            worst = std::max({worst, a.ratio(), b.ratio()});
            allOk = allOk && a.ok() && b.ok();

            simulator.resetStats();
            exchange(link, 0, 3, "");
            const sim::LineStats one = simulator.stats();
            std::printf("  single-byte read: %llu bytes (request %llu + reply %llu; target <= 24)\n",
                        static_cast<unsigned long long>(one.bytesIn + one.bytesOut),
                        static_cast<unsigned long long>(one.bytesIn), static_cast<unsigned long long>(one.bytesOut));
            EX_FreeCOM(&link);
        }
        {
            sim::InstrumentSim simulator({200});
            simulator.setPacing(true);
            uint32_t link = EX_CreateCOM();
            EX_SetBaudRate(link, baud);
            EX_OpenCOM(link, simulator.portPath().c_str());

            simulator.resetStats();
            exchange(link, 200, 0, "");
            const sim::LineStats identify = simulator.stats();
            const double identifyWire = wireSeconds(identify, baud);
            const double identifyBytes = double(identify.bytesIn + identify.bytesOut);

            simulator.resetStats();
            char buffer[EX_SEARCH_TEXT_SIZE] = {};
            char *text = buffer;
            const auto start = Clock::now();
            const int rc = EX_SearchAvailableDevices(link, 1, 0, EX_DEVICE_TYPE, 0, 255, &text);
            Figures c;
            c.measured = seconds(Clock::now() - start);
            c.stats = simulator.stats();
            c.wire = wireSeconds(c.stats, baud);
            c.lost = rc == EX_OK && std::string(buffer) == "200" ? 0 : 1;
            allOk = allOk && c.ok();
            print("(c) search 0..255", c);
            const double silent = (c.measured - identifyWire) / 255.0;
            const double silentWire = identifyBytes * byteTime;
            const double target = silentWire + 0.110;
            std::printf("  silent address: %.1f ms = wire %.1f ms + %.1f ms (allowance %d ms; target <= wire + 110 ms)%s\n",
                        silent * 1000, silentWire * 1000, (silent - silentWire) * 1000, EX_REPLY_ALLOWANCE_MS,
                        silent <= target ? "" : "  OVER");
            EX_FreeCOM(&link);

            const WindowSearch d = searchThroughWindow(simulator, baud, 200);
            allOk = allOk && d.ok;
            const double windowSilent = (d.seconds - identifyWire) / 255.0;
            std::printf("  (d) SearchDevices 0..255: %.3f s; silent address: %.1f ms (target <= %.1f ms)%s%s\n",
                        d.seconds, windowSilent * 1000, target * 1000, windowSilent <= target ? "" : "  OVER",
                        d.ok ? "" : "  FAILED");
        }
        allOk = lateReplies(baud, {std::chrono::milliseconds(30), std::chrono::milliseconds(60)}, 1000).ok() && allOk;
    }
    {
        std::printf("baud 19200, noise\n");
        sim::InstrumentSim simulator({0});
        simulator.setPacing(true);
        simulator.setNoise({16, 0, false, 1.0, 7});
        uint32_t link = EX_CreateCOM();
        EX_SetBaudRate(link, 19200);
        EX_OpenCOM(link, simulator.portPath().c_str());
        const Figures d = readEeprom(link, simulator, 19200, 2048);
        print("(e) 2048 bytes, 1..16 noise", d);
        std::printf("  noise bytes %llu\n", static_cast<unsigned long long>(d.stats.noiseBytes));
        worst = std::max(worst, d.ratio());
        allOk = allOk && d.ok();
        EX_FreeCOM(&link);

        const Figures one = underNoise({1, 0, true, 1.0, 11}, 2000);
        const Figures sixteen = underNoise({16, 0, true, 1.0, 13}, 2000);
        const Figures upTo16 = underNoise({16, 0, false, 1.0, 17}, 10000);
        std::printf("  lost by the link under noise: %d of 2000 with 1 byte, %d of 2000 with 16 bytes, %d of 10000 with "
                    "1..16 bytes (written late by the simulator: %d, %d, %d)\n",
                    one.lost, sixteen.lost, upTo16.lost, one.late, sixteen.late, upTo16.late);
        allOk = allOk && one.ok() && sixteen.ok() && upTo16.ok();
    }
    if (!allOk)
        std::printf("some exchanges FAILED\n");
    std::printf("ratio %.2f\n", worst);
    return allOk ? 0 : 1;
}
