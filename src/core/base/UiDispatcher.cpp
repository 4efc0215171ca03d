#include "core/base/UiDispatcher.h"

namespace lindprog {

void TQueueDispatcher::Post(std::function<void()> function)
{
    {
        std::lock_guard lock(Mutex);
        Queue.push_back(std::move(function));
    }
    Posted.notify_all();
}

int TQueueDispatcher::RunPending()
{
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(Mutex);
        ready.swap(Queue);
    }
    for (auto& function : ready)
        function();
    return static_cast<int>(ready.size());
}

bool TQueueDispatcher::WaitForPosted(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(Mutex);
    return Posted.wait_for(lock, timeout, [this] { return !Queue.empty(); });
}

int TQueueDispatcher::WaitAndRun(std::chrono::milliseconds timeout)
{
    WaitForPosted(timeout);
    return RunPending();
}

} // namespace lindprog
