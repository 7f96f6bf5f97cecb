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
#include <QStringList>

#include <vector>

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

    // Starts the lock holder for the named lock.
    bool start(const QString &name)
    {
        return startProgram(QCoreApplication::applicationDirPath() + "/named_lock_holder", {name});
    }

    // Starts any program beside the tests the same way, its input and output on pipes.
    bool startProgram(const QString &path, const QStringList &arguments)
    {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(fromChild, O_CLOEXEC) != 0) {
            closeFd(toChild[0]);
            closeFd(toChild[1]);
            return false;
        }
        const QByteArray program = QFile::encodeName(path);
        QList<QByteArray> texts;
        for (const QString &argument : arguments)
            texts << argument.toLocal8Bit();
        std::vector<char *> argv{const_cast<char *>(program.constData())};
        for (QByteArray &text : texts)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        const int rc = posix_spawn(&pid_, program.constData(), &actions, nullptr, argv.data(), environ);
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

    // Waits for the end of the output, then reaps the process; its exit status is then
    // exitCode().
    bool waitForExit(int deadlineMs = kDeadlineMs)
    {
        const QDeadlineTimer deadline(deadlineMs);
        while (readMore(deadline)) {
        }
        int status = 0;
        if (!deadline.hasExpired() && pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
            pid_ = -1;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        return false;
    }
    int exitCode() const { return exitCode_; }

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
    int exitCode_ = -1;
    int in_ = -1;
    int out_ = -1;
    QByteArray buffer_;
};
