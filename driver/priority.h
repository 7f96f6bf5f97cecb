#pragma once
// Priorities of the polling run, in place of the Windows priority classes: the process's nice
// value stands for its class, and the polling thread asks for real-time (SCHED_FIFO) scheduling.
// Each step takes what the system grants and goes on quietly without the rest: an unprivileged
// user gets real-time scheduling only through an "rtprio" limit (and a lower nice value through a
// "nice" limit) in /etc/security/limits.conf, or the capability CAP_SYS_NICE.
#include <cstdint>

// The process's priority as a class number (nice value + 20, 0 the highest).
std::uint32_t GetPriorityClass();
// Sets the process's priority back to a class number read before; true when it was taken.
bool SetPriorityClass(std::uint32_t priorityClass);
// Raises the process as far as the system lets it (towards nice -20); true when raised at all.
bool RaiseProcessPriority();
// Asks real-time scheduling for the calling thread; true when it was granted.
bool SetThreadTimeCritical();
