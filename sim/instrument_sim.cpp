#include "instrument_sim.h"

#include "frame.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

namespace {

int baudOf(speed_t speed)
{
    switch (speed) {
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 9600;
    }
}

} // namespace

struct InstrumentSim::Private {
    mutable std::mutex mutex;
    mutable std::condition_variable logChanged;
    std::map<std::uint8_t, InstrumentModel> instruments;
    std::vector<CommandRecord> log;
    LineStats stats;
    bool pacing = false;
    bool echo = false;
    std::chrono::microseconds turnaround{1000};
    std::chrono::milliseconds slowDelay{1500};
    Fault fault = Fault::None;
    int faultCount = 0;
    Noise noise;
    std::mt19937 random{1};
    bool lineOpen = false;

    int master = -1;
    int holder = -1;   // our own slave descriptor: keeps the terminal alive between opens
    int wake = -1;
    std::string path;
    std::atomic<bool> stopping{false};
    std::thread thread;

    bool open();
    void closeLine();
    void run();
    void handle(const excom::Frame &request, const std::uint8_t *raw, std::size_t size, Clock::time_point arrived);
    Fault takeFault();
    std::vector<std::uint8_t> takeNoise(int most);
    bool waitUntil(Clock::time_point when) const;
    bool writeAll(const std::uint8_t *data, std::size_t size);
    std::chrono::nanoseconds byteTime() const;
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

bool InstrumentSim::Private::open()
{
    wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (wake < 0 || master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return false;
    path = name;
    holder = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (holder < 0)
        return false;
    termios tio{};
    tcgetattr(holder, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(holder, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    lineOpen = true;
    return true;
}

void InstrumentSim::Private::closeLine()
{
    std::lock_guard lock(mutex);
    if (master >= 0)
        ::close(master);
    if (holder >= 0)
        ::close(holder);
    master = holder = -1;
    lineOpen = false;
}

std::chrono::nanoseconds InstrumentSim::Private::byteTime() const
{
    termios tio{};
    const int baud = tcgetattr(master, &tio) == 0 ? baudOf(cfgetospeed(&tio)) : 9600;
    return std::chrono::nanoseconds(10 * 1000000000LL / baud);
}

bool InstrumentSim::Private::waitUntil(Clock::time_point when) const
{
    while (!stopping.load()) {
        const auto left = when - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{wake, POLLIN, 0};
        ppoll(&p, 1, &ts, nullptr);
    }
    return false;
}

bool InstrumentSim::Private::writeAll(const std::uint8_t *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size && !stopping.load()) {
        const ssize_t n = ::write(master, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p[2] = {{master, POLLOUT, 0}, {wake, POLLIN, 0}};
        ppoll(p, 2, nullptr, nullptr);
    }
    return done == size;
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
    while (!stopping.load()) {
        pollfd p[2] = {{master, POLLIN, 0}, {wake, POLLIN, 0}};
        if (ppoll(p, 2, nullptr, nullptr) < 0 && errno != EINTR)
            break;
        if (stopping.load())
            break;
        if (!(p[0].revents & POLLIN))
            continue;
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0)
            continue;
        if (rx.empty())
            rxStart = Clock::now();
        rx.insert(rx.end(), chunk, chunk + n);
        std::size_t pos = 0;
        while (pos < rx.size() && master >= 0) {
            const excom::DecodeResult r = excom::decodeFrame(rx.data() + pos, rx.size() - pos);
            if (r.status == excom::Decoded::NeedMore)
                break;
            if (r.status == excom::Decoded::Frame && !r.frame.reply) {
                // The request has crossed the line once its last byte is in.
                const Clock::time_point arrived = rxStart + (paced() ? byteTime() * static_cast<long>(r.consumed) : Clock::duration::zero());
                handle(r.frame, rx.data() + pos, r.consumed, arrived);
                rxStart = arrived;
            }
            pos += r.consumed;
        }
        if (master < 0)
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
    {
        std::lock_guard lock(mutex);
        ++stats.requests;
        stats.bytesIn += size;
        log.push_back({request.deviceType, request.address, request.command, request.text});
        logChanged.notify_all();
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
        } else {
            reply.reply = false;   // nobody at this address
        }
    }
    const auto tb = paced ? byteTime() : std::chrono::nanoseconds(0);
    if (echoing) {
        if (!waitUntil(arrived) || !writeAll(raw, size))
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
    Clock::time_point ready = arrived + turnaroundTime + tb * static_cast<long>(bytes.size());
    if (f == Fault::SlowAnswer)
        ready += slow;
    if (!waitUntil(ready) || !writeAll(bytes.data(), bytes.size()))
        return;
    // Noise after the reply comes while the program already works on it.
    if (!noiseAfter.empty()
        && (!waitUntil(ready + tb * static_cast<long>(noiseAfter.size())) || !writeAll(noiseAfter.data(), noiseAfter.size())))
        return;
    std::lock_guard lock(mutex);
    ++stats.replies;
    stats.bytesOut += replySize;
    stats.noiseBytes += noiseBefore.size() + noiseAfter.size();
    stats.turnaround += turnaroundTime;
}

InstrumentSim::InstrumentSim(const std::vector<std::uint8_t> &addresses) : d(std::make_unique<Private>())
{
    for (const std::uint8_t address : addresses)
        d->instruments.emplace(address, InstrumentModel(address));
    if (d->open())
        d->thread = std::thread([this] { d->run(); });
}

InstrumentSim::~InstrumentSim()
{
    d->stopping.store(true);
    if (d->wake >= 0) {
        const std::uint64_t one = 1;
        (void)::write(d->wake, &one, sizeof one);
    }
    if (d->thread.joinable())
        d->thread.join();
    d->closeLine();
    if (d->wake >= 0)
        ::close(d->wake);
}

bool InstrumentSim::isValid() const { return d->thread.joinable(); }

std::string InstrumentSim::portPath() const { return d->path; }

bool InstrumentSim::lineOpen() const
{
    std::lock_guard lock(d->mutex);
    return d->lineOpen;
}

void InstrumentSim::setPacing(bool on) { d->set(d->pacing, on); }

void InstrumentSim::setTurnaround(std::chrono::microseconds turnaround) { d->set(d->turnaround, turnaround); }

void InstrumentSim::setEcho(bool on) { d->set(d->echo, on); }

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

std::vector<CommandRecord> InstrumentSim::log() const
{
    std::lock_guard lock(d->mutex);
    return d->log;
}

void InstrumentSim::clearLog()
{
    std::lock_guard lock(d->mutex);
    d->log.clear();
}

bool InstrumentSim::waitForLog(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mutex);
    return d->logChanged.wait_for(lock, timeout, [&] { return d->log.size() >= count; });
}

LineStats InstrumentSim::stats() const
{
    std::lock_guard lock(d->mutex);
    return d->stats;
}

void InstrumentSim::resetStats()
{
    std::lock_guard lock(d->mutex);
    d->stats = LineStats{};
}

} // namespace sim
