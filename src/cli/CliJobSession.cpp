#include "cli/CliJobSession.h"

#include "cli/CliLoop.h"
#include "cli/CliPacing.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "cli/ExitCode.h"
#include "core/base/TextFormat.h"
#include "core/ops/OperationRunner.h"
#include "core/production/Sqlite.h"

#include <nlohmann/json.hpp>

namespace lindprog::cli {

namespace {

// A device the adapter does not offer is a name on the command line's terms
// (as -d's); everything else in a job is the file's fault.
int ExitCodeOfJobError(const TJobError& error)
{
    return error.Place == "device" ? ExitCode::Usage : ExitCode::FileError;
}

nlohmann::ordered_json UnitJson(const TUnitOutcome& outcome, int unit, const std::string& counters)
{
    auto object = JsonEvent("unit");
    object["unit"] = unit;
    object["port"] = outcome.Record.Port;
    object["passed"] = outcome.Passed;
    object["exit_code"] = outcome.ExitCode;
    object["serial"] = outcome.Serial ? nlohmann::ordered_json(*outcome.Serial) : nlohmann::ordered_json();
    object["failed_step"] = outcome.Record.FailedStep;
    object["message"] = outcome.Record.Message;
    object["seconds"] = outcome.Seconds;
    object["verdict"] = outcome.VerdictLine(unit);
    object["counters"] = counters;
    return object;
}

} // namespace

int ExitCodeOfStep(const TStepResult& step)
{
    return step.Cancelled ? ExitCode::Interrupted : ExitCodeForStatus(step.Status);
}

TJobSession::TJobSession(const TPortChoice& port, const TCliOptions& options, TJobInput input, TCliOutput& output)
    : TCliProgressView(output, port.Name), PortChoice(port), Options(options), Input(input), Output(output),
      Names(TPortNames::DefaultAssignmentsFile()), Port(Names, Dispatcher), Connection(Port, *this, *this)
{
    Names.Pin(PortChoice.Number, PortChoice.Path);
    Settings.TurnOffPower = Input.Job.PowerOff.value_or(Options.PowerOff);
    Settings.JtagDelay = Input.Job.JtagDelay.value_or(Options.JtagDelay);
    if (Options.Verbose || !Options.LogFile.empty())
        Port.SetTrace([this](const std::string& line) { Output.Trace(PortChoice.Name, line); });
}

TResult TJobSession::Failure(int exitCode, const std::string& message, int status) const
{
    TResult result;
    result.Command = CommandName(Options.Command);
    result.ExitCode = exitCode;
    result.Message = message;
    result.Status = status;
    return result;
}

TResult TJobSession::Connect()
{
    Connecting = true;
    const TConnectResult connected = Connection.Connect(PortChoice.Number);
    Connecting = false;
    if (auto unreached = UnreachedAdapter(connected, Connection, Port, PortChoice))
        return *unreached;
    if (connected != TConnectResult::Application)
        return Failure(ExitCode::Failed, "the adapter is not in application mode; it runs no job");
    TResult ok;
    ok.Ok = true;
    return ok;
}

TResult TJobSession::Resolve(TResolvedJob& resolved)
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    try {
        resolved = ResolveJob(Input.Job, Input.Images, ReadJobCatalogue(Input.Job, Connection));
        resolved.SkipErased = !Options.Full;
    } catch (const TJobError& error) {
        return Failure(ExitCodeOfJobError(error), error.what());
    }
    for (const TJobStepPlan& step : resolved.Steps) {
        const TJobRegion& region = resolved.Catalogue.Regions[step.RegionIndex];
        if (const std::string refusal = EraseRefusal(step.Operation, region.Name, region.Flags); !refusal.empty())
            return Failure(ExitCode::Usage, step.Title + ": " + refusal);
    }
    TResult ok;
    ok.Ok = true;
    return ok;
}

TResult TJobSession::Check(std::string& text)
{
    TResolvedJob resolved;
    TResult result = Resolve(resolved);
    if (result.Ok)
        text = JobCheckText(Input.Job, Input.Images, &resolved);
    Port.Close();
    Dispatcher.RunPending();
    return result;
}

TResult TJobSession::Run()
{
    TResolvedJob resolved;
    TResult result = Resolve(resolved);
    if (result.Ok) {
        Port.GetKey();
        TOperationRunner runner(Port, Settings, *this, *this, *this);
        TStationInfo station{Options.Job.Station, PortChoice.Name, Port.Identity(),
                             Format("%d.%d", Port.VersionMajor(), Port.VersionMinor()), Port.KeyText()};
        TJobUnit unit(resolved, runner, Input.Database, station, Input.Images.Hash, ExitCodeOfStep);
        result = RunUnits(unit);
    }
    result.Command = CommandName(Options.Command);
    Port.Close();
    Dispatcher.RunPending();
    return result;
}

// One unit, or with --loop one per board. The loop's exit code is the
// highest of its units', or 130 once a stop signal ended it.
TResult TJobSession::RunUnits(TJobUnit& unit)
{
    if (!Options.Job.Loop)
        return OneUnit(unit, nullptr);
    TTargetWait wait(Port, Dispatcher, Options.Job.Trigger);
    TLoopCounters counters;
    TResult result;
    result.Ok = true;
    for (;;) {
        const TWaitEnd board = wait.ForBoard();
        if (board == TWaitEnd::LinkLost)
            return Failure(ExitCodeForStatus(wait.Status()), "the adapter stopped answering", wait.Status());
        if (board == TWaitEnd::Stopped)
            break;
        const TResult one = OneUnit(unit, &counters);
        result.Ok = result.Ok && one.Ok;
        result.ExitCode = std::max(result.ExitCode, one.ExitCode);
        if (one.ExitCode == ExitCode::Interrupted || one.ExitCode == ExitCode::NoAdapter)
            return one;
        if (Options.Job.Count && counters.Units() >= *Options.Job.Count)
            break;
        if (Options.Job.MaxFailures && counters.FailuresInRow() >= *Options.Job.MaxFailures) {
            Output.Error(PortChoice.Name, Format("%lld failures in a row: the loop stops",
                                                 static_cast<long long>(counters.FailuresInRow())));
            break;
        }
        if (wait.ForRemoval() != TWaitEnd::Ready)
            break;
    }
    if (StopRequested())
        return Failure(ExitCode::Interrupted, "cancelled after " + counters.Text());
    result.Message = counters.Text();
    return result;
}

TResult TJobSession::OneUnit(TJobUnit& unit, TLoopCounters* counters)
{
    const int number = ++Input.UnitNumbers;
    TUnitOutcome outcome;
    try {
        outcome = unit.Run(CommandLinePacing(Dispatcher, Options.Pause));
    } catch (const TDatabaseError& error) {
        return Failure(ExitCode::FileError, std::string("unit database: ") + error.what());
    }
    for (const TStepResult& step : outcome.Steps)
        for (const std::string& line : step.Report)
            Output.Log(PortChoice.Name, line);
    std::string text = outcome.VerdictLine(number);
    if (counters != nullptr) {
        counters->Add(outcome.Passed);
        text += "\n" + counters->Text();
    }
    Output.Report(PortChoice.Name, text, UnitJson(outcome, number, counters ? counters->Text() : ""));
    TResult result;
    result.Ok = outcome.Passed;
    result.ExitCode = outcome.ExitCode;
    result.Seconds = outcome.Seconds;
    result.Message = outcome.VerdictLine(number);
    if (outcome.FailedStep)
        result.Status = outcome.Steps[*outcome.FailedStep].Status;
    if (outcome.Record.ImageCrc) {
        result.HasCrc = true;
        result.Crc = *outcome.Record.ImageCrc;
    }
    return result;
}

void TJobSession::AddLogLine(const std::string& text)
{
    Output.Log(PortChoice.Name, text);
}

void TJobSession::ShowError(const std::string& text)
{
    if (!Connecting)
        AddLogLine(text);
}

void TJobSession::ShowInfo(const std::string& text)
{
    AddLogLine(text);
}

bool TJobSession::AskConfirm(const std::string&)
{
    return true; // running the job is the confirmation
}

TAnswer TJobSession::AskConfirmButton(const std::string&)
{
    // The only such question is the failed read block's.
    return Input.Job.IgnoreReadErrors.value_or(Options.IgnoreReadErrors) ? TAnswer::Yes : TAnswer::No;
}

TAnswer TJobSession::AskWarning(const std::string&)
{
    return TAnswer::No;
}

} // namespace lindprog::cli
