#pragma once
// The name under which programs open a pseudo-terminal of a simulator or a test.
//
// The kernel gives the number of a pseudo-terminal that has ended to the next one made anywhere
// on the machine, so "/dev/pts/N" may name another test's terminal a moment after its own one
// ended; a program that opens its port again by name after a lost line (the driver does) would
// then take that terminal and talk to a simulator that is not its own. With the environment
// variable VKS_SIM_PRIVATE_PORTS set to 1 (the test suite sets it), the terminal is offered
// under a symbolic link of its own in a new private folder under the temporary folder
// ($TMPDIR, else /tmp), which is removed before the terminal ends: an open by that name after
// the end finds nothing. Without it the name is the device itself (/dev/pts/N), as a user of
// the demo expects.
#include <string>

namespace sim {

class PortName {
public:
    // Names the device (/dev/pts/N).
    explicit PortName(const std::string &device);
    ~PortName();
    PortName(const PortName &) = delete;
    PortName &operator=(const PortName &) = delete;

    // False when a private name was asked for and could not be made.
    bool isValid() const { return !m_path.empty(); }
    // The name to hand to a program: the private link, or the device.
    const std::string &path() const { return m_path; }
    // Removes the private name (call before the terminal ends); path() then names nothing.
    void remove();

private:
    std::string m_path;
    std::string m_folder;   // the private folder, empty when none was made
};

} // namespace sim
