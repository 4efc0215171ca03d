#pragma once
// A production station: one adapter session and the unit loop on it. It
// connects, makes sure the adapter runs its application, places the job
// against the adapter's catalogue (nothing is sent to the target when that
// fails), reads the adapter's key for the records, and then runs one unit
// or the loop: wait for a board, run its unit, record it, count it. The
// command line's run and the window's production columns are each a
// station with their own way of showing it.

#include "core/ops/AdapterSession.h"
#include "core/production/JobImages.h"
#include "core/production/JobPlan.h"
#include "core/production/JobUnit.h"
#include "core/production/UnitLoop.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace lindprog {

struct TStationJob {
    const TJob& Job;
    const TJobImages& Images;
    TUnitDatabase* Database;       // null when nothing is recorded (job check)
    std::atomic<int>& UnitNumbers; // every port's units, counted from 1
    std::string Station;
    std::string PortName; // "COM1": how the records and verdicts name the port
    std::string PortText; // "COM1 (/dev/ttyACM0)": how failures name it
    bool SkipErased = true;
};

// What a station tells its front end, on the station's thread.
class TStationEvents {
public:
    virtual ~TStationEvents() = default;
    virtual void WaitingForBoard() {}
    virtual void WaitingForRemoval() {}
    // Before anything is sent to the board: its serial number, if any.
    virtual void UnitStarted(std::optional<std::uint64_t> /*serial*/) {}
    // A unit has its verdict; number counts every port's units.
    virtual void UnitEnded(const TUnitOutcome& /*outcome*/, int /*number*/) {}
    // In a loop, after each unit, with the unit counted.
    virtual void Counted(const TUnitOutcome& /*outcome*/, int /*number*/, const TLoopCounters& /*counters*/) {}
    // The unit database's server went away, or is back: a line for the log.
    virtual void DatabaseWaiting(const std::string& /*line*/) {}
};

// Station events that write each unit's step reports to a log, as a
// restore in the window and a Python session's job unit show them.
class TStepReportLog : public TStationEvents {
public:
    explicit TStepReportLog(TLogSink& log) : Log(log) {}
    void UnitEnded(const TUnitOutcome& outcome, int) override
    {
        for (const TStepResult& step : outcome.Steps)
            for (const std::string& line : step.Report)
                Log.AddLogLine(line);
    }

protected:
    TLogSink& Log;
};

class TStation final : private TLoopEvents {
public:
    TStation(TAdapterSession& session, TStationJob job, TStationEvents& events);
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Connects and places the job; a failure when the station cannot run.
    std::optional<TSessionFailure> Start(int portNumber);
    // Places the job on a session connected already (to an adapter in
    // application mode), as Start does after connecting.
    std::optional<TSessionFailure> Place();
    // The job as placed by Start.
    TResolvedJob& Job() { return Resolved; }
    const TDevicePort& Port() const { return Session.Port(); }

    // One unit on the board that is there; none when it could not run (the
    // database refused a serial number: Failure() says why). A database
    // whose server went away is waited for first, with a back-off: for good
    // in a loop, a few tries for a single unit.
    std::optional<TUnitOutcome> RunUnit(const TRunPacing& pacing);
    // Units until the limits, a stop or a unit that ends the loop (cancelled,
    // adapter lost, no database: Failure() says why).
    TLoopEnd RunLoop(TBoardWait& wait, const TLoopLimits& limits, const TRunPacing& pacing);
    const TSessionFailure& Failure() const { return LastFailure; }
    // The last unit that ran, and its number.
    const std::optional<TUnitOutcome>& LastUnit() const { return LastOutcome; }
    int LastUnitNumber() const { return LastNumber; }
    const TLoopCounters* Counters() const { return Loop ? &Loop->Counters() : nullptr; }

private:
    // The back-off between tries to reach a lost database's server.
    static constexpr std::chrono::seconds FirstRetry{1};
    static constexpr std::chrono::seconds LongestRetry{8};
    static constexpr int SingleUnitTries = 4;

    std::optional<bool> RunUnit() override;
    // False when a stop ended the wait or a single unit gave up: Failure()
    // says which.
    bool AwaitDatabase(const TRunPacing& pacing, const std::string& why);
    void WaitingForBoard() override { Events.WaitingForBoard(); }
    void WaitingForRemoval() override { Events.WaitingForRemoval(); }
    void Counted(const TLoopCounters& counters) override;

    TAdapterSession& Session;
    TStationJob Setup;
    TStationEvents& Events;
    TResolvedJob Resolved;
    std::optional<TJobUnit> Unit;
    std::optional<TUnitLoop> Loop;
    const TRunPacing* LoopPacing = nullptr;
    std::optional<TUnitOutcome> LastOutcome;
    int LastNumber = 0;
    TSessionFailure LastFailure;
    bool DatabaseLost = false; // the last unit's row found the server gone
};

} // namespace lindprog
