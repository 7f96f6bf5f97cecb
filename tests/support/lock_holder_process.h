#pragma once
// A holder of a named lock in a process of its own (named_lock_holder, built beside the tests),
// talked to over pipes: it prints "waiting", then "locked" once it has the lock, and releases it
// on a line of input ("released"). Started with posix_spawn: QProcess's way of starting children
// makes ThreadSanitizer abort on this platform.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

class Holder {
public:
    static constexpr int kDeadlineMs = 10000;

    Holder() = default;
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;
    ~Holder()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeFd(in_);
        closeFd(out_);
    }

    bool start(const QString &name)
    {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(fromChild, O_CLOEXEC) != 0) {
            closeFd(toChild[0]);
            closeFd(toChild[1]);
            return false;
        }
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + "/named_lock_holder");
        const QByteArray argument = name.toLocal8Bit();
        char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>(argument.constData()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        const int rc = posix_spawn(&pid_, program.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        closeFd(toChild[0]);
        closeFd(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        if (rc != 0)
            pid_ = -1;
        return rc == 0;
    }

    pid_t pid() const { return pid_; }

    // Reads the output until the wanted line comes; false at its end or at the deadline.
    bool waitForLine(const QByteArray &wanted)
    {
        const QDeadlineTimer deadline(kDeadlineMs);
        for (;;) {
            const qsizetype end = buffer_.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = buffer_.left(end);
                buffer_.remove(0, end + 1);
                if (line == wanted)
                    return true;
                continue;
            }
            if (!readMore(deadline))
                return false;
        }
    }

    void writeLine() { (void)!::write(in_, "\n", 1); }
    void closeInput() { closeFd(in_); }
    void kill() { ::kill(pid_, SIGKILL); }

    // Waits for the end of the output, then reaps the process.
    bool waitForExit()
    {
        const QDeadlineTimer deadline(kDeadlineMs);
        while (readMore(deadline)) {
        }
        if (!deadline.hasExpired() && pid_ > 0 && ::waitpid(pid_, nullptr, 0) == pid_) {
            pid_ = -1;
            return true;
        }
        return false;
    }

private:
    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool readMore(const QDeadlineTimer &deadline)
    {
        pollfd p{out_, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, int(deadline.remainingTime()));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0)
            return false;
        char chunk[256];
        const ssize_t got = ::read(out_, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        buffer_.append(chunk, got);
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    QByteArray buffer_;
};
