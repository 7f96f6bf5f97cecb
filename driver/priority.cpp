// Process and thread priorities of the polling run; every refusal is taken quietly.
#include "priority.h"

#include <algorithm>

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace {

constexpr int kRealTimePriority = 50;  // middle of the SCHED_FIFO range: above the desktop's own

} // namespace

std::uint32_t GetPriorityClass()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    return errno == 0 ? std::uint32_t(nice + 20) : 20;
}

bool SetPriorityClass(std::uint32_t priorityClass)
{
    return setpriority(PRIO_PROCESS, 0, int(priorityClass) - 20) == 0;
}

bool RaiseProcessPriority()
{
    const std::uint32_t before = GetPriorityClass();
    if (setpriority(PRIO_PROCESS, 0, -20) == 0)
        return true;
    // RLIMIT_NICE allows nice values down to 20 - limit.
    rlimit limit {};
    if (getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == 0)
        return false;
    const int lowest = std::max(-20, 20 - int(std::min<rlim_t>(limit.rlim_cur, 40)));
    return lowest < int(before) - 20 && setpriority(PRIO_PROCESS, 0, lowest) == 0;
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
