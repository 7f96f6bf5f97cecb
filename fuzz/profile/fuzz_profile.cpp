// Profile files of any content: every read, the key listing and the writes must neither crash
// nor lose what they did not touch.
#include "platform/profile.h"
#include "fuzz/fuzz_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

using platform::ProfileFile;

namespace {

using fuzz::check;

// One file a process, in memory where the system has a memory file system, so that the
// writes' flush to disk costs nothing.
const QString &scratchPath()
{
    static const QString path = [] {
        const QString folder = QFileInfo(QStringLiteral("/dev/shm")).isDir() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        return QStringLiteral("%1/fuzz_profile-%2.ini").arg(folder).arg(getpid());
    }();
    return path;
}

void removeScratch()
{
    QFile::remove(scratchPath());
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool registered = (std::atexit(removeScratch), true);
    (void)registered;
    const QString &path = scratchPath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    ProfileFile ini(path);
    // A snapshot of the same text reads what the file's own reads give.
    const platform::ProfileSnapshot snapshot(path);
    const QStringList sections = ini.readSections();
    for (const QString &section : sections.mid(0, 4)) {
        const QStringList keys = ini.readSection(section);
        check(snapshot.sectionExists(section) == ini.sectionExists(section));
        for (const QString &key : keys.mid(0, 8)) {
            check(ini.valueExists(section, key));
            check(snapshot.readString(section, key, QString()) == ini.readString(section, key, QString()));
            check(snapshot.readInteger(section, key, -1) == ini.readInteger(section, key, -1));
            check(ini.readString(section, key, QString()).size() <= ProfileFile::MaxTextLength);
            ini.readInteger(section, key, 0);
            ini.readFloat(section, key, 0);
        }
    }
    ini.readBool(QStringLiteral("Common Adjusts"), QStringLiteral("Hints"), false);
    ini.sectionExists(QStringLiteral("Sensors"));

    try {
        const QString value = QStringLiteral("|1|1|1|500|");
        ini.writeString(QStringLiteral("Sensors"), QStringLiteral("Sensor1"), value);
        check(ini.readString(QStringLiteral("sensors"), QStringLiteral("SENSOR1"), QString()) == value);
        ini.writeInteger(QStringLiteral("Main"), QStringLiteral("Left"), -12);
        check(ini.readInteger(QStringLiteral("Main"), QStringLiteral("Left"), 0) == -12);

        ini.deleteKey(QStringLiteral("Main"), QStringLiteral("Left"));
        check(!ini.valueExists(QStringLiteral("Main"), QStringLiteral("Left")));

        QStringList others = ini.readSections();
        others.removeIf([](const QString &s) { return s.compare(QStringLiteral("Sensors"), Qt::CaseInsensitive) == 0; });
        ini.eraseSection(QStringLiteral("Sensors"));
        check(ini.readSection(QStringLiteral("Sensors")).isEmpty());
        check(ini.readSections() == others);
    } catch (const platform::ProfileWriteError &) {
        // the scratch folder is full or gone: nothing to learn from this input
    }
    return 0;
}
