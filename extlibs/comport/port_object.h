#pragma once
// One port object of comport: its settings, the serial port and the request/answer exchange
// over it, with the reopen of a line that went away (see comport.h for what the time-outs mean).
#include "serial_port.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace comport {

// The words of the last refused open (a port the user may not open): the device and the group
// that owns it. Kept for GetCOMErrorText, which the program calls with the code alone.
void rememberAccessRefusal(const std::string &text);
std::string lastAccessRefusal();

struct PortConfig {
    std::string name = "COM1";
    int baud = 9600;
    std::uint16_t timeOut1 = 100;
    std::uint16_t timeOut2 = 10;
    std::uint16_t timeOut3 = 1000;

    bool operator==(const PortConfig &) const = default;
};

// The deadlines of an exchange, counted from its start: the write of `requestBytes` bytes, the
// first byte of the answer after the request was sent, and each further byte after the one before.
std::chrono::nanoseconds transmitLimit(const PortConfig &config, std::size_t requestBytes);
std::chrono::nanoseconds firstByteLimit(const PortConfig &config, std::size_t requestBytes);
std::chrono::nanoseconds byteGapLimit(const PortConfig &config);

// The baud rates a port object takes, ascending, ended by 0 (GetCOMBaudRates).
inline constexpr std::uint16_t kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 0};

// A COMPORT_ result code for the settings, COMPORT_OK when the serial layer can take them.
int validateConfig(const PortConfig &config);

class PortObject {
public:
    PortObject() = default;
    PortObject(const PortObject &) = delete;
    PortObject &operator=(const PortObject &) = delete;

    // Each returns a COMPORT_ result code and leaves it as lastError().
    int setConfig(const PortConfig &config);
    PortConfig config() const;
    int open();
    int close();
    int transmit(std::string_view request);
    int receive(std::string &answer);

    int lastError() const { return m_lastError.load(); }
    // Leaves result as lastError() and returns it.
    int report(int result);

private:
    int openLine();
    int lineLost();

    mutable std::mutex m_mutex;
    excom::SerialPort m_port;
    PortConfig m_config;
    // The last setting was refused: there is no port to open until one is taken.
    bool m_refused = false;
    // Opened by the caller and not closed since; the line itself may be down (then the next
    // transmit opens it again).
    bool m_wanted = false;
    std::string m_request;   // the last request, for the deadline and to know its echo
    bool m_awaiting = false;
    excom::Clock::time_point m_sentAt;
    std::atomic<int> m_lastError{0};
};

} // namespace comport
