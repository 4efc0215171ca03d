#include "core/production/JobUnit.h"

#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/link/Adapter.h"
#include "core/ops/ExitCode.h"
#include "core/ops/OperationRunner.h"

#include <chrono>

namespace lindprog {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ResultWord(const TStepResult& step)
{
    if (!step.Ran)
        return "not run";
    if (step.Passed)
        return step.Line == "unchanged" ? "unchanged" : "passed";
    return step.Cancelled ? "cancelled" : "failed";
}

} // namespace

std::string TUnitOutcome::VerdictLine(int unit) const
{
    if (Passed)
        return Format("PASS unit %d %s", unit, Record.Port.c_str()) +
               (Serial ? " serial " + std::to_string(*Serial) : std::string()) + Format(" %.1f s", Seconds);
    std::string line = Format("FAIL unit %d %s", unit, Record.Port.c_str());
    if (FailedStep)
        line += " " + Steps[*FailedStep].Title + ": " + Steps[*FailedStep].Line;
    else if (!Record.Message.empty())
        line += " " + Record.Message;
    return line;
}

TJobUnit::TJobUnit(TResolvedJob& job, TOperationRunner& runner, TUnitDatabase* database, TStationInfo station,
                   std::string jobHash, TExitCodeOf exitCodeOf)
    : Job(job), Runner(runner), Database(database), Station(std::move(station)), JobHash(std::move(jobHash)),
      ExitCodeOf(std::move(exitCodeOf))
{
}

int ExitCodeOfStep(const TStepResult& step)
{
    return step.Cancelled ? ExitCode::Interrupted : ExitCodeForStatus(step.Status);
}

TStationInfo StationOf(const TAdapter& port, std::string station, std::string portName)
{
    return {std::move(station), std::move(portName), port.Identity(),
            Format("%d.%d", port.VersionMajor(), port.VersionMinor()), port.KeyText()};
}

TUnitOutcome TJobUnit::Run(const TRunPacing& pacing, const TStarted& onStart)
{
    const std::string started = UtcTimestamp(std::chrono::system_clock::now());
    const auto start = std::chrono::steady_clock::now();
    std::optional<TSerialLease> lease;
    if (const auto& rule = Job.Job.Serial) {
        if (Database == nullptr)
            throw TDatabaseError("a job with serial numbers needs the unit database");
        lease = Database->ReserveSerial(Job.Job.Name, rule->Start, rule->Step, rule->Format.Largest());
        Job.SetSerial(lease->Number);
    }
    if (onStart)
        onStart(lease ? std::optional(lease->Number) : std::nullopt);
    TUnitOutcome outcome;
    const TPlanOutcome& plan = Runner.Run(Job.Plan(), pacing);
    outcome.Steps = Job.Results(plan);
    outcome.BytesWritten = plan.BytesWritten();
    outcome.Serial = lease ? std::optional(lease->Number) : std::nullopt;
    for (std::size_t k = 0; k < outcome.Steps.size() && !outcome.FailedStep; ++k)
        if (!outcome.Steps[k].Passed)
            outcome.FailedStep = k;
    outcome.Passed = !outcome.FailedStep;
    outcome.ExitCode = outcome.Passed ? 0 : ExitCodeOf(outcome.Steps[*outcome.FailedStep]);
    outcome.Seconds = SecondsSince(start);
    Record(outcome, started, lease);
    return outcome;
}

std::optional<std::uint32_t> TJobUnit::ImageCrc() const
{
    const TJobStepPlan* chosen = nullptr;
    for (const TJobStepPlan& step : Job.Steps) {
        const bool sends = step.Operation == TOperation::Write || step.Operation == TOperation::Program;
        if (sends && (chosen == nullptr || (step.TakesSerial && !chosen->TakesSerial)))
            chosen = &step;
    }
    if (chosen == nullptr)
        return std::nullopt;
    return CrcUpdateBytes(CrcStart, chosen->Buffer);
}

void TJobUnit::Record(TUnitOutcome& outcome, const std::string& started, const std::optional<TSerialLease>& lease)
{
    TUnitRecord& record = outcome.Record;
    record.Started = started;
    record.Ended = UtcTimestamp(std::chrono::system_clock::now());
    record.Station = Station.Station;
    record.Port = Station.Port;
    record.Adapter = Station.Adapter;
    record.Firmware = Station.Firmware;
    record.AdapterKey = Station.AdapterKey;
    record.Device = Job.Catalogue.DeviceName;
    record.Job = Job.Job.Name;
    record.JobHash = JobHash;
    for (const TStepResult& step : outcome.Steps)
        record.Steps.push_back({step.Title, ResultWord(step), step.Line});
    record.Serial = outcome.Serial;
    record.ImageCrc = ImageCrc();
    record.Passed = outcome.Passed;
    record.ExitCode = outcome.ExitCode;
    if (outcome.FailedStep) {
        record.FailedStep = outcome.Steps[*outcome.FailedStep].Title;
        record.Message = outcome.Steps[*outcome.FailedStep].Line;
    }
    record.Seconds = outcome.Seconds;
    if (Database == nullptr)
        return;
    try {
        record.Id = Database->RecordUnit(record, lease);
    } catch (const TDatabaseError& error) {
        if (!error.Lost())
            throw;
        // The server went away with the unit's row: the unit did not pass
        // as far as the line knows, and its number goes back to the pool
        // with the station's session.
        outcome.Passed = record.Passed = false;
        outcome.ExitCode = record.ExitCode = ExitCode::Database;
        record.Message = std::string("unit database: ") + error.what();
    }
}

} // namespace lindprog
