#include "core/production/Station.h"

#include "core/ops/ExitCode.h"
#include "core/production/Sqlite.h"

namespace lindprog {

namespace {

// A device the adapter does not offer is a name on the command line's terms
// (as -d's); everything else in a job is the file's fault.
int ExitCodeOfJobError(const TJobError& error)
{
    return error.Place == "device" ? ExitCode::Usage : ExitCode::FileError;
}

} // namespace

TStation::TStation(TAdapterSession& session, TStationJob job, TStationEvents& events)
    : Session(session), Setup(std::move(job)), Events(events)
{
}

std::optional<TSessionFailure> TStation::Start(int portNumber)
{
    const TConnectResult connected = Session.Connect(portNumber);
    if (auto unreached = UnreachedAdapter(connected, Session.Connection(), Session.Port(), Setup.PortText))
        return unreached;
    if (connected != TConnectResult::Application)
        return TSessionFailure{ExitCode::Failed, "the adapter is not in application mode; it runs no job"};
    try {
        Resolved = ResolveJob(Setup.Job, Setup.Images, ReadJobCatalogue(Setup.Job, Session));
    } catch (const TJobError& error) {
        return TSessionFailure{ExitCodeOfJobError(error), error.what()};
    }
    Resolved.SkipErased = Setup.SkipErased;
    if (std::string refusal = Resolved.EraseRefusal(); !refusal.empty())
        return TSessionFailure{ExitCode::Usage, refusal};
    Session.Port().GetKey();
    Unit.emplace(Resolved, Session.Runner(), Setup.Database, StationOf(Session.Port(), Setup.Station, Setup.PortName),
                 Setup.Images.Hash, ExitCodeOfStep);
    return std::nullopt;
}

std::optional<TUnitOutcome> TStation::RunUnit(const TRunPacing& pacing)
{
    const int number = ++Setup.UnitNumbers;
    LastOutcome.reset();
    try {
        LastOutcome = Unit->Run(pacing, [this](std::optional<std::uint64_t> serial) { Events.UnitStarted(serial); });
    } catch (const TDatabaseError& error) {
        LastFailure = {ExitCode::FileError, std::string("unit database: ") + error.what()};
        return std::nullopt;
    }
    LastNumber = number;
    Events.UnitEnded(*LastOutcome, number);
    return LastOutcome;
}

TLoopEnd TStation::RunLoop(TBoardWait& wait, const TLoopLimits& limits, const TRunPacing& pacing)
{
    LoopPacing = &pacing;
    Loop.emplace(wait, limits);
    const TLoopEnd end = Loop->Run(*this);
    if (end == TLoopEnd::LinkLost)
        LastFailure = {ExitCodeForStatus(wait.Status()), "the adapter stopped answering", wait.Status()};
    return end;
}

std::optional<bool> TStation::RunUnit()
{
    const std::optional<TUnitOutcome> outcome = RunUnit(*LoopPacing);
    if (!outcome)
        return std::nullopt;
    // A cancelled unit, or one whose adapter went away, ends the loop: the
    // next board would meet the same.
    if (outcome->ExitCode == ExitCode::Interrupted) {
        LastFailure = {ExitCode::Interrupted, "cancelled"};
        return std::nullopt;
    }
    if (outcome->ExitCode == ExitCode::NoAdapter) {
        LastFailure = {ExitCode::NoAdapter, outcome->VerdictLine(LastNumber)};
        return std::nullopt;
    }
    return outcome->Passed;
}

void TStation::Counted(const TLoopCounters& counters)
{
    Events.Counted(*LastOutcome, LastNumber, counters);
}

} // namespace lindprog
