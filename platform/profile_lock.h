#pragma once
// The lock a change of a profile file holds from its read to its replacement. Every change reads
// the whole file, edits it and puts it back; two at once would each put back a text without the
// other's change. Within the process they go one at a time on a mutex, and across processes
// under an flock on the folder of the file that is replaced. The folder, not the file: the
// rename puts a new file under the name, and a lock on the old one would no longer keep anyone
// out; a lock file of our own would litter the user's folders.
//
// Anyone who may read the folder may take its flock, and hold it as long as they like; another
// save holds it for the moment of one read and one replacement. So the wait is bounded: after
// WaitSeconds the save is refused, saying that the folder is held, and nothing ever hangs on it
// (a program asked to end ends after that time at the latest).
#include <QString>

#include <mutex>

namespace platform {

class ProfileWriteLock {
public:
    static constexpr int WaitSeconds = 5;

    // Waits for the lock on the folder of path, at most WaitSeconds; throws ProfileWriteError
    // when the folder cannot be opened or locked, or is still held by then.
    explicit ProfileWriteLock(const QString &path);
    ~ProfileWriteLock();
    ProfileWriteLock(const ProfileWriteLock &) = delete;
    ProfileWriteLock &operator=(const ProfileWriteLock &) = delete;

private:
    std::unique_lock<std::timed_mutex> m_inProcess;
    int m_fd = -1;
};

} // namespace platform
