#pragma once
// The receiver: one thread per open port that waits for bytes and feeds them
// to its endpoint's frame machine. It ends when asked (Close) or when the port
// went away; in the second case its endpoint is told on the UI thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace lindprog {

class TDevicePort;

class TSerialThread {
public:
    // onSelfEnd runs on the receiver thread when it ended without being
    // asked; it must only post, never block.
    TSerialThread(TDevicePort& owner, std::function<void()> onSelfEnd);
    ~TSerialThread();
    TSerialThread(const TSerialThread&) = delete;
    TSerialThread& operator=(const TSerialThread&) = delete;

    void Start();
    void Terminate();
    void WaitFor();
    bool Terminated() const { return TerminateRequested.load(); }

private:
    void Execute();

    TDevicePort& Owner;
    std::function<void()> OnSelfEnd;
    std::atomic<bool> TerminateRequested{false};
    std::thread Thread;
};

} // namespace lindprog
