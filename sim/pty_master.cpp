#include "pty_master.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace sim {

PtyMaster::PtyMaster()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0)
        return;
    m_device = name;
    m_name = std::make_unique<PortName>(m_device);
}

PtyMaster::~PtyMaster()
{
    close();
}

const std::string &PtyMaster::path() const
{
    static const std::string none;
    return m_name ? m_name->path() : none;
}

void PtyMaster::close()
{
    if (m_name)
        m_name->remove();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

} // namespace sim
