#include "serial_port.h"

#include "ex_com.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace excom {

namespace {

speed_t speedOf(int baud)
{
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    default: return B0;
    }
}

// "COM" followed by 1 to 3 digits, any letter case: the number, or 0.
int comNumber(const std::string &name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "COM"[i])
            return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

int openErrorCode(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return EX_ERR_UNKNOWN_PORT;
    case EBUSY:
        return EX_ERR_PORT_BUSY;
    case EACCES:
    case EPERM:
        return EX_ERR_ACCESS;
    default:
        return EX_ERR_OPEN;
    }
}

int configure(int fd, int baud)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return EX_ERR_OPEN;
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | CS8;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speedOf(baud));
    cfsetospeed(&tio, speedOf(baud));
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? EX_OK : EX_ERR_OPEN;
}

// USB adapters buffer received bytes for their latency timer (16 ms by default) unless asked
// for low latency. Drivers and pseudo-terminals that do not know the request refuse it; then
// the port works as it is.
void askLowLatency(int fd)
{
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)ioctl(fd, TIOCSSERIAL, &ss);
    }
}

} // namespace

std::string portPath(const std::string &name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return {};
    if (name.front() == '/')
        return name;
    if (const int n = comNumber(name); n > 0)
        return "/dev/ttyS" + std::to_string(n - 1);
    if (name.find('/') != std::string::npos || name == "." || name == "..")
        return {};
    return "/dev/" + name;
}

bool validBaud(int baud) { return speedOf(baud) != B0; }

std::string deviceGroup(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    group entry {};
    group *found = nullptr;
    std::vector<char> buffer(4096);
    while (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < 1 << 20)
        buffer.resize(buffer.size() * 2);
    return found && found->gr_name ? std::string(found->gr_name) : std::to_string(st.st_gid);
}

std::string accessRefusedText(const std::string &path)
{
    const std::string group = deviceGroup(path);
    std::string text = "Доступ к порту " + path + " запрещён";
    if (!group.empty())
        text += "; открыть его могут члены группы " + group;
    return text;
}

SerialPort::~SerialPort() { close(); }

int SerialPort::open(const std::string &path, int baud)
{
    close();
    m_failure.clear();
    if (!validBaud(baud))
        return EX_ERR_ARGUMENT;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = openErrorCode(errno);
        if (code == EX_ERR_ACCESS)
            m_failure = accessRefusedText(path);
        return code;
    }
    if (!isatty(fd)) {
        ::close(fd);
        return EX_ERR_OPEN;
    }
    // TIOCEXCL keeps other programs from opening the port; the lock also covers programs
    // running with privileges that TIOCEXCL does not stop, and a second link of this process.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? EX_ERR_PORT_BUSY : EX_ERR_OPEN;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return EX_ERR_OPEN;
    }
    const int rc = configure(fd, baud);
    if (rc != EX_OK) {
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return rc;
    }
    askLowLatency(fd);
    tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    return EX_OK;
}

void SerialPort::close()
{
    if (m_fd < 0)
        return;
    // The exclusive mode belongs to the terminal, not to this descriptor: give it back, or the
    // next open fails while anyone else (a simulator's own end) keeps the terminal alive.
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

int SerialPort::setBaud(int baud)
{
    if (!validBaud(baud))
        return EX_ERR_ARGUMENT;
    return m_fd < 0 ? EX_OK : configure(m_fd, baud);
}

void SerialPort::discardInput()
{
    if (m_fd >= 0)
        tcflush(m_fd, TCIFLUSH);
}

namespace {

timespec remaining(Clock::time_point deadline)
{
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

} // namespace

int SerialPort::write(const std::uint8_t *data, std::size_t size, Clock::time_point deadline)
{
    if (m_fd < 0)
        return EX_ERR_NOT_OPEN;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return EX_ERR_IO;
        pollfd p{m_fd, POLLOUT, 0};
        const timespec left = remaining(deadline);
        const int r = ppoll(&p, 1, &left, nullptr);
        if (r == 0)
            return EX_ERR_NO_ANSWER;
        if (r < 0 && errno != EINTR)
            return EX_ERR_IO;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return EX_ERR_IO;
    }
    return EX_OK;
}

SerialPort::Wait SerialPort::wait(Clock::time_point deadline, int wakeFd)
{
    if (m_fd < 0)
        return Wait::Failed;
    for (;;) {
        pollfd p[2] = {{m_fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const timespec left = remaining(deadline);
        const int r = ppoll(p, wakeFd >= 0 ? 2 : 1, &left, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Failed;
        }
        if (r == 0) {
            if (Clock::now() >= deadline)
                return Wait::Timeout;
            continue;
        }
        if (p[0].revents & POLLIN)
            return Wait::Readable;
        if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return Wait::Failed;
        if (wakeFd >= 0 && (p[1].revents & POLLIN))
            return Wait::Woken;
    }
}

long SerialPort::read(std::uint8_t *buffer, std::size_t size)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n > 0)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return 0;
        return -1;   // end of file or an error: the device is gone
    }
}

} // namespace excom
