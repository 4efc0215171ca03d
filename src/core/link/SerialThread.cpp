#include "core/link/SerialThread.h"

#include "core/base/ThreadPriority.h"
#include "core/link/DevicePort.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace lindprog {

namespace {
// A read failure that is not the port going away is retried, but not at once:
// a persistent one must not turn the receiver into a busy loop.
constexpr std::chrono::milliseconds FailurePause{20};
// Below this a frame's rest arrives in the next packet anyway.
constexpr std::size_t MinBytesWorthWaiting = 64;
} // namespace

TSerialThread::TSerialThread(TDevicePort& owner, std::function<void()> onSelfEnd)
    : Owner(owner), OnSelfEnd(std::move(onSelfEnd))
{
}

TSerialThread::~TSerialThread()
{
    Terminate();
    WaitFor();
}

void TSerialThread::Start()
{
    Thread = std::thread([this] { Execute(); });
}

void TSerialThread::Terminate()
{
    TerminateRequested = true;
    Owner.Com.CancelRead();
}

void TSerialThread::WaitFor()
{
    if (Thread.joinable())
        Thread.join();
}

void TSerialThread::Execute()
{
    RaiseCurrentThreadPriority();
    // Whatever the driver has is taken in one call and fed byte by byte: one
    // system call per byte would cost more CPU than the whole transfer.
    std::array<std::uint8_t, 4096> bytes{};
    bool portGone = false;
    auto lastBytes = std::chrono::steady_clock::now();
    while (!TerminateRequested) {
        std::size_t count = bytes.size();
        if (Owner.Com.Read(bytes.data(), count)) {
            if (count == 0) {
                // A read that came back empty (mostly its timeout) is where
                // the receiver sees the line quiet: a frame that noise began
                // and that is still waiting for bytes goes, and the replies it
                // took in are found.
                Owner.LineIdle(std::chrono::steady_clock::now() - lastBytes);
                continue;
            }
            lastBytes = std::chrono::steady_clock::now();
            Owner.FeedBytes(std::span(bytes.data(), count));
            const std::size_t missing = Owner.Frames.BytesToCompleteFrame();
            if (missing > MinBytesWorthWaiting)
                Owner.Com.WaitForBytes(std::min(missing, bytes.size()));
            continue;
        }
        if (Owner.Com.LastReadError() == TComError::PortGone) {
            TerminateRequested = true;
            portGone = true;
            break;
        }
        std::this_thread::sleep_for(FailurePause);
    }
    if (!portGone)
        return;
    Owner.ReceiverGone();
    if (OnSelfEnd)
        OnSelfEnd();
}

} // namespace lindprog
