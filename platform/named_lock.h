#pragma once
// A named lock shared by every process of the user, in place of a Windows named mutex.
//
// - Machine-wide for the user's processes: a lock file "<name>.lock" in the runtime folder,
//   held with flock.
// - Re-entrant for its holding thread: taken n times, it is released after the n-th unlock.
// - lock() waits without a time limit. When the holding process dies the kernel drops its flock,
//   and the next waiter gets the lock (as an abandoned Windows mutex counts as taken).
// - tryLock() never waits; the window thread uses it, since a worker holding the lock may itself
//   be waiting for the window thread.
#include <QString>

namespace platform {

class NamedLock {
public:
    explicit NamedLock(const QString &name);
    ~NamedLock();
    NamedLock(const NamedLock &) = delete;
    NamedLock &operator=(const NamedLock &) = delete;

    void lock();
    bool tryLock();
    void unlock();                 // by the holding thread only; extra unlocks are ignored
    bool isHeldByCurrentThread() const;

private:
    struct Private;
    Private *d;
};

} // namespace platform
