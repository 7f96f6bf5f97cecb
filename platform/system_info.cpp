#include "platform/system_info.h"

#include <QFile>
#include <QHash>

#include <algorithm>

#include <sys/sysinfo.h>
#include <sys/utsname.h>

namespace platform {

namespace {

// One value of a shell-style assignment: unquoted, or in double or single quotes, where a
// backslash takes the next character as it stands.
QString Unquoted(QByteArrayView value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    QByteArray out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        out += value[i];
    }
    return QString::fromUtf8(out);
}

} // namespace

QString DistributionName(const QByteArray &osRelease)
{
    QHash<QByteArray, QString> values;
    for (const QByteArray &line : osRelease.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && !line.trimmed().startsWith('#'))
            values.insert(line.first(eq).trimmed(), Unquoted(QByteArrayView(line).sliced(eq + 1)));
    }
    if (!values.value("PRETTY_NAME").isEmpty())
        return values.value("PRETTY_NAME");
    return (values.value("NAME") + QLatin1Char(' ') + values.value("VERSION")).trimmed();
}

SystemDescription RunningSystem(const QString &osRelease)
{
    SystemDescription system;
    utsname names{};
    if (uname(&names) == 0) {
        system.KernelName = QString::fromLocal8Bit(names.sysname);
        system.KernelRelease = QString::fromLocal8Bit(names.release);
    }
    QFile file(osRelease);
    if (file.open(QIODevice::ReadOnly))
        system.Distribution = DistributionName(file.read(64 * 1024));
    struct sysinfo memory {};
    if (sysinfo(&memory) == 0)
        system.PhysicalMemory = std::uint64_t(memory.totalram) * std::max<std::uint64_t>(memory.mem_unit, 1);
    return system;
}

} // namespace platform
