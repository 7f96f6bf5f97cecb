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

// True for the baud rates the serial layer offers (300 to 57600).
bool validBaud(int baud);

// The name of the group that owns the device (its number when the group has no name); empty
// when the device cannot be looked at.
std::string deviceGroup(const std::string &path);
// What to tell a user who may not open the device: the device, that access was refused, and
// the group that owns it (whose members may open it). UTF-8.
std::string accessRefusedText(const std::string &path);

class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;
    ~SerialPort();

    // Opens the device for exclusive use, raw, at the baud rate; an EX_ result code.
    // EX_ERR_ACCESS when the user may not open the device; failureText() then says why.
    int open(const std::string &path, int baud);
    // The words of the last failed open() where its code alone does not say enough (a refused
    // access: accessRefusedText()); empty otherwise.
    const std::string &failureText() const { return m_failure; }
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
    std::string m_failure;
};

} // namespace excom
