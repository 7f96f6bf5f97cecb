#pragma once
// A named lock shared by every process of the user, in place of a Windows named mutex.
//
// - Shared by the user's processes of one session: the holder binds a Unix-domain socket of the
//   abstract namespace named after the user, the session's runtime folder ($XDG_RUNTIME_DIR,
//   as named, whether usable or not) and the lock. Such a name has no file that a
//   cleaner of /tmp could delete under the holder, and no folder that another user could
//   create first; the kernel frees it when the holder's process ends.
// - Re-entrant for its holding thread: taken n times, it is released after the n-th unlock.
// - lock() waits without a time limit and without polling: a waiter connects to the holder's
//   socket and sleeps until the kernel hangs that connection up, which happens when the holder
//   lets go or dies (as an abandoned Windows mutex counts as taken).
// - Another user's process bound to the name first (the names are public) cannot be waited for:
//   the lock then keeps out only this process's threads, and says so with the user's id.
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
    // True while a thread of this process waits in lock() for another process to let go.
    bool waitsForAnotherProcess() const;

private:
    struct Private;
    Private *d;
};

} // namespace platform
