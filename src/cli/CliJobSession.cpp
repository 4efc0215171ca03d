#include "cli/CliJobSession.h"

#include "cli/CliLoop.h"
#include "cli/CliPacing.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "core/base/TextFormat.h"
#include "core/ops/ExitCode.h"
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

TJobSession::TJobSession(const TPortChoice& port, const TCliOptions& options, TJobInput input, TCliOutput& output)
    : TCliProgressView(output, port.Name), PortChoice(port), Options(options), Input(input), Output(output),
      Names(TPortNames::DefaultAssignmentsFile()), Port(Names, Dispatcher), Connection(Port, Answers, *this)
{
    Names.Pin(PortChoice.Number, PortChoice.Path);
    Settings.TurnOffPower = Input.Job.PowerOff.value_or(Options.PowerOff);
    Settings.JtagDelay = Input.Job.JtagDelay.value_or(Options.JtagDelay);
    Answers.IgnoreReadErrors = Input.Job.IgnoreReadErrors.value_or(Options.IgnoreReadErrors);
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
    Answers.Quiet = true;
    const TConnectResult connected = Connection.Connect(PortChoice.Number);
    Answers.Quiet = false;
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
    if (const std::string refusal = resolved.EraseRefusal(); !refusal.empty())
        return Failure(ExitCode::Usage, refusal);
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
        TOperationRunner runner(Port, Settings, *this, Answers, *this);
        TJobUnit unit(resolved, runner, Input.Database, StationOf(Port, Options.Job.Station, PortChoice.Name),
                      Input.Images.Hash, ExitCodeOfStep);
        result = Options.Job.Loop ? RunLoop(unit) : OneUnit(unit);
        if (!Options.Job.Loop && LastOutcome)
            Report(nullptr);
    }
    result.Command = CommandName(Options.Command);
    Port.Close();
    Dispatcher.RunPending();
    return result;
}

// One unit per board. The loop's exit code is the highest of its units', or
// 130 once a stop signal ended it.
TResult TJobSession::RunLoop(TJobUnit& unit)
{
    TEnterWait enter;
    TChainWait chain(Port, Dispatcher, [] { return StopRequested().load(); });
    TBoardWait& wait = Options.Job.Trigger == TTrigger::Scan ? static_cast<TBoardWait&>(chain) : enter;
    TUnitLoop loop(wait, {Options.Job.Count, Options.Job.MaxFailures});
    Unit = &unit;
    LoopResult = {};
    LoopResult.Ok = true;
    switch (loop.Run(*this)) {
    case TLoopEnd::LinkLost:
        return Failure(ExitCodeForStatus(wait.Status()), "the adapter stopped answering", wait.Status());
    case TLoopEnd::UnitAborted: return Aborted;
    case TLoopEnd::FailuresInRow:
        Output.Error(PortChoice.Name, Format("%lld failures in a row: the loop stops",
                                             static_cast<long long>(loop.Counters().FailuresInRow())));
        break;
    case TLoopEnd::Stopped:
    case TLoopEnd::Counted: break;
    }
    if (StopRequested())
        return Failure(ExitCode::Interrupted, "cancelled after " + loop.Counters().Text());
    LoopResult.Message = loop.Counters().Text();
    return LoopResult;
}

std::optional<bool> TJobSession::RunUnit()
{
    const TResult one = OneUnit(*Unit);
    LoopResult.Ok = LoopResult.Ok && one.Ok;
    LoopResult.ExitCode = std::max(LoopResult.ExitCode, one.ExitCode);
    if (LastOutcome && one.ExitCode != ExitCode::Interrupted && one.ExitCode != ExitCode::NoAdapter)
        return one.Ok;
    if (LastOutcome)
        Report(nullptr);
    Aborted = one;
    return std::nullopt;
}

void TJobSession::Counted(const TLoopCounters& counters)
{
    Report(&counters);
}

TResult TJobSession::OneUnit(TJobUnit& unit)
{
    const int number = ++Input.UnitNumbers;
    LastOutcome.reset();
    try {
        LastOutcome = unit.Run(CommandLinePacing(Dispatcher, Options.Pause));
    } catch (const TDatabaseError& error) {
        return Failure(ExitCode::FileError, std::string("unit database: ") + error.what());
    }
    LastNumber = number;
    const TUnitOutcome& outcome = *LastOutcome;
    for (const TStepResult& step : outcome.Steps)
        for (const std::string& line : step.Report)
            Output.Log(PortChoice.Name, line);
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

void TJobSession::Report(const TLoopCounters* counters)
{
    std::string text = LastOutcome->VerdictLine(LastNumber);
    if (counters != nullptr)
        text += "\n" + counters->Text();
    Output.Report(PortChoice.Name, text, UnitJson(*LastOutcome, LastNumber, counters ? counters->Text() : ""));
}

void TJobSession::AddLogLine(const std::string& text)
{
    Output.Log(PortChoice.Name, text);
}

} // namespace lindprog::cli
