// Takes a named lock in a process of its own for the named-lock test: prints "waiting", takes
// the lock, prints "locked", waits for a line (or end of input) on stdin, releases it and
// prints "released".
#include "platform/named_lock.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s NAME\n", argv[0]);
        return 2;
    }
    platform::NamedLock lock(QString::fromLocal8Bit(argv[1]));
    std::printf("waiting\n");
    std::fflush(stdout);
    lock.lock();
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    lock.unlock();
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
