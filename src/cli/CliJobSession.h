#pragma once
// One adapter's side of a production job: its own endpoint, connection and
// runner, on the thread that calls Run. It finds the job's device, places
// the images against the adapter's regions, and runs one unit, or with
// --loop the core's unit loop until the count, the failures in a row or a
// stop signal end it.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliPorts.h"
#include "cli/CliProgressView.h"
#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/Connection.h"
#include "core/production/JobImages.h"
#include "core/production/JobPlan.h"
#include "core/production/JobUnit.h"
#include "core/production/UnitLoop.h"
#include "core/settings/Settings.h"

#include <atomic>

namespace lindprog::cli {

// What every port's session shares: the job as read once, and the records.
struct TJobInput {
    const TJob& Job;
    const TJobImages& Images;
    TUnitDatabase* Database;       // null for job check
    std::atomic<int>& UnitNumbers; // the units of every port, counted from 1
};

class TJobSession final : private TLogSink, private TCliProgressView, private TLoopEvents {
public:
    TJobSession(const TPortChoice& port, const TCliOptions& options, TJobInput input, TCliOutput& output);
    TJobSession(const TJobSession&) = delete;
    TJobSession& operator=(const TJobSession&) = delete;

    TResult Run();
    // job check -p: the job resolved against this adapter (throws TJobError).
    TResult Check(std::string& text);

private:
    TResult Connect();
    TResult Resolve(TResolvedJob& resolved);
    TResult RunLoop(TJobUnit& unit);
    TResult OneUnit(TJobUnit& unit);
    // The last unit's verdict line and JSON event, with the loop's counters.
    void Report(const TLoopCounters* counters);
    TResult Failure(int exitCode, const std::string& message, int status = 0) const;

    void AddLogLine(const std::string& text) override;
    std::optional<bool> RunUnit() override;
    void Counted(const TLoopCounters& counters) override;

    const TPortChoice PortChoice;
    const TCliOptions& Options;
    TJobInput Input;
    TCliOutput& Output;

    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TDevicePort Port;
    TUnattendedPrompts Answers{*this};
    TConnection Connection;
    TSettings Settings;
    // The loop's unit, its last outcome and what the loop ends with.
    TJobUnit* Unit = nullptr;
    std::optional<TUnitOutcome> LastOutcome;
    int LastNumber = 0;
    TResult LoopResult;
    TResult Aborted;
};

} // namespace lindprog::cli
