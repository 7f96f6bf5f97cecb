// A self-pipe from the signal handler into the event loop: the handler only writes the signal's
// number into a socket, which is all it may do; a notifier on the other end reads it on the
// window thread and calls the program's handler there.
#include "end_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

int pipeEnds[2] = {-1, -1};  // [0] read by the notifier, [1] written by the signal handler
std::function<void(int)> endHandler;

extern "C" void onEndSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Non-blocking: a full socket means enough signals are on their way already.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = savedErrno;
}

void readSignals()
{
    unsigned char numbers[16];
    const ssize_t n = ::read(pipeEnds[0], numbers, sizeof numbers);
    for (ssize_t i = 0; i < n; ++i) {
        if (endHandler)
            endHandler(numbers[i]);
    }
}

} // namespace

bool HandleEndSignals(std::function<void(int signal)> handler)
{
    endHandler = std::move(handler);
    if (pipeEnds[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0)
        return false;
    auto *notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, &readSignals);

    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool all = true;
    for (const int signal : kEndSignals) {
        // A signal ignored when the program started stays ignored: whoever started it (nohup, a
        // script's background job) asked that this signal not end it.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        all = ::sigaction(signal, &action, nullptr) == 0 && all;
    }
    return all;
}

void StopHandlingEndSignals()
{
    endHandler = nullptr;
}

const char *EndSignalName(int signal)
{
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
    }
}

} // namespace platform
