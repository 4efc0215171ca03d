#pragma once
// The firmware update worker: brings the adapter into its bootloader, sends
// the page records of the image one by one, and restarts the adapter.
//
// It runs on a thread of its own and is the only user of the endpoint while
// it runs, so it opens and closes the port itself. Every change it makes to
// its dialog (a log line, the progress position) is carried out on the UI
// thread through the dispatcher, in the order issued, and the worker waits
// until it has been done. The end of the worker is reported the same way,
// after its body has returned.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace lindprog {

class TDevicePort;
class TUiDispatcher;

// The dialog as the worker sees it; called on the UI thread only.
class TUpdateView {
public:
    virtual ~TUpdateView() = default;
    virtual void AddLine(const std::string& text) = 0;
    virtual void SetProgress(int position) = 0;
};

// Time as the worker sees it. Tests hand in a clock that records the pauses
// instead of sleeping them; the program uses SystemClock().
class TUpdateClock {
public:
    virtual ~TUpdateClock() = default;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};
TUpdateClock& SystemClock();

class TProgramThread {
public:
    static constexpr std::chrono::milliseconds PagePause{100};
    static constexpr std::chrono::milliseconds NotReadyPause{1000};
    static constexpr std::chrono::milliseconds BootloaderWindow{10000};
    static constexpr std::chrono::milliseconds RestartPause{2000};
    static constexpr std::chrono::milliseconds OpenRetryPause{250};

    // The image must stay alive and unchanged until the worker has ended.
    TProgramThread(TDevicePort& port, TUiDispatcher& dispatcher, TUpdateView& view, std::span<const std::uint8_t> image,
                   TUpdateClock& clock = SystemClock());
    // Waits for the worker. One still running (its dialog going away with the
    // program) stops at its next step; it makes no further dialog changes.
    ~TProgramThread();
    TProgramThread(const TProgramThread&) = delete;
    TProgramThread& operator=(const TProgramThread&) = delete;

    // Runs on the UI thread once the worker's body has returned.
    void SetOnDone(std::function<void()> onDone) { OnDone = std::move(onDone); }
    void Start();
    // After the worker has ended: whether every page was accepted and the
    // adapter was restarted.
    bool Succeeded() const { return Success; }

private:
    void Execute();
    bool StartBootloader();
    bool SendPage(int page);
    void RestartAdapter();
    std::string FailedLine() const;

    void AddLine(const std::string& text);
    void SetProgress(int position);
    // Runs change on the UI thread and waits until it has run.
    void RunOnUi(std::function<void()> change);
    bool Abandoned() const;

    TDevicePort& Port;
    TUiDispatcher& Dispatcher;
    TUpdateView& View;
    std::span<const std::uint8_t> Image;
    TUpdateClock& Clock;
    std::function<void()> OnDone;

    int PortNumber = 0;
    std::uint32_t AppStart = 0;
    std::uint32_t AppEnd = 0;
    std::size_t NextPage = 0; // offset of the next page record in Image
    std::atomic<bool> Success = false;

    // Posted changes hold only a weak reference, so one that runs after the
    // worker is gone does nothing.
    std::shared_ptr<TProgramThread*> Alive;
    const std::weak_ptr<TProgramThread*> AliveToken;
    mutable std::mutex Mutex;
    std::condition_variable ChangeDone;
    std::uint64_t Issued = 0;    // worker thread only
    std::uint64_t Completed = 0; // under Mutex
    bool Abandon = false;        // under Mutex
    std::thread Thread;
};

} // namespace lindprog
