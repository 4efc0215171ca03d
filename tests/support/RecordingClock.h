#pragma once
// A clock for the firmware update worker whose pauses are recorded and
// skipped; it runs on by what was skipped, so the worker's deadline
// arithmetic sees the same time as with real pauses.

#include "core/update/ProgramThread.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace lindprog::test {

class TRecordingClock final : public TUpdateClock {
public:
    std::chrono::steady_clock::time_point Now() const override
    {
        std::lock_guard lock(Mutex);
        return std::chrono::steady_clock::now() + Skipped;
    }
    void Sleep(std::chrono::milliseconds duration) override
    {
        std::lock_guard lock(Mutex);
        Pauses.push_back(duration);
        Skipped += duration;
    }
    std::vector<std::chrono::milliseconds> Recorded() const
    {
        std::lock_guard lock(Mutex);
        return Pauses;
    }

private:
    mutable std::mutex Mutex;
    std::vector<std::chrono::milliseconds> Pauses;
    std::chrono::milliseconds Skipped{0};
};

} // namespace lindprog::test
