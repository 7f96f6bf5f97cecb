#pragma once
// What a simulator saw and did, for the tests and benchmarks that drive it: the requests in
// the order they came (to read, clear and wait for) and the simulator's figures (to read and
// reset). Both simulators keep one, each with its own kind of request and figures. It has a
// lock of its own, taken last: a simulator may record while it holds its own lock.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace sim {

template <class Request, class Stats>
class RequestLog {
public:
    // Records a request and lets `count` add it to the figures, in one step.
    template <class Count>
    void add(Request request, Count count)
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(request));
        count(m_stats);
        m_changed.notify_all();
    }
    // Lets `count` change the figures.
    template <class Count>
    void count(Count count)
    {
        std::lock_guard lock(m_mutex);
        count(m_stats);
    }

    std::vector<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_requests.clear();
    }
    // Waits until at least `count` requests are recorded; false at the time-out.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
    }
    Stats stats() const
    {
        std::lock_guard lock(m_mutex);
        return m_stats;
    }
    void resetStats()
    {
        std::lock_guard lock(m_mutex);
        m_stats = Stats{};
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Request> m_requests;
    Stats m_stats;
};

} // namespace sim
