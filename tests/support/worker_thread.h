#pragma once
// A worker thread for tests: runs one function, tells whether it has finished, and is joined
// when destroyed. A std::thread rather than a QThread, because ThreadSanitizer sees a join but
// not QThread::wait.
#include <atomic>
#include <functional>
#include <thread>

class WorkerThread {
public:
    explicit WorkerThread(std::function<void()> work)
        : thread_([this, work = std::move(work)] {
              work();
              done_ = true;
          })
    {}
    ~WorkerThread() { thread_.join(); }
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    bool finished() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
