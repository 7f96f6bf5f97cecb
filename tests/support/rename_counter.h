#pragma once
// Counts the files renamed into a folder under one name (inotify IN_MOVED_TO), to show how many
// replacements a save made: a save that the world sees whole is one rename.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace support {

class RenameCounter {
public:
    RenameCounter(const QString &folder, const QString &name)
        : m_name(QFile::encodeName(name))
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~RenameCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RenameCounter(const RenameCounter &) = delete;
    RenameCounter &operator=(const RenameCounter &) = delete;

    bool isValid() const { return m_fd >= 0; }
    // Renames onto the name since the last call, and files written in place under it (which
    // must stay 0: an in-place write can be seen half done).
    struct Counts {
        int renames = 0;
        int inPlaceWrites = 0;
    };
    Counts take()
    {
        Counts counts;
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len && QByteArray(event->name) == m_name) {
                    if (event->mask & IN_MOVED_TO)
                        ++counts.renames;
                    if (event->mask & IN_CLOSE_WRITE)
                        ++counts.inPlaceWrites;
                }
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return counts;
    }

private:
    int m_fd = -1;
    QByteArray m_name;
};

} // namespace support
