#pragma once
// Runs a function on the UI thread. The receiver uses it to hand its
// end-of-thread notification to the thread that owns the endpoint, and the
// firmware update worker uses it for every change to its dialog. The GUI posts
// into Qt's event loop; tests and the command line use TQueueDispatcher.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace lindprog {

class TUiDispatcher {
public:
    virtual ~TUiDispatcher() = default;
    // Queues the function; never runs it on the caller's stack and never blocks.
    virtual void Post(std::function<void()> function) = 0;
};

// A plain queue whose owner runs what was posted, in order, when it chooses to.
class TQueueDispatcher final : public TUiDispatcher {
public:
    void Post(std::function<void()> function) override;
    // Runs every function posted so far; returns how many ran.
    int RunPending();
    // Waits up to timeout until something has been posted; runs nothing.
    bool WaitForPosted(std::chrono::milliseconds timeout);
    // Waits up to timeout for at least one posted function, then runs them all.
    int WaitAndRun(std::chrono::milliseconds timeout);

private:
    std::mutex Mutex;
    std::condition_variable Posted;
    std::deque<std::function<void()>> Queue;
};

} // namespace lindprog
