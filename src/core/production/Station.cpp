#include "core/production/Station.h"

#include "core/base/TextFormat.h"
#include "core/ops/ExitCode.h"

#include <thread>

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
    return Place();
}

std::optional<TSessionFailure> TStation::Place()
{
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
    LastOutcome.reset();
    if (DatabaseLost && !AwaitDatabase(pacing, Setup.Database->Where() + ": the server went away"))
        return std::nullopt;
    const int number = ++Setup.UnitNumbers;
    for (;;) {
        try {
            LastOutcome =
                Unit->Run(pacing, [this](std::optional<std::uint64_t> serial) { Events.UnitStarted(serial); });
            break;
        } catch (const TDatabaseError& error) {
            // Nothing was sent to the board: once the server is back, its
            // unit starts as if nothing had happened.
            if (!error.Lost()) {
                LastFailure = {ExitCode::FileError, std::string("unit database: ") + error.what()};
                return std::nullopt;
            }
            if (!AwaitDatabase(pacing, error.what()))
                return std::nullopt;
        }
    }
    DatabaseLost = LastOutcome->ExitCode == ExitCode::Database;
    LastNumber = number;
    Events.UnitEnded(*LastOutcome, number);
    return LastOutcome;
}

bool TStation::AwaitDatabase(const TRunPacing& pacing, const std::string& why)
{
    std::chrono::seconds pause = FirstRetry;
    for (int tries = 0; Loop || tries < SingleUnitTries; ++tries) {
        Events.DatabaseWaiting(
            Format("unit database: %s; trying again in %d s", why.c_str(), static_cast<int>(pause.count())));
        const auto until = std::chrono::steady_clock::now() + pause;
        while (std::chrono::steady_clock::now() < until) {
            if (pacing.Stop && pacing.Stop()) {
                LastFailure = {ExitCode::Interrupted, "cancelled"};
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (Setup.Database->Reconnect()) {
            DatabaseLost = false;
            Events.DatabaseWaiting("unit database: " + Setup.Database->Where() + " answers again");
            return true;
        }
        pause = std::min(pause * 2, LongestRetry);
    }
    LastFailure = {ExitCode::Database, "unit database: " + why};
    return false;
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
