// Writes keys into a profile file from a process of its own, for the test of two programs
// saving at once: "profile_writer PATH SECTION COUNT" writes Key0..Key<COUNT-1> = 0..COUNT-1,
// one write each (one read-modify-write of the whole file each). Exit code 1 on a refusal, whose
// message goes to the standard output.
#include "platform/profile.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PATH SECTION COUNT\n", argv[0]);
        return 2;
    }
    platform::ProfileFile ini(QString::fromLocal8Bit(argv[1]));
    const QString section = QString::fromLocal8Bit(argv[2]);
    const int count = std::atoi(argv[3]);
    try {
        for (int k = 0; k < count; ++k)
            ini.writeInteger(section, QStringLiteral("Key%1").arg(k), k);
    } catch (const platform::ProfileWriteError &e) {
        std::puts(qPrintable(e.message()));
        return 1;
    }
    return 0;
}
