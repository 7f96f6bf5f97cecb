#pragma once
// One link: a serial port, its baud rate and the request/reply exchange over it. Calls that use
// the port hold the link's mutex; requestStop does not, so that another thread can end a search.
#include "frame.h"
#include "serial_port.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace excom {

class Link {
public:
    Link();
    ~Link();
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    bool valid() const { return m_wakeFd >= 0; }

    int setBaudRate(int baud);
    // An EX_ code; on EX_ERR_ACCESS, failure (when given) gets the words for the user.
    int open(const std::string &name, std::string *failure = nullptr);
    int close();
    // Carries one command; the reply text comes back in reply.
    int exchange(std::uint8_t deviceType, std::uint8_t address, std::uint8_t command,
                 const std::string &argument, std::string &reply);
    int deviceData(std::uint8_t deviceType, std::uint8_t address, std::uint8_t index, double &value);
    // Identifies first..last, reporting each address to window; found gets the addresses that
    // answered as the device type.
    int search(std::uint32_t window, std::uint8_t deviceType, std::uint8_t first, std::uint8_t last,
               std::vector<int> &found);
    // From any thread: ends the running search (or the next one, when none runs yet).
    void requestStop();

private:
    int transact(const Frame &request, Frame &reply, bool stoppable);
    void clearStop();

    std::mutex m_mutex;
    SerialPort m_port;
    int m_baud = 9600;
    std::uint8_t m_seq = 0;
    std::atomic<bool> m_stop{false};
    int m_wakeFd = -1;
};

} // namespace excom
