#include "cli/CliLoop.h"

#include "cli/CliSignals.h"
#include "core/base/TextFormat.h"
#include "core/base/UiDispatcher.h"
#include "core/link/AdapterRequests.h"
#include "core/link/DevicePort.h"
#include "core/link/PortStatus.h"

#include <thread>

namespace lindprog::cli {

TTargetWait::TTargetWait(TDevicePort& port, TQueueDispatcher& dispatcher, TTrigger trigger)
    : Port(port), Dispatcher(dispatcher), Trigger(trigger)
{
}

TWaitEnd TTargetWait::ForBoard()
{
    return Trigger == TTrigger::Scan ? PollChain(true) : ReadEnter();
}

TWaitEnd TTargetWait::ForRemoval()
{
    return Trigger == TTrigger::Scan ? PollChain(false) : TWaitEnd::Ready;
}

TWaitEnd TTargetWait::PollChain(bool wantDevice)
{
    for (;;) {
        if (StopRequested())
            return TWaitEnd::Stopped;
        const auto scan = RequestJtagScan(Port);
        Dispatcher.RunPending();
        LastStatus = scan.Status;
        if (!PortStatus::AdapterAnswered(scan.Status))
            return TWaitEnd::LinkLost;
        // A failed scan (no target powered yet) counts as an empty chain.
        const bool device = scan.Ok() && scan.Value.DeviceCount > 0;
        if (device == wantDevice)
            return TWaitEnd::Ready;
        std::this_thread::sleep_for(ScanInterval);
    }
}

TLoopCounters::TLoopCounters() : Start(std::chrono::steady_clock::now())
{
}

void TLoopCounters::Add(bool passed)
{
    ++(passed ? Passed : Failed);
    InRow = passed ? 0 : InRow + 1;
}

std::string TLoopCounters::Text() const
{
    const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count() / 3600.0;
    const double perHour = hours > 0 ? static_cast<double>(Units()) / hours : 0.0;
    return Format("passed %lld, failed %lld, %.1f units/h", static_cast<long long>(Passed),
                  static_cast<long long>(Failed), perHour);
}

} // namespace lindprog::cli
