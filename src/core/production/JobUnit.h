#pragma once
// One board through a resolved job: its serial number reserved and written
// into the image, the regions that preverify finds unchanged left out, the
// job's plan run on the connection, each step's result (compares included),
// and the unit's row in the database with its number used or returned.
// A front end calls Run once per board (TUnitLoop calls it through the
// front end's RunUnit) and shows the verdict.

#include "core/production/JobPlan.h"
#include "core/production/UnitDatabase.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

class TAdapter;
class TOperationRunner;

// What the records say about where the unit ran.
struct TStationInfo {
    std::string Station;
    std::string Port; // "COM1"
    std::string Adapter;
    std::string Firmware;
    std::string AdapterKey;
};

// A failed step's exit code as lindprog-cli exits for the same failure: the
// records keep it whichever front end ran the unit.
int ExitCodeOfStep(const TStepResult& step);

// The connected adapter as the records name it.
TStationInfo StationOf(const TAdapter& port, std::string station, std::string portName);

struct TUnitOutcome {
    bool Passed = false;
    int ExitCode = 0;
    std::optional<std::uint64_t> Serial;
    std::vector<TStepResult> Steps;
    std::optional<std::size_t> FailedStep; // index into Steps
    std::uint64_t BytesWritten = 0;        // by every step, to the board
    double Seconds = 0.0;
    TUnitRecord Record; // as written to the database (Id 0 without one)

    // "PASS unit 17 COM1 serial 100017 4.2 s" or "FAIL unit 18 COM1 step 2
    // verify: Compare error at 0x00000333"; a unit whose row the server did
    // not take says so in place of a step.
    std::string VerdictLine(int unit) const;
};

class TJobUnit {
public:
    // The exit code for a step that failed (ExitCodeOfStep, which every
    // front end passes); a passed unit exits with 0.
    using TExitCodeOf = std::function<int(const TStepResult&)>;

    // database may be null when the job has no serial rule and nothing is
    // to be recorded; jobHash is TJobImages::Hash.
    TJobUnit(TResolvedJob& job, TOperationRunner& runner, TUnitDatabase* database, TStationInfo station,
             std::string jobHash, TExitCodeOf exitCodeOf);

    // Runs one board; started learns its serial number before anything is
    // sent. Throws TDatabaseError when no serial number can be had (then
    // nothing was sent to the target).
    using TStarted = std::function<void(std::optional<std::uint64_t> serial)>;
    TUnitOutcome Run(const TRunPacing& pacing = {}, const TStarted& started = {});

private:
    void Record(TUnitOutcome& outcome, const std::string& started, const std::optional<TSerialLease>& lease);
    std::optional<std::uint32_t> ImageCrc() const;

    TResolvedJob& Job;
    TOperationRunner& Runner;
    TUnitDatabase* Database;
    TStationInfo Station;
    std::string JobHash;
    TExitCodeOf ExitCodeOf;
};

} // namespace lindprog
