#include "platform/profile_lock.h"

#include "platform/atomic_file.h"
#include "platform/file_error.h"
#include "platform/profile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

std::timed_mutex &writeMutex()
{
    static std::timed_mutex mutex;
    return mutex;
}

// A wait for the flock of fd in a thread of its own, so that the save can give up waiting at a
// deadline while the kernel still hands the lock to waiters in turn (trying again and again
// would seldom find a free moment between the saves of a busy writer). The waiter that is given
// up keeps fd and closes it once it has the lock, which lets the lock go at once.
class FlockWaiter {
public:
    // Takes the lock, or gives up at the deadline; true when taken. fd belongs to the waiter
    // from then on when the wait was given up.
    static bool lock(int fd, const QDeadlineTimer &deadline, int &error)
    {
        const auto state = std::make_shared<State>();
        std::thread([state, fd] {
            int rc;
            do
                rc = ::flock(fd, LOCK_EX);
            while (rc != 0 && errno == EINTR);
            const int result = rc == 0 ? 0 : errno;
            std::lock_guard lock(state->mutex);
            if (state->givenUp) {
                ::close(fd);
                return;
            }
            state->done = true;
            state->error = result;
            state->changed.notify_all();
        }).detach();
        std::unique_lock lock(state->mutex);
        if (!state->changed.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(), [&] { return state->done; })) {
            state->givenUp = true;
            return false;
        }
        error = state->error;
        return true;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false, givenUp = false;
        int error = 0;
    };
};

[[noreturn]] void refuseHeld(const QString &path, const QString &folder)
{
    throw ProfileWriteError(
        path, QStringLiteral("Папку %1 заняла другая программа (возможно, другого пользователя): за %2 с она не "
                             "освободилась. Файл не изменён; сохраните позже.")
                  .arg(QDir::toNativeSeparators(folder))
                  .arg(ProfileWriteLock::WaitSeconds));
}

} // namespace

ProfileWriteLock::ProfileWriteLock(const QString &path)
    : m_inProcess(writeMutex(), std::defer_lock)
{
    const QDeadlineTimer deadline{std::chrono::seconds(WaitSeconds)};
    const QString folder = QFileInfo(replacementTarget(path)).absolutePath();
    if (!m_inProcess.try_lock_until(deadline.deadline<std::chrono::steady_clock>()))
        refuseHeld(path, folder);
    m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        throw ProfileWriteError(path, fileErrorText(errno, FileAccess::Write));
    // Free nearly always: no thread is started for that.
    int error = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (error == EWOULDBLOCK || error == EINTR) {
        if (!FlockWaiter::lock(m_fd, deadline, error)) {
            m_fd = -1;
            refuseHeld(path, folder);
        }
    }
    if (error != 0) {
        ::close(m_fd);
        throw ProfileWriteError(path, fileErrorText(error, FileAccess::Write));
    }
}

ProfileWriteLock::~ProfileWriteLock()
{
    ::close(m_fd); // the flock goes with the descriptor
}

} // namespace platform
