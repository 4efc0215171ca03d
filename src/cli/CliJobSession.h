#pragma once
// One adapter's side of a production job: a station (the core's session and
// unit loop) on the thread that calls Run, shown on the command line. It
// runs one unit, or with --loop the loop until the count, the failures in a
// row or a stop signal end it.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliPorts.h"
#include "cli/CliProgressView.h"
#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/link/PortNames.h"
#include "core/ops/AdapterSession.h"
#include "core/production/Station.h"
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

class TJobSession final : private TLogSink, private TCliProgressView, private TStationEvents {
public:
    TJobSession(const TPortChoice& port, const TCliOptions& options, TJobInput input, TCliOutput& output);
    TJobSession(const TJobSession&) = delete;
    TJobSession& operator=(const TJobSession&) = delete;

    TResult Run();
    // job check -p: the job resolved against this adapter.
    TResult Check(std::string& text);

private:
    TResult Start();
    TResult RunLoop();
    TResult OneUnit();
    // A unit's verdict line and JSON event, with the loop's counters.
    void Report(const TUnitOutcome& outcome, int number, const TLoopCounters* counters);
    TResult Failure(const TSessionFailure& failure) const;
    void Finish();

    void AddLogLine(const std::string& text) override;
    void UnitStarted(std::optional<std::uint64_t>) override { PlanStarted(); }
    void UnitEnded(const TUnitOutcome& outcome, int number) override;
    void Counted(const TUnitOutcome& outcome, int number, const TLoopCounters& counters) override;
    void DatabaseWaiting(const std::string& line) override
    {
        FlushLog();
        Output.Error(PortChoice.Name, line);
    }

    const TPortChoice PortChoice;
    const TCliOptions& Options;
    TJobInput Input;
    TCliOutput& Output;

    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TSettings Settings;
    TUnattendedPrompts Answers{*this};
    TAdapterSession Session;
    TStation Station;
    TResult LoopResult;
    std::uint64_t BytesWritten = 0; // by every unit of this port
};

} // namespace lindprog::cli
