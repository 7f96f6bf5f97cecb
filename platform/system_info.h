#pragma once
// What the running system is, for the programs' About boxes: the kernel's name and release
// (uname), the distribution's name (os-release) and the total physical memory.
#include <QString>

#include <cstdint>

namespace platform {

struct SystemDescription {
    QString KernelName;      // "Linux"; empty when the system could not be asked
    QString KernelRelease;   // "6.1.0-18-amd64"
    QString Distribution;    // "Debian GNU/Linux 12 (bookworm)"; empty when not readable
    std::uint64_t PhysicalMemory = 0;  // total physical memory in bytes; 0 when unknown
};

// The running system; the distribution's name comes from the os-release file given.
SystemDescription RunningSystem(const QString &osRelease = QStringLiteral("/etc/os-release"));

// The distribution's name in an os-release text: PRETTY_NAME, else NAME and VERSION; values
// may be quoted, with backslash escapes. Empty when none is there.
QString DistributionName(const QByteArray &osRelease);

} // namespace platform
