#pragma once
// One port's production loop in the window, on a thread of its own: the
// same endpoint, connection, job unit and unit loop as lindprog-cli's run on
// that port, with the window's column as what it reports to.
//
// The thread answers the core's questions itself, as the command line does
// (running the job is the confirmation), and hands every report to the UI
// thread through the dispatcher. Stop ends the loop between units: a wait
// ends at once, a unit under way runs to its verdict. Destroying the worker
// also cancels a unit under way (at its next block, or at once when it waits
// for the adapter), and drops every report still queued for the column.

#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/ops/AdapterSession.h"
#include "core/production/Station.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace lindprog {

class TDevicePort;

// What the column shows; every call comes on the UI thread.
class TStationView {
public:
    virtual ~TStationView() = default;
    virtual void StationLog(const std::string& line) = 0;
    // The adapter answered and the job is placed against its regions.
    virtual void StationAdapter(const std::string& identity, const std::string& plan) = 0;
    virtual void StationWaiting(bool forRemoval) = 0;
    virtual void StationRunning(std::optional<std::uint64_t> serial) = 0;
    virtual void StationProgress(const std::string& step, int percent) = 0;
    virtual void StationVerdict(const TUnitOutcome& outcome, int unit, const TLoopCounters& counters) = 0;
    // The loop ended: stopped ("" as the reason) or why it could not go on.
    virtual void StationEnded(const std::string& reason) = 0;
};

struct TStationSetup {
    const TJob& Job;
    const TJobImages& Images;
    TUnitDatabase* Database;
    std::atomic<int>& UnitNumbers; // every port's units, counted from 1
    std::string PortName;          // "COM2"
    int PortNumber = 0;
    std::string DevicePath;
    std::string Station;
    TTrigger Trigger = TTrigger::Scan;
    bool SkipErased = true;
    // The window's settings, where the job says nothing.
    bool TurnOffPower = true;
    std::int32_t JtagDelay = 4;
    bool IgnoreReadErrors = false;
    std::chrono::milliseconds BlockPause{0}; // after each block, as lindprog-cli --pause
};

class TStationWorker final : private TLogSink, private TNullView, private TStationEvents {
public:
    TStationWorker(TUiDispatcher& ui, TStationView& view, TStationSetup setup);
    ~TStationWorker() override;
    TStationWorker(const TStationWorker&) = delete;
    TStationWorker& operator=(const TStationWorker&) = delete;

    void Start();
    // Ends the loop once the unit under way, if any, has its verdict.
    void Stop();
    // With the operator's trigger: one unit on the board that is there.
    void Next();
    bool Running() const { return Active.load(); }

private:
    // What queued reports share with the worker: they run only while the
    // worker lives.
    struct TShared {
        std::atomic<bool> Gone{false};
    };

    void Loop();
    // The connection, then the loop; why it ended ("" for a stop).
    std::string RunJob();
    std::string RunUnits(TAdapterSession& session, TStation& station);
    bool StopAsked();
    // Runs call on the UI thread, unless the worker is gone by then.
    void Tell(std::function<void(TStationView&)> call);
    TWaitEnd WaitForClick();
    void Sleep(std::chrono::milliseconds pause);

    void AddLogLine(const std::string& text) override;
    // TRunView
    void StageStarted(const TStageProgress& progress) override;
    void StageProgress(const TStageProgress& progress) override;
    // TStationEvents
    void WaitingForBoard() override;
    void WaitingForRemoval() override;
    void UnitStarted(std::optional<std::uint64_t> serial) override;
    void UnitEnded(const TUnitOutcome& outcome, int number) override;
    void Counted(const TUnitOutcome& outcome, int number, const TLoopCounters& counters) override;
    void DatabaseWaiting(const std::string& line) override { AddLogLine(line); }

    TUiDispatcher& Ui;
    TStationView& View;
    TStationSetup Setup;
    TUnattendedPrompts Answers{*this};
    std::shared_ptr<TShared> Shared = std::make_shared<TShared>();

    std::mutex Mutex;
    std::condition_variable Changed;
    bool Stopping = false;
    int Clicks = 0;
    bool WaitingForClick = false;
    std::atomic<bool> Cancel{false}; // the unit under way too
    // The endpoint while the loop has one open, so that the worker's end
    // need not wait out a request to a silent adapter.
    std::mutex PortMutex;
    TDevicePort* LivePort = nullptr;
    std::atomic<bool> Active{false};
    std::thread Thread;

    // The loop thread's own.
    TQueueDispatcher PortDispatcher;
    TResolvedJob* Resolved = nullptr;
    int LastPercent = -1;
};

} // namespace lindprog
