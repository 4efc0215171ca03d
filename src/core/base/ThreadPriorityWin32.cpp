#include "core/base/ThreadPriority.h"

#include <windows.h>

namespace lindprog {

// Time-critical within the process's priority class: above every normal
// thread of the desktop, without the real-time class that could starve the
// system itself.
void RaiseCurrentThreadPriority()
{
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

} // namespace lindprog
