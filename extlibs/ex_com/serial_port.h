#pragma once
// One serial port through POSIX termios: opening by name, exclusive use, raw 8N1 at a baud
// rate, writes and waits with a deadline. Works on real devices and on pseudo-terminals.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace excom {

using Clock = std::chrono::steady_clock;

// The device path a port name stands for ("COM3" is /dev/ttyS2); empty when the name cannot
// name a port.
std::string portPath(const std::string &name);

// True for the baud rates the library accepts (300 to 19200).
bool validBaud(int baud);

class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;
    ~SerialPort();

    // Opens the device for exclusive use, raw, at the baud rate; an EX_ result code.
    int open(const std::string &path, int baud);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int setBaud(int baud);

    // Drops whatever arrived and was not read.
    void discardInput();
    // Writes every byte before the deadline; EX_OK, EX_ERR_IO or EX_ERR_NO_ANSWER (deadline).
    int write(const std::uint8_t *data, std::size_t size, Clock::time_point deadline);

    enum class Wait { Readable, Timeout, Woken, Failed };
    // Waits until bytes can be read, the deadline passes, or wakeFd (when >= 0) becomes readable.
    Wait wait(Clock::time_point deadline, int wakeFd);
    // Reads what is there without blocking: the count, 0 for nothing, -1 for a line failure.
    long read(std::uint8_t *buffer, std::size_t size);

private:
    int m_fd = -1;
};

} // namespace excom
