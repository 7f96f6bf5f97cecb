#include "port_name.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

bool privateNamesWanted()
{
    const char *value = std::getenv("VKS_SIM_PRIVATE_PORTS");
    return value && std::string(value) == "1";
}

} // namespace

PortName::PortName(const std::string &device)
{
    if (device.empty() || !privateNamesWanted()) {
        m_path = device;
        return;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sim-port.XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data()))
        return;
    m_folder = folder.data();
    // Nothing in it is secret (as in /dev/serial/by-id, anyone may follow the link and meet the
    // device's own permissions); what keeps it to its terminal is that it goes first.
    ::chmod(m_folder.c_str(), 0755);
    // The link is named after the device ("pts7" for /dev/pts/7), so that a message naming the
    // port still tells which terminal it was.
    std::string own = device.compare(0, 5, "/dev/") == 0 ? device.substr(5) : device;
    std::erase(own, '/');
    const std::string link = m_folder + '/' + own;
    if (::symlink(device.c_str(), link.c_str()) != 0) {
        remove();
        return;
    }
    m_path = link;
}

PortName::~PortName() { remove(); }

void PortName::remove()
{
    if (m_folder.empty())
        return;
    if (!m_path.empty())
        ::unlink(m_path.c_str());
    ::rmdir(m_folder.c_str());
    m_folder.clear();
}

} // namespace sim
