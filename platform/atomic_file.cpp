#include "platform/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString systemText(int error)
{
    return qt_error_string(error);
}

// Writes all of data, going on after a partial write or a signal.
bool writeAll(int fd, QByteArrayView data)
{
    const char *p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// A new file beside target that no one else has: "<name>.<6 random letters>.tmp".
int createTemporary(const QByteArray &target, QByteArray &name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + '.';
        for (int i = 0; i < 6; ++i)
            name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        name += ".tmp";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

QString replacementTarget(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

QString replaceFile(const QString &path, QByteArrayView content)
{
    const QByteArray target = QFile::encodeName(replacementTarget(path));
    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return systemText(errno);
    if (exists && !S_ISREG(old.st_mode))
        return systemText(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);

    QByteArray temporary;
    const int fd = createTemporary(target, temporary);
    if (fd < 0)
        return systemText(errno);
    // The data must be on the disk before the name points at it: the sync is also where a
    // file system that allocates late reports a full disk.
    const bool written = (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && writeAll(fd, content)
                         && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return systemText(error);
    }
    return {};
}

} // namespace platform
