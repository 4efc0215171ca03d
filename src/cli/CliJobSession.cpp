#include "cli/CliJobSession.h"

#include "cli/CliLoop.h"
#include "cli/CliPacing.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "core/base/TextFormat.h"
#include "core/ops/ExitCode.h"

#include <nlohmann/json.hpp>

#include <chrono>

namespace lindprog::cli {

namespace {

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

// A unit's verdict goes to stdout with every other unit's, PASS or FAIL, and
// with the loop's counters after it, so the units read in order in one
// place; the exit code tells a script that one failed.
TResult UnitResult(const TUnitOutcome& outcome, int number)
{
    TResult result;
    result.Reported = true;
    result.Ok = outcome.Passed;
    result.ExitCode = outcome.ExitCode;
    result.Message = outcome.VerdictLine(number);
    if (outcome.FailedStep)
        result.Status = outcome.Steps[*outcome.FailedStep].Status;
    if (outcome.Record.ImageCrc) {
        result.HasCrc = true;
        result.Crc = *outcome.Record.ImageCrc;
    }
    return result;
}

} // namespace

TJobSession::TJobSession(const TPortChoice& port, const TCliOptions& options, TJobInput input, TCliOutput& output)
    : TCliProgressView(output, port.Name), PortChoice(port), Options(options), Input(input), Output(output),
      Names(TPortNames::DefaultAssignmentsFile()), Session(Names, Dispatcher, Settings, {*this, Answers, *this, *this}),
      Station(Session,
              {Input.Job, Input.Images, Input.Database, Input.UnitNumbers, Options.Job.Station, PortChoice.Name,
               PortChoice.Text(), !Options.Full},
              *this)
{
    Names.Pin(PortChoice.Number, PortChoice.Path);
    Settings.TurnOffPower = Input.Job.PowerOff.value_or(Options.PowerOff);
    Settings.JtagDelay = Input.Job.JtagDelay.value_or(Options.JtagDelay);
    Answers.IgnoreReadErrors = Input.Job.IgnoreReadErrors.value_or(Options.IgnoreReadErrors);
    if (Options.Verbose || !Options.LogFile.empty())
        Session.Port().SetTrace([this](const std::string& line) { ShowTrace(line); });
}

TResult TJobSession::Failure(const TSessionFailure& failure) const
{
    return FailedResult(failure.ExitCode, failure.Message, failure.Status);
}

TResult TJobSession::Start()
{
    // The failure names the port as it was given, not by a number.
    Answers.Quiet = true;
    const std::optional<TSessionFailure> failed = Station.Start(PortChoice.Number);
    Answers.Quiet = false;
    if (failed)
        return Failure(*failed);
    TResult ok;
    ok.Ok = true;
    return ok;
}

void TJobSession::Finish()
{
    Session.Port().Close();
    Dispatcher.RunPending();
}

TResult TJobSession::Check(std::string& text)
{
    TResult result = Start();
    if (result.Ok)
        text = JobCheckText(Input.Job, Input.Images, &Station.Job());
    result.Command = CommandName(Options.Command);
    Finish();
    return result;
}

TResult TJobSession::Run()
{
    const auto started = std::chrono::steady_clock::now();
    TResult result = Start();
    if (result.Ok)
        result = Options.Job.Loop ? RunLoop() : OneUnit();
    result.Command = CommandName(Options.Command);
    Finish();
    Finished(result);
    // What the port did in all, the loop's waits for boards included: a
    // unit's own bytes and seconds are in its verdict.
    result.Bytes = BytesWritten;
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

TResult TJobSession::OneUnit()
{
    const std::optional<TUnitOutcome> outcome = Station.RunUnit(CommandLinePacing(Dispatcher, Options.Pause));
    if (!outcome)
        return Failure(Station.Failure());
    Report(*outcome, Station.LastUnitNumber(), nullptr);
    return UnitResult(*outcome, Station.LastUnitNumber());
}

// One unit per board. The loop's exit code is the highest of its units', or
// 130 once a stop signal ended it.
TResult TJobSession::RunLoop()
{
    TEnterWait enter;
    TChainWait chain(Session.Adapter(), Dispatcher, [] { return StopRequested().load(); });
    TBoardWait& wait = Options.Job.Trigger == TTrigger::Scan ? static_cast<TBoardWait&>(chain) : enter;
    LoopResult = {};
    LoopResult.Ok = true;
    const TRunPacing pacing = CommandLinePacing(Dispatcher, Options.Pause);
    const TLoopEnd end = Station.RunLoop(wait, {Options.Job.Count, Options.Job.MaxFailures}, pacing);
    switch (end) {
    case TLoopEnd::LinkLost: return Failure(Station.Failure());
    case TLoopEnd::UnitAborted: {
        const auto& last = Station.LastUnit();
        if (!last)
            return Failure(Station.Failure());
        // The unit that ended the loop has its verdict, uncounted.
        Report(*last, Station.LastUnitNumber(), nullptr);
        return UnitResult(*last, Station.LastUnitNumber());
    }
    case TLoopEnd::FailuresInRow:
        FlushLog();
        Output.Error(PortChoice.Name, Format("%lld failures in a row: the loop stops",
                                             static_cast<long long>(Station.Counters()->FailuresInRow())));
        break;
    case TLoopEnd::Stopped:
    case TLoopEnd::Counted: break;
    }
    if (StopRequested())
        return FailedResult(ExitCode::Interrupted, "cancelled after " + Station.Counters()->Text());
    // The counters were printed with the last unit's verdict.
    LoopResult.Message = Station.Counters()->Text();
    LoopResult.Reported = true;
    return LoopResult;
}

void TJobSession::UnitEnded(const TUnitOutcome& outcome, int)
{
    for (const TStepResult& step : outcome.Steps)
        for (const std::string& line : step.Report)
            ShowLogLine(line);
    // The verdict follows the unit's lines.
    FlushLog();
    BytesWritten += outcome.BytesWritten;
    LoopResult.Ok = LoopResult.Ok && outcome.Passed;
    LoopResult.ExitCode = std::max(LoopResult.ExitCode, outcome.ExitCode);
}

void TJobSession::Counted(const TUnitOutcome& outcome, int number, const TLoopCounters& counters)
{
    Report(outcome, number, &counters);
}

void TJobSession::Report(const TUnitOutcome& outcome, int number, const TLoopCounters* counters)
{
    std::string text = outcome.VerdictLine(number);
    if (counters != nullptr)
        text += "\n" + counters->Text();
    FlushLog();
    Output.Report(PortChoice.Name, text, UnitJson(outcome, number, counters ? counters->Text() : ""));
}

void TJobSession::AddLogLine(const std::string& text)
{
    ShowLogLine(text);
}

} // namespace lindprog::cli
