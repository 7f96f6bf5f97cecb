#include "platform/profile_lock.h"

#include "platform/atomic_file.h"
#include "platform/file_error.h"
#include "platform/profile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

ProfileWriteLock::ProfileWriteLock(const QString &path)
    : m_inProcess(writeMutex())
{
    const QString folder = QFileInfo(replacementTarget(path)).absolutePath();
    m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        throw ProfileWriteError(path, fileErrorText(errno, FileAccess::Write));
    int rc;
    do
        rc = ::flock(m_fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(m_fd);
        throw ProfileWriteError(path, fileErrorText(error, FileAccess::Write));
    }
}

ProfileWriteLock::~ProfileWriteLock()
{
    ::close(m_fd); // the flock goes with the descriptor
}

} // namespace platform
