#include "core/base/ThreadPriority.h"

#include <cerrno>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lindprog {

// The lowest real-time priority (granted to root or under an rtprio limit),
// else a better nice value.
void RaiseCurrentThreadPriority()
{
    sched_param realTime{};
    realTime.sched_priority = ::sched_get_priority_min(SCHED_RR);
    if (::pthread_setschedparam(::pthread_self(), SCHED_RR, &realTime) == 0)
        return;
    // On Linux each thread has a nice value of its own, named by its id. The
    // nice limit may allow a smaller step than the one tried first.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (errno != 0)
        return;
    for (int step = 5; step > 0; --step)
        if (::setpriority(PRIO_PROCESS, thread, nice - step) == 0)
            return;
}

} // namespace lindprog
