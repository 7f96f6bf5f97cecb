#include "line_sim.h"

#include "parcel.h"
#include "protocol.h"
#include "pty_line.h"
#include "request_log.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <numbers>
#include <thread>

namespace sim {

using Clock = PtyLine::Clock;

namespace {

constexpr std::size_t kMaxLine = 256;   // a line longer than this is noise and dropped
const char kGarbage[] = "\x7f?Z#%\x01\xfe" "0&\r";

} // namespace

struct LineSim::Private {
    mutable std::mutex mutex;
    std::map<std::uint8_t, int> instruments;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::string> fixedValues;
    RequestLog<LineRequest, LineSimStats> record;
    bool pacing = false;
    bool echo = false;
    std::chrono::microseconds turnaround{1000};
    std::chrono::milliseconds lateDelay{1500};
    ReplyDelay replyDelay;
    std::mt19937 random{1};
    LineFault fault = LineFault::None;
    int faultCount = 0;
    LineFault periodicFault = LineFault::None;
    int periodicEvery = 0;
    std::uint64_t answered = 0;
    const Clock::time_point start = Clock::now();

    PtyLine line;
    std::thread thread;

    void run();
    void handle(std::string_view text, Clock::time_point arrived);
    LineFault takeFault();
    std::string valueNow(std::uint8_t instrument, std::uint8_t channel) const;
};

std::string LineSim::Private::valueNow(std::uint8_t instrument, std::uint8_t channel) const
{
    if (const auto it = fixedValues.find({instrument, channel}); it != fixedValues.end())
        return it->second;
    // A slow wave around a level of its own for every channel, so that values differ from
    // channel to channel and change from reading to reading.
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double v = instrument * 10.0 + channel + 0.5 * std::sin(2 * std::numbers::pi * seconds / 20.0 + channel);
    // A decimal point whatever the locale: printf would write the decimal comma of a Russian or
    // German locale, which the Qt programs set for the C library at start.
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 3);
    return std::string(text, written.ptr);
}

LineFault LineSim::Private::takeFault()
{
    ++answered;
    if (fault != LineFault::None) {
        const LineFault f = fault;
        if (faultCount > 0 && --faultCount == 0)
            fault = LineFault::None;
        return f;
    }
    if (periodicEvery > 0 && answered % static_cast<std::uint64_t>(periodicEvery) == 0)
        return periodicFault;
    return LineFault::None;
}

void LineSim::Private::run()
{
    std::string rx;
    Clock::time_point rxStart;
    std::uint8_t chunk[512];
    while (line.waitReadable()) {
        const long n = line.read(chunk, sizeof chunk);
        if (n <= 0)
            continue;
        const auto now = Clock::now();
        for (long i = 0; i < n; ++i) {
            if (rx.empty())
                rxStart = now;
            const char c = static_cast<char>(chunk[i]);
            rx += c;
            if (c == vksproto::kTerminator) {
                // The request has crossed the line once its last byte is in.
                bool paced = false;
                {
                    std::lock_guard lock(mutex);
                    paced = pacing;
                }
                const auto arrived = rxStart + (paced ? line.byteTime() * static_cast<long>(rx.size()) : Clock::duration::zero());
                handle(rx, arrived);
                rx.clear();
            } else if (rx.size() > kMaxLine) {
                rx.clear();
            }
        }
    }
}

void LineSim::Private::handle(std::string_view text, Clock::time_point arrived)
{
    vksproto::Request request;
    // Anything before the last "#" of the line is noise.
    const std::size_t at = text.rfind(vksproto::kRequestMark);
    const bool valid = at != std::string_view::npos && vksproto::parseRequest(text.substr(at), request) == vksproto::Parsed::Ok;

    std::string answer;
    LineFault f = LineFault::None;
    bool echoing = false;
    bool paced = false;
    std::chrono::nanoseconds turnaroundTime{0};
    std::chrono::milliseconds late{0};
    ReplyDelay delay;
    std::chrono::microseconds delayed{0};
    {
        std::lock_guard lock(mutex);
        echoing = echo;
        paced = pacing;
        if (!valid) {
            record.count([](LineSimStats &s) { ++s.rejected; });
        } else {
            record.add({request.instrument, request.command, request.channel}, [&](LineSimStats &s) {
                ++s.requests;
                s.bytesIn += text.size();
            });
        }
        const auto it = valid ? instruments.find(request.instrument) : instruments.end();
        if (it != instruments.end()) {
            f = takeFault();
            vksproto::Answer a{request.instrument, request.channel, request.seq, {}};
            if (request.command != VKS2810_CMD_READ_VALUE)
                a.value = "$01 unknown command";
            else if (request.channel == 0 || request.channel > it->second)
                a.value = "$02 no such channel";
            else if (f == LineFault::ErrorAnswer)
                a.value = "$03 sensor break";
            else
                a.value = valueNow(request.instrument, request.channel);
            if (f == LineFault::WrongChannel)
                ++a.channel;
            if (f == LineFault::WrongInstrument)
                ++a.instrument;
            answer = vksproto::encodeAnswer(a);
            if (f == LineFault::BadChecksum)
                answer[answer.size() - 2] = answer[answer.size() - 2] == '0' ? '1' : '0';
            if (f == LineFault::Garbage)
                answer = kGarbage;
            if (pacing)
                turnaroundTime = turnaround;
            late = lateDelay;
            delay = replyDelay;
            delayed = delay.pick(random);
        }
    }
    const auto tb = paced ? line.byteTime() : std::chrono::nanoseconds(0);
    if (echoing) {
        if (!line.waitUntil(arrived) || !line.writeAll(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()))
            return;
    }
    if (answer.empty() || f == LineFault::Silence)
        return;
    Clock::time_point ready = arrived + turnaroundTime + tb * static_cast<long>(answer.size()) + delayed;
    if (f == LineFault::LateAnswer)
        ready += late;
    Clock::duration writtenLate{0};
    if (!line.writeAt(ready, reinterpret_cast<const std::uint8_t *>(answer.data()), answer.size(), delay, &writtenLate))
        return;
    record.count([&](LineSimStats &s) {
        ++s.answers;
        s.bytesOut += answer.size();
        s.lastAnswerDue = ready;
        s.lastAnswerLate = writtenLate;
    });
}

LineSim::LineSim(const std::map<std::uint8_t, int> &instruments) : d(std::make_unique<Private>())
{
    d->instruments = instruments;
    if (d->line.isValid())
        d->thread = std::thread([this] { d->run(); });
}

LineSim::~LineSim()
{
    d->line.stop();
    if (d->thread.joinable())
        d->thread.join();
}

bool LineSim::isValid() const { return d->thread.joinable(); }

std::string LineSim::portPath() const { return d->line.path(); }

void LineSim::setPacing(bool on)
{
    std::lock_guard lock(d->mutex);
    d->pacing = on;
}

void LineSim::setTurnaround(std::chrono::microseconds turnaround)
{
    std::lock_guard lock(d->mutex);
    d->turnaround = turnaround;
}

void LineSim::setLateDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(d->mutex);
    d->lateDelay = delay;
}

void LineSim::setReplyDelay(const ReplyDelay &delay)
{
    std::lock_guard lock(d->mutex);
    d->replyDelay = delay;
}

void LineSim::setEcho(bool on)
{
    std::lock_guard lock(d->mutex);
    d->echo = on;
}

void LineSim::injectFault(LineFault fault, int count)
{
    std::lock_guard lock(d->mutex);
    d->fault = count == 0 ? LineFault::None : fault;
    d->faultCount = count;
}

void LineSim::setPeriodicFault(LineFault fault, int every)
{
    std::lock_guard lock(d->mutex);
    d->periodicFault = every > 0 ? fault : LineFault::None;
    d->periodicEvery = std::max(every, 0);
}

void LineSim::clearFaults()
{
    std::lock_guard lock(d->mutex);
    d->fault = d->periodicFault = LineFault::None;
    d->faultCount = d->periodicEvery = 0;
}

void LineSim::addInstrument(std::uint8_t number, int channels)
{
    std::lock_guard lock(d->mutex);
    d->instruments[number] = channels;
}

void LineSim::removeInstrument(std::uint8_t number)
{
    std::lock_guard lock(d->mutex);
    d->instruments.erase(number);
}

void LineSim::setValue(std::uint8_t instrument, std::uint8_t channel, const std::string &value)
{
    std::lock_guard lock(d->mutex);
    if (value.empty())
        d->fixedValues.erase({instrument, channel});
    else
        d->fixedValues[{instrument, channel}] = value;
}

std::string LineSim::value(std::uint8_t instrument, std::uint8_t channel) const
{
    std::lock_guard lock(d->mutex);
    return d->valueNow(instrument, channel);
}

std::vector<LineRequest> LineSim::log() const { return d->record.requests(); }
void LineSim::clearLog() { d->record.clear(); }
bool LineSim::waitForLog(std::size_t count, std::chrono::milliseconds timeout) const
{
    return d->record.waitFor(count, timeout);
}
LineSimStats LineSim::stats() const { return d->record.stats(); }
void LineSim::resetStats() { d->record.resetStats(); }

bool parseInstrumentList(const std::string &text, int defaultChannels, std::map<std::uint8_t, int> &out)
{
    std::map<std::uint8_t, int> found;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        unsigned number = 0;
        int channels = defaultChannels;
        char tail = 0;
        const int n = std::sscanf(item.c_str(), "%u:%d%c", &number, &channels, &tail);
        const bool plain = item.find(':') == std::string::npos;
        if (number > 255 || channels < 1 || channels > 255 || (plain ? n != 1 : n != 2)
            || item.find_first_not_of("0123456789:") != std::string::npos)
            return false;
        found[static_cast<std::uint8_t>(number)] = channels;
    }
    if (found.empty())
        return false;
    out.insert(found.begin(), found.end());
    return true;
}

} // namespace sim
