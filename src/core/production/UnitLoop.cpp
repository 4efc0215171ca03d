#include "core/production/UnitLoop.h"

#include "core/base/TextFormat.h"
#include "core/base/UiDispatcher.h"
#include "core/link/Adapter.h"
#include "core/link/PortStatus.h"

#include <thread>

namespace lindprog {

TChainWait::TChainWait(TAdapter& port, TQueueDispatcher& dispatcher, TStop stop, TSleep sleep)
    : Port(port), Dispatcher(dispatcher), Stop(std::move(stop)), Sleep(std::move(sleep))
{
    if (!Sleep)
        Sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
}

TWaitEnd TChainWait::PollChain(bool wantDevice)
{
    for (;;) {
        if (Stop && Stop())
            return TWaitEnd::Stopped;
        const auto scan = Port.JtagScan();
        Dispatcher.RunPending();
        LastStatus = scan.Status;
        if (!PortStatus::AdapterAnswered(scan.Status))
            return TWaitEnd::LinkLost;
        const bool device = scan.Ok() && scan.Value.DeviceCount > 0;
        if (device == wantDevice)
            return TWaitEnd::Ready;
        Sleep(ScanInterval);
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

double TLoopCounters::UnitsPerHour() const
{
    const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count() / 3600.0;
    return hours > 0 ? static_cast<double>(Units()) / hours : 0.0;
}

std::string TLoopCounters::Text() const
{
    return Format("passed %lld, failed %lld, %.1f units/h", static_cast<long long>(Passed),
                  static_cast<long long>(Failed), UnitsPerHour());
}

TUnitLoop::TUnitLoop(TBoardWait& wait, TLoopLimits limits) : Wait(wait), Limits(limits)
{
}

namespace {

std::optional<TLoopEnd> EndOfWait(TWaitEnd end)
{
    switch (end) {
    case TWaitEnd::Ready: return std::nullopt;
    case TWaitEnd::Stopped: return TLoopEnd::Stopped;
    case TWaitEnd::LinkLost: return TLoopEnd::LinkLost;
    }
    return TLoopEnd::Stopped;
}

} // namespace

TLoopEnd TUnitLoop::Run(TLoopEvents& events)
{
    for (;;) {
        events.WaitingForBoard();
        if (const auto end = EndOfWait(Wait.ForBoard()))
            return *end;
        const std::optional<bool> passed = events.RunUnit();
        if (!passed)
            return TLoopEnd::UnitAborted;
        Counts.Add(*passed);
        events.Counted(Counts);
        if (Limits.Count && Counts.Units() >= *Limits.Count)
            return TLoopEnd::Counted;
        if (Limits.MaxFailures && Counts.FailuresInRow() >= *Limits.MaxFailures)
            return TLoopEnd::FailuresInRow;
        events.WaitingForRemoval();
        if (const auto end = EndOfWait(Wait.ForRemoval()))
            return *end;
    }
}

} // namespace lindprog
