#pragma once
// A pseudo-terminal made by a simulator or a test: its master end, the device (/dev/pts/N) and
// the name that programs open it by (port_name.h). Ending it removes the name first, then
// closes the master, so that an open by the name after the end finds nothing.
#include "port_name.h"

#include <memory>
#include <string>

namespace sim {

class PtyMaster {
public:
    PtyMaster();  // makes the terminal; isValid() says whether that worked
    ~PtyMaster();
    PtyMaster(const PtyMaster &) = delete;
    PtyMaster &operator=(const PtyMaster &) = delete;

    bool isValid() const { return m_master >= 0 && m_name && m_name->isValid(); }
    int fd() const { return m_master; }
    // The terminal itself, for an end of one's own that keeps it alive.
    const std::string &device() const { return m_device; }
    // The name to hand to a program.
    const std::string &path() const;
    // Removes the name, then closes the master; both at most once.
    void close();

private:
    int m_master = -1;
    std::string m_device;
    std::unique_ptr<PortName> m_name;
};

} // namespace sim
