#pragma once
// Priorities of the polling run, in place of the Windows priority classes: the nice value stands
// for the process's class, and the polling thread asks for real-time (SCHED_FIFO) scheduling.
// On Linux a nice value belongs to one thread, so the process's class is set on every thread the
// process has at that moment (the window thread among them); threads made later take the value
// of the thread that makes them.
// Each step takes what the system grants and goes on quietly without the rest: an unprivileged
// user gets real-time scheduling only through an "rtprio" limit (and a lower nice value through a
// "nice" limit) in /etc/security/limits.conf, or the capability CAP_SYS_NICE.
#include <cstdint>

// The process's priority as a class number (nice value of the calling thread + 20, 0 the highest).
std::uint32_t GetPriorityClass();
// Sets every thread of the process to a class number read before; true when all took it.
bool SetPriorityClass(std::uint32_t priorityClass);
// Raises every thread of the process as far as the system lets it (towards nice -20); true when
// raised at all.
bool RaiseProcessPriority();
// Asks real-time scheduling for the calling thread; true when it was granted.
bool SetThreadTimeCritical();
