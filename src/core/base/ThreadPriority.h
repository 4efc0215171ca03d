#pragma once
// Asks the system to run the calling thread ahead of ordinary work.
//
// Bytes wait in a serial driver only as long as its queue lasts, and a
// receiver woken late on a busy machine loses the rest of a frame. The wish
// may be refused (on Linux without the right to real-time scheduling); a
// refusal leaves the thread as it was without a word. One implementation per
// system: ThreadPriorityPosix.cpp, ThreadPriorityWin32.cpp.

namespace lindprog {

void RaiseCurrentThreadPriority();

} // namespace lindprog
