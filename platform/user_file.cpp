#include "platform/user_file.h"

#include "platform/file_error.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

UserFileError::UserFileError(QString path, Kind kind, QString reason)
    : std::runtime_error(QStringLiteral("%1: %2").arg(path, reason).toStdString()),
      m_path(std::move(path)), m_kind(kind), m_reason(std::move(reason))
{
}

int openRegularDescriptor(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return -1;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads of a regular file never wait anyway; the flag only served the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

namespace {

[[noreturn]] void refuse(const QString &path, int error)
{
    const bool notRegular = error == EINVAL;
    throw UserFileError(path, notRegular ? UserFileError::NotRegular : UserFileError::CannotOpen,
                        fileErrorText(notRegular ? NotRegularFile : error, FileAccess::Read));
}

} // namespace

void openRegularFile(QFile &file, const QString &path)
{
    const int fd = openRegularDescriptor(path);
    if (fd < 0)
        refuse(path, errno);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        refuse(path, EIO);
    }
}

void requireRegularFile(const QString &path)
{
    const int fd = openRegularDescriptor(path);
    if (fd < 0)
        refuse(path, errno);
    ::close(fd);
}

} // namespace platform
