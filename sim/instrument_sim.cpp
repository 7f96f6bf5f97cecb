#include "instrument_sim.h"

#include "frame.h"
#include "pty_line.h"
#include "request_log.h"

#include <algorithm>
#include <random>

namespace sim {

using Clock = PtyLine::Clock;

struct InstrumentSim::Private {
    mutable std::mutex mutex;
    std::map<std::uint8_t, InstrumentModel> instruments;
    RequestLog<CommandRecord, LineStats> record;
    bool pacing = false;
    bool echo = false;
    std::chrono::microseconds turnaround{1000};
    std::chrono::milliseconds slowDelay{1500};
    Fault fault = Fault::None;
    int faultCount = 0;
    Noise noise;
    ReplyDelay replyDelay;
    std::mt19937 random{1};
    bool lineOpen = false;

    PtyLine line;
    std::thread thread;

    void closeLine();
    void run();
    void handle(const excom::Frame &request, const std::uint8_t *raw, std::size_t size, Clock::time_point arrived);
    Fault takeFault();
    std::vector<std::uint8_t> takeNoise(int most);
    template <class T>
    void set(T &field, T value)
    {
        std::lock_guard lock(mutex);
        field = value;
    }
    bool paced() const
    {
        std::lock_guard lock(mutex);
        return pacing;
    }
};

void InstrumentSim::Private::closeLine()
{
    std::lock_guard lock(mutex);
    line.close();
    lineOpen = false;
}

Fault InstrumentSim::Private::takeFault()
{
    const Fault f = fault;
    if (f != Fault::None && faultCount > 0 && --faultCount == 0)
        fault = Fault::None;
    return f;
}

// 1 to `most` random bytes (`most` when exact) with the probability noise.rate, else none.
// Called under the mutex.
std::vector<std::uint8_t> InstrumentSim::Private::takeNoise(int most)
{
    if (most <= 0 || std::uniform_real_distribution<double>(0, 1)(random) >= noise.rate)
        return {};
    const std::size_t count = noise.exact ? std::size_t(most)
                                          : std::uniform_int_distribution<std::size_t>(1, std::size_t(most))(random);
    std::vector<std::uint8_t> bytes(count);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(byte(random));
    return bytes;
}

void InstrumentSim::Private::run()
{
    std::vector<std::uint8_t> rx;
    Clock::time_point rxStart;
    std::uint8_t chunk[512];
    while (line.waitReadable()) {
        const long n = line.read(chunk, sizeof chunk);
        if (n <= 0)
            continue;
        if (rx.empty())
            rxStart = Clock::now();
        rx.insert(rx.end(), chunk, chunk + n);
        std::size_t pos = 0;
        while (pos < rx.size() && line.masterFd() >= 0) {
            const excom::DecodeResult r = excom::decodeFrame(rx.data() + pos, rx.size() - pos);
            if (r.status == excom::Decoded::NeedMore)
                break;
            if (r.status == excom::Decoded::Frame && !r.frame.reply) {
                // The request has crossed the line once its last byte is in.
                const Clock::time_point arrived = rxStart + (paced() ? line.byteTime() * static_cast<long>(r.consumed) : Clock::duration::zero());
                handle(r.frame, rx.data() + pos, r.consumed, arrived);
                rxStart = arrived;
            }
            pos += r.consumed;
        }
        if (line.masterFd() < 0)
            break;
        rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(pos));
    }
}

void InstrumentSim::Private::handle(const excom::Frame &request, const std::uint8_t *raw, std::size_t size,
                                    Clock::time_point arrived)
{
    excom::Frame reply;
    Fault f = Fault::None;
    bool paced = false;
    std::chrono::microseconds turnaroundTime{0};
    std::chrono::milliseconds slow{0};
    bool echoing = false;
    std::vector<std::uint8_t> noiseBefore, noiseAfter;
    ReplyDelay delay;
    std::chrono::microseconds late{0};
    {
        std::lock_guard lock(mutex);
        record.add({request.deviceType, request.address, request.command, request.text}, [&](LineStats &s) {
            ++s.requests;
            s.bytesIn += size;
        });
        paced = pacing;
        turnaroundTime = pacing ? turnaround : std::chrono::microseconds(0);
        slow = slowDelay;
        echoing = echo;
        const auto it = instruments.find(request.address);
        if (it != instruments.end()) {
            InstrumentModel &model = it->second;
            f = takeFault();
            reply.reply = true;
            reply.seq = request.seq;
            reply.deviceType = model.deviceType;
            reply.address = model.address;
            reply.command = request.command;
            CommandReply result;
            if (f == Fault::ErrorReply)
                result = {true, "99"};
            else if (request.command != 0 && request.deviceType != model.deviceType)
                result = {true, std::to_string(static_cast<int>(OtherDeviceType))};
            else
                result = model.execute(request.command, request.text);
            if (result.refused)
                reply.command |= excom::kRefusedBit;
            reply.text = result.text;
            if (f == Fault::WrongDeviceType) {
                reply.deviceType = static_cast<std::uint8_t>(model.deviceType + 1);
                if (request.command == 0)
                    reply.text = std::to_string(reply.deviceType);
            }
            if (f == Fault::WrongAddress)
                reply.address = static_cast<std::uint8_t>(model.address + 1);
            noiseBefore = takeNoise(noise.before);
            noiseAfter = takeNoise(noise.after);
            delay = replyDelay;
            late = delay.pick(random);
        } else {
            reply.reply = false;   // nobody at this address
        }
    }
    const auto tb = paced ? line.byteTime() : std::chrono::nanoseconds(0);
    if (echoing) {
        if (!line.waitUntil(arrived) || !line.writeAll(raw, size))
            return;
    }
    if (!reply.reply || f == Fault::NoAnswer)
        return;
    if (f == Fault::CloseLine) {
        closeLine();
        return;
    }
    std::vector<std::uint8_t> bytes = excom::encodeFrame(reply);
    if (f == Fault::BadCrc)
        bytes[bytes.size() - 2] ^= 0xFF;
    if (f == Fault::BrokenFrame)
        bytes.resize(bytes.size() / 2);
    const std::size_t replySize = bytes.size();
    bytes.insert(bytes.begin(), noiseBefore.begin(), noiseBefore.end());
    Clock::time_point ready = arrived + turnaroundTime + tb * static_cast<long>(bytes.size()) + late;
    if (f == Fault::SlowAnswer)
        ready += slow;
    if (!line.writeAt(ready, bytes.data(), bytes.size(), delay))
        return;
    const auto written = Clock::now();
    // Noise after the reply comes while the program already works on it.
    if (!noiseAfter.empty()
        && (!line.waitUntil(ready + tb * static_cast<long>(noiseAfter.size()))
            || !line.writeAll(noiseAfter.data(), noiseAfter.size())))
        return;
    record.count([&](LineStats &s) {
        ++s.replies;
        s.bytesOut += replySize;
        s.noiseBytes += noiseBefore.size() + noiseAfter.size();
        s.turnaround += turnaroundTime;
        s.written.push_back(written);
    });
}

InstrumentSim::InstrumentSim(const std::vector<std::uint8_t> &addresses) : d(std::make_unique<Private>())
{
    for (const std::uint8_t address : addresses)
        d->instruments.emplace(address, InstrumentModel(address));
    if (d->line.isValid()) {
        d->lineOpen = true;
        d->thread = std::thread([this] { d->run(); });
    }
}

InstrumentSim::~InstrumentSim()
{
    d->line.stop();
    if (d->thread.joinable())
        d->thread.join();
    d->closeLine();
}

bool InstrumentSim::isValid() const { return d->thread.joinable(); }

std::string InstrumentSim::portPath() const { return d->line.path(); }

bool InstrumentSim::lineOpen() const
{
    std::lock_guard lock(d->mutex);
    return d->lineOpen;
}

void InstrumentSim::setPacing(bool on) { d->set(d->pacing, on); }

void InstrumentSim::setTurnaround(std::chrono::microseconds turnaround) { d->set(d->turnaround, turnaround); }

void InstrumentSim::setEcho(bool on) { d->set(d->echo, on); }

void InstrumentSim::setReplyDelay(const ReplyDelay &delay) { d->set(d->replyDelay, delay); }

void InstrumentSim::setSlowDelay(std::chrono::milliseconds delay) { d->set(d->slowDelay, delay); }

void InstrumentSim::setNoise(const Noise &noise)
{
    std::lock_guard lock(d->mutex);
    d->noise = noise;
    d->random.seed(noise.seed);
}

void InstrumentSim::injectFault(Fault fault, int count)
{
    std::lock_guard lock(d->mutex);
    d->fault = count == 0 ? Fault::None : fault;
    d->faultCount = count;
}

void InstrumentSim::clearFaults() { injectFault(Fault::None, 0); }

void InstrumentSim::addInstrument(std::uint8_t address)
{
    std::lock_guard lock(d->mutex);
    d->instruments.try_emplace(address, address);
}

void InstrumentSim::removeInstrument(std::uint8_t address)
{
    std::lock_guard lock(d->mutex);
    d->instruments.erase(address);
}

InstrumentModel InstrumentSim::instrument(std::uint8_t address) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->instruments.find(address);
    return it != d->instruments.end() ? it->second : InstrumentModel(address);
}

void InstrumentSim::modify(std::uint8_t address, const std::function<void(InstrumentModel &)> &change)
{
    std::lock_guard lock(d->mutex);
    const auto it = d->instruments.find(address);
    if (it != d->instruments.end())
        change(it->second);
}

std::vector<CommandRecord> InstrumentSim::log() const { return d->record.requests(); }
void InstrumentSim::clearLog() { d->record.clear(); }
bool InstrumentSim::waitForLog(std::size_t count, std::chrono::milliseconds timeout) const
{
    return d->record.waitFor(count, timeout);
}
LineStats InstrumentSim::stats() const { return d->record.stats(); }
void InstrumentSim::resetStats() { d->record.resetStats(); }

} // namespace sim
