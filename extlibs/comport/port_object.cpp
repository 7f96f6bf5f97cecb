#include "port_object.h"

#include <mutex>

#include "comport.h"
#include "ex_com.h"
#include "wider_allowance.h"

#include <chrono>

namespace comport {

namespace {

using Clock = excom::Clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr char kTerminator = '\r';

nanoseconds wireTime(std::size_t bytes, int baud)
{
    return nanoseconds(static_cast<long long>(bytes) * 10 * 1000000000LL / baud);
}

} // namespace

nanoseconds transmitLimit(const PortConfig &config, std::size_t requestBytes)
{
    return wireTime(requestBytes, config.baud) + milliseconds(config.timeOut1);
}

nanoseconds firstByteLimit(const PortConfig &config, std::size_t requestBytes)
{
    return wireTime(requestBytes, config.baud)
        + excom::widerAllowance("COMPORT_ANSWER_TIMEOUT_MS", config.timeOut3, COMPORT_ANSWER_TIMEOUT_MAX_MS);
}

nanoseconds byteGapLimit(const PortConfig &config)
{
    return wireTime(1, config.baud) + milliseconds(config.timeOut2) + milliseconds(COMPORT_BURST_ALLOWANCE_MS);
}

namespace {

// The serial layer speaks ex_com's codes; these are the ones it gives for opening and writing.
int fromSerial(int code)
{
    switch (code) {
    case EX_OK: return COMPORT_OK;
    case EX_ERR_UNKNOWN_PORT: return COMPORT_ERR_UNKNOWN_PORT;
    case EX_ERR_PORT_BUSY: return COMPORT_ERR_PORT_BUSY;
    case EX_ERR_ARGUMENT: return COMPORT_ERR_ARGUMENT;
    case EX_ERR_NOT_OPEN: return COMPORT_ERR_NOT_OPEN;
    case EX_ERR_IO: return COMPORT_ERR_IO;
    case EX_ERR_ACCESS: return COMPORT_ERR_ACCESS;
    case EX_ERR_NO_ANSWER: return COMPORT_ERR_WRITE_TIMEOUT;
    default: return COMPORT_ERR_OPEN;
    }
}

} // namespace

namespace {
std::mutex refusalMutex;
std::string refusal;  // guarded by refusalMutex
} // namespace

void rememberAccessRefusal(const std::string &text)
{
    std::lock_guard lock(refusalMutex);
    refusal = text;
}

std::string lastAccessRefusal()
{
    std::lock_guard lock(refusalMutex);
    return refusal;
}

int validateConfig(const PortConfig &config)
{
    if (config.name.size() >= COMPORT_TEXT_SIZE || excom::portPath(config.name).empty()
        || !excom::validBaud(config.baud))
        return COMPORT_ERR_ARGUMENT;
    return COMPORT_OK;
}

int PortObject::report(int result)
{
    m_lastError.store(result);
    return result;
}

int PortObject::openLine()
{
    if (m_refused)
        return COMPORT_ERR_ARGUMENT;
    const int rc = fromSerial(m_port.open(excom::portPath(m_config.name), m_config.baud));
    if (rc == COMPORT_ERR_ACCESS)
        rememberAccessRefusal(m_port.failureText());
    return rc;
}

int PortObject::lineLost()
{
    // The next transmit opens the same port again (comport.h, "A line that goes away").
    m_port.close();
    m_awaiting = false;
    return COMPORT_ERR_IO;
}

int PortObject::setConfig(const PortConfig &config)
{
    std::lock_guard lock(m_mutex);
    const PortConfig old = m_config;
    m_config = config;
    m_refused = false;
    if (const int rc = validateConfig(config); rc != COMPORT_OK) {
        // No port rather than the one set before: requests never go to another device.
        m_refused = true;
        m_port.close();
        m_awaiting = false;
        return report(rc);
    }
    if (!m_port.isOpen())
        return report(COMPORT_OK);
    if (config.name != old.name) {
        m_port.close();
        return report(openLine());
    }
    if (config.baud != old.baud) {
        const int rc = fromSerial(m_port.setBaud(config.baud));
        if (rc != COMPORT_OK)
            m_port.close();
        return report(rc);
    }
    return report(COMPORT_OK);
}

PortConfig PortObject::config() const
{
    std::lock_guard lock(m_mutex);
    return m_config;
}

int PortObject::open()
{
    std::lock_guard lock(m_mutex);
    m_wanted = true;
    m_awaiting = false;
    if (m_port.isOpen())
        return report(COMPORT_OK);
    return report(openLine());
}

int PortObject::close()
{
    std::lock_guard lock(m_mutex);
    m_wanted = false;
    m_awaiting = false;
    m_port.close();
    return report(COMPORT_OK);
}

int PortObject::transmit(std::string_view request)
{
    std::lock_guard lock(m_mutex);
    m_awaiting = false;
    if (!m_wanted)
        return report(COMPORT_ERR_NOT_OPEN);
    if (!m_port.isOpen()) {
        if (const int rc = openLine(); rc != COMPORT_OK)
            return report(rc);
    }
    // Whatever is still in the input belongs to an earlier request.
    m_port.discardInput();
    const auto deadline = Clock::now() + transmitLimit(m_config, request.size());
    const int rc = fromSerial(m_port.write(reinterpret_cast<const std::uint8_t *>(request.data()), request.size(), deadline));
    if (rc == COMPORT_ERR_IO)
        return report(lineLost());
    if (rc != COMPORT_OK)
        return report(rc);
    m_request.assign(request);
    m_sentAt = Clock::now();
    m_awaiting = true;
    return report(COMPORT_OK);
}

int PortObject::receive(std::string &answer)
{
    std::lock_guard lock(m_mutex);
    answer.clear();
    if (!m_awaiting)
        return report(m_wanted ? COMPORT_ERR_NO_REQUEST : COMPORT_ERR_NOT_OPEN);
    m_awaiting = false;
    if (!m_port.isOpen())
        return report(COMPORT_ERR_IO);

    // The request's echo, as an RS-485 adapter returns it: the request up to its terminator.
    std::string_view echo = m_request;
    if (const auto end = echo.find(kTerminator); end != std::string_view::npos)
        echo = echo.substr(0, end);
    bool echoSeen = false;

    const auto firstDeadline = m_sentAt + firstByteLimit(m_config, m_request.size());
    const auto gap = byteGapLimit(m_config);
    auto lastByte = m_sentAt;
    std::string line;
    bool begun = false;
    std::uint8_t chunk[64];
    for (;;) {
        const auto deadline = begun ? lastByte + gap : firstDeadline;
        switch (m_port.wait(deadline, -1)) {
        case excom::SerialPort::Wait::Timeout:
            return report(begun ? COMPORT_ERR_GAP : COMPORT_ERR_NO_ANSWER);
        case excom::SerialPort::Wait::Failed:
        case excom::SerialPort::Wait::Woken:
            return report(lineLost());
        case excom::SerialPort::Wait::Readable:
            break;
        }
        const long n = m_port.read(chunk, sizeof chunk);
        if (n < 0)
            return report(lineLost());
        if (n > 0) {
            begun = true;
            lastByte = Clock::now();
        }
        for (long i = 0; i < n; ++i) {
            const char c = static_cast<char>(chunk[i]);
            if (c != kTerminator) {
                if (line.size() + 1 >= COMPORT_TEXT_SIZE)
                    return report(COMPORT_ERR_OVERFLOW);
                line += c;
                continue;
            }
            if (!echoSeen && line == echo && !echo.empty()) {
                // The answer is still to come: its first byte has the answer time-out again.
                echoSeen = true;
                begun = false;
                line.clear();
                continue;
            }
            answer = std::move(line);
            return report(COMPORT_OK);
        }
    }
}

} // namespace comport
