#include "link.h"

#include "ex_com.h"
#include "platform/messages.h"
#include "reply_matcher.h"
#include "wider_allowance.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sys/eventfd.h>
#include <unistd.h>

namespace excom {

namespace {

constexpr int kHighestLinkBaud = 19200;  // the instruments' fastest; the serial layer offers more
constexpr int kStopped = 1;           // internal: a stoppable exchange was stopped
constexpr std::uint8_t kIdentify = 0;
constexpr std::uint8_t kReadValue = 1;
constexpr std::uint8_t kFinishWrite = 11;
constexpr std::uint8_t kLastCommand = 13;
constexpr std::size_t kValueText = 16;   // the longest reply text of a value read
constexpr std::size_t kShortText = 3;    // a byte, a device type or a refusal's reason

bool takesArgument(std::uint8_t command)
{
    return command != kIdentify && command != 3 && command != 6 && command != kFinishWrite && command != 13;
}

bool isDecimalArgument(const std::string &text)
{
    return !text.empty() && text.size() <= 5
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The time an exchange may take at this baud rate (see the time-out in ex_com.h).
Clock::duration exchangeTimeout(int baud, std::size_t requestBytes, std::uint8_t command)
{
    const std::size_t replyBytes = kOverhead + (command == kReadValue ? kValueText : kShortText);
    const auto bytes = static_cast<long long>(requestBytes + replyBytes + EX_MARGIN_BYTES);
    return std::chrono::nanoseconds(bytes * 10 * 1000000000LL / baud)
        + widerAllowance("EX_COM_REPLY_ALLOWANCE_MS", EX_REPLY_ALLOWANCE_MS, EX_REPLY_ALLOWANCE_MAX_MS);
}

// A decimal integer that is the whole text: its low byte equals the device type.
bool namesDeviceType(const std::string &text, std::uint8_t deviceType)
{
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && static_cast<std::uint8_t>(value) == deviceType;
}

} // namespace

Link::Link() : m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Link::~Link()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

int Link::setBaudRate(int baud)
{
    std::lock_guard lock(m_mutex);
    if (baud > kHighestLinkBaud || !validBaud(baud))
        return EX_ERR_ARGUMENT;
    m_baud = baud;
    return m_port.setBaud(baud);
}

int Link::open(const std::string &name, std::string *failure)
{
    std::lock_guard lock(m_mutex);
    const std::string path = portPath(name);
    if (path.empty()) {
        m_port.close();
        return EX_ERR_UNKNOWN_PORT;
    }
    const int rc = m_port.open(path, m_baud);
    if (failure)
        *failure = m_port.failureText();
    return rc;
}

int Link::close()
{
    std::lock_guard lock(m_mutex);
    m_port.close();
    clearStop();
    return EX_OK;
}

void Link::requestStop()
{
    m_stop.store(true);
    const std::uint64_t one = 1;
    (void)::write(m_wakeFd, &one, sizeof one);
}

void Link::clearStop()
{
    m_stop.store(false);
    std::uint64_t count = 0;
    (void)::read(m_wakeFd, &count, sizeof count);
}

int Link::transact(const Frame &request, Frame &reply, bool stoppable)
{
    if (!m_port.isOpen())
        return EX_ERR_NOT_OPEN;
    const std::vector<std::uint8_t> bytes = encodeFrame(request);
    const Clock::time_point deadline = Clock::now() + exchangeTimeout(m_baud, bytes.size(), request.command);
    m_port.discardInput();
    if (const int rc = m_port.write(bytes.data(), bytes.size(), deadline); rc != EX_OK)
        return rc;

    ReplyMatcher matcher(request);
    std::uint8_t chunk[256];
    for (;;) {
        switch (m_port.wait(deadline, stoppable ? m_wakeFd : -1)) {
        case SerialPort::Wait::Timeout:
            return matcher.resultAtDeadline();
        case SerialPort::Wait::Failed:
            return EX_ERR_IO;
        case SerialPort::Wait::Woken: {
            std::uint64_t count = 0;
            (void)::read(m_wakeFd, &count, sizeof count);
            if (m_stop.load())
                return kStopped;
            continue;
        }
        case SerialPort::Wait::Readable:
            break;
        }
        const long n = m_port.read(chunk, sizeof chunk);
        if (n < 0)
            return EX_ERR_IO;
        if (matcher.feed(chunk, static_cast<std::size_t>(n))) {
            reply = matcher.reply();
            return matcher.result();
        }
    }
}

int Link::exchange(std::uint8_t deviceType, std::uint8_t address, std::uint8_t command,
                   const std::string &argument, std::string &reply)
{
    std::lock_guard lock(m_mutex);
    reply.clear();
    if (command > kLastCommand)
        return EX_ERR_ARGUMENT;
    Frame request;
    request.seq = ++m_seq;
    request.deviceType = deviceType;
    request.address = address;
    request.command = command;
    if (takesArgument(command)) {
        if (!isDecimalArgument(argument))
            return EX_ERR_ARGUMENT;
        request.text = argument;
    }
    Frame answer;
    const int rc = transact(request, answer, false);
    if (rc != EX_OK)
        return rc;
    reply = answer.text;
    if (command == kFinishWrite && answer.text == "1")
        return EX_WRITE_UNCHANGED;
    return EX_OK;
}

int Link::deviceData(std::uint8_t deviceType, std::uint8_t address, std::uint8_t index, double &value)
{
    value = 0;
    if (index > 3)
        return EX_ERR_ARGUMENT;
    std::string text;
    const int rc = exchange(deviceType, address, kReadValue, std::to_string(index), text);
    if (rc != EX_OK)
        return rc;
    double parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    // "nan" and "inf" parse as doubles but are no reading of an instrument.
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed))
        return EX_ERR_FRAME;
    value = parsed;
    return EX_OK;
}

int Link::search(std::uint32_t window, std::uint8_t deviceType, std::uint8_t first, std::uint8_t last,
                 std::vector<int> &found)
{
    std::unique_lock lock(m_mutex);
    found.clear();
    if (first > last)
        return EX_ERR_ARGUMENT;
    if (!m_port.isOpen())
        return EX_ERR_NOT_OPEN;
    const std::uint32_t message = platform_RegisterWindowMessage("SX_SearchAvailableDevices");
    int result = EX_OK;
    for (int address = first; address <= last && !m_stop.load(); ++address) {
        Frame request;
        request.seq = ++m_seq;
        request.deviceType = deviceType;
        request.address = static_cast<std::uint8_t>(address);
        request.command = kIdentify;
        Frame answer;
        const int rc = transact(request, answer, true);
        if (rc == kStopped)
            break;
        if (rc == EX_ERR_IO || rc == EX_ERR_NOT_OPEN) {
            result = rc;
            break;
        }
        const bool ok = rc == EX_OK && namesDeviceType(answer.text, deviceType);
        if (ok)
            found.push_back(address);
        // The report waits for the window thread; without the link's lock, so that the window
        // thread may free or close the link meanwhile (the search then ends) instead of
        // waiting for this thread while it waits for the window.
        lock.unlock();
        platform_SendMessage(window, message, static_cast<std::uintptr_t>(address), ok ? address : 0xFFFF);
        lock.lock();
    }
    clearStop();
    return result;
}

} // namespace excom
