// Process and thread priorities of the polling run; every refusal is taken quietly.
#include "priority.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace {

constexpr int kRealTimePriority = 50;  // middle of the SCHED_FIFO range: above the desktop's own

// Sets the nice value of every thread of the process. A thread that ended meanwhile is no
// failure; true when every other thread took the value.
bool SetNiceOfAllThreads(int nice)
{
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/self/task", error);
    if (error)
        return setpriority(PRIO_PROCESS, 0, nice) == 0;
    bool all = true;
    for (const auto &task : tasks) {
        const id_t thread = id_t(std::stoul(task.path().filename().string()));
        if (setpriority(PRIO_PROCESS, thread, nice) != 0 && errno != ESRCH)
            all = false;
    }
    return all;
}

} // namespace

std::uint32_t GetPriorityClass()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    return errno == 0 ? std::uint32_t(nice + 20) : 20;
}

bool SetPriorityClass(std::uint32_t priorityClass)
{
    return SetNiceOfAllThreads(int(priorityClass) - 20);
}

bool RaiseProcessPriority()
{
    const std::uint32_t before = GetPriorityClass();
    if (SetNiceOfAllThreads(-20))
        return true;
    // RLIMIT_NICE allows nice values down to 20 - limit.
    rlimit limit {};
    if (getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == 0)
        return false;
    const int lowest = std::max(-20, 20 - int(std::min<rlim_t>(limit.rlim_cur, 40)));
    return lowest < int(before) - 20 && SetNiceOfAllThreads(lowest);
}

bool SetThreadTimeCritical()
{
    sched_param param {};
    param.sched_priority = kRealTimePriority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
        return true;
    rlimit limit {};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == 0)
        return false;
    param.sched_priority = int(std::min<rlim_t>(limit.rlim_cur, kRealTimePriority));
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}
