// A save that stops half way, for the tests of interrupted saves: "atomic_writer replace PATH
// TEXT" replaces the file with TEXT (platform::replaceFile), "atomic_writer profile PATH TEXT"
// writes [S] K=TEXT into it as a profile file. When the data is about to be synced the writer
// prints "syncing" and waits for a line of input (or the end of it), so that the test can kill
// it there or let it go on; at the end it prints "done" or the reason of a refusal.
#include "platform/atomic_file.h"
#include "platform/profile.h"

#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int fsync(int fd)
{
    // The data's sync, not the folder's after the rename.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::fputs("syncing\n", stdout);
        std::fflush(stdout);
        char c;
        (void)!::read(STDIN_FILENO, &c, 1);
    }
    using Fn = int (*)(int);
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s replace|profile PATH TEXT\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[2]);
    const QString text = QString::fromLocal8Bit(argv[3]);
    QString error;
    if (std::strcmp(argv[1], "profile") == 0) {
        try {
            platform::ProfileFile(path).writeString(QStringLiteral("S"), QStringLiteral("K"), text);
        } catch (const platform::ProfileWriteError &e) {
            error = e.message();
        }
    } else {
        error = platform::replaceFile(path, text.toLocal8Bit());
    }
    std::puts(error.isEmpty() ? "done" : error.toLocal8Bit().constData());
    return error.isEmpty() ? 0 : 1;
}
