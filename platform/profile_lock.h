#pragma once
// The lock a change of a profile file holds from its read to its replacement. Every change reads
// the whole file, edits it and puts it back; two at once would each put back a text without the
// other's change. Within the process they go one at a time on a mutex, and across processes
// under an flock on the folder of the file that is replaced. The folder, not the file: the
// rename puts a new file under the name, and a lock on the old one would no longer keep anyone
// out; a lock file of our own would litter the user's folders.
#include <QString>

#include <mutex>

namespace platform {

class ProfileWriteLock {
public:
    // Waits for the lock on the folder of path; throws ProfileWriteError when the folder
    // cannot be opened or locked.
    explicit ProfileWriteLock(const QString &path);
    ~ProfileWriteLock();
    ProfileWriteLock(const ProfileWriteLock &) = delete;
    ProfileWriteLock &operator=(const ProfileWriteLock &) = delete;

private:
    std::unique_lock<std::mutex> m_inProcess;
    int m_fd = -1;
};

} // namespace platform
