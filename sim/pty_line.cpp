#include "pty_line.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

int baudOf(speed_t speed)
{
    switch (speed) {
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 9600;
    }
}

timespec toTimespec(std::chrono::nanoseconds left)
{
    const auto ns = left.count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

} // namespace

PtyLine::PtyLine()
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0 || !m_pty.isValid())
        return;
    m_holder = ::open(m_pty.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_holder < 0)
        return;
    termios tio{};
    tcgetattr(m_holder, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(m_holder, TCSANOW, &tio);
    fcntl(m_pty.fd(), F_SETFL, fcntl(m_pty.fd(), F_GETFL) | O_NONBLOCK);
}

PtyLine::~PtyLine()
{
    close();
    if (m_wake >= 0)
        ::close(m_wake);
}

void PtyLine::stop()
{
    const std::uint64_t one = 1;
    if (m_wake >= 0)
        (void)::write(m_wake, &one, sizeof one);
}

bool PtyLine::stopping() const
{
    pollfd p{m_wake, POLLIN, 0};
    return m_wake < 0 || (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN));
}

bool PtyLine::waitReadable()
{
    for (;;) {
        pollfd p[2] = {{m_pty.fd(), POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (ppoll(p, 2, nullptr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[1].revents & POLLIN)
            return false;
        if (p[0].revents & POLLIN)
            return true;
        if (p[0].revents & (POLLERR | POLLNVAL))
            return false;
        // POLLHUP alone: no slave is open for the moment (our holder keeps it from happening).
    }
}

long PtyLine::read(std::uint8_t *buffer, std::size_t size)
{
    const ssize_t n = ::read(m_pty.fd(), buffer, size);
    return n > 0 ? n : 0;
}

bool PtyLine::waitUntil(Clock::time_point when) const
{
    while (!stopping()) {
        const auto left = when - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const timespec ts = toTimespec(std::chrono::duration_cast<std::chrono::nanoseconds>(left));
        pollfd p{m_wake, POLLIN, 0};
        ppoll(&p, 1, &ts, nullptr);
    }
    return false;
}

bool PtyLine::writeAll(const std::uint8_t *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size && !stopping()) {
        const ssize_t n = ::write(m_pty.fd(), data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p[2] = {{m_pty.fd(), POLLOUT, 0}, {m_wake, POLLIN, 0}};
        ppoll(p, 2, nullptr, nullptr);
    }
    return done == size;
}

std::chrono::nanoseconds PtyLine::byteTime() const
{
    termios tio{};
    const int baud = tcgetattr(m_pty.fd(), &tio) == 0 ? baudOf(cfgetospeed(&tio)) : 9600;
    return std::chrono::nanoseconds(10 * 1000000000LL / baud);
}

void PtyLine::close()
{
    m_pty.close();
    if (m_holder >= 0)
        ::close(m_holder);
    m_holder = -1;
}

namespace {
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void BlockStopSignals()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopSignal()
{
    const sigset_t set = stopSignals();
    int signal = 0;
    sigwait(&set, &signal);
}

bool PtyLine::writeAt(Clock::time_point when, const std::uint8_t *data, std::size_t size, const ReplyDelay &delay,
                      Clock::duration *late)
{
    const std::size_t burst = delay.burstBytes > 0 ? delay.burstBytes : size;
    if (late)
        *late = Clock::duration::zero();
    for (std::size_t from = 0, n = 0; from < size; from += burst, ++n) {
        const auto due = when + delay.burstGap * static_cast<long>(n);
        if (!waitUntil(due) || !writeAll(data + from, std::min(burst, size - from)))
            return false;
        if (late)
            *late = std::max(*late, Clock::now() - due);
    }
    return true;
}

} // namespace sim
