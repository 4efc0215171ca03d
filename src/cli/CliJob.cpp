#include "cli/CliJob.h"

#include "cli/CliBackup.h"
#include "cli/CliJobSession.h"
#include "cli/CliSignals.h"
#include "core/base/TextFormat.h"
#include "core/ops/ExitCode.h"
#include "core/production/PgUnitDatabase.h"
#include "core/production/UnitReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

namespace lindprog::cli {

namespace {

// The job as the command line changes it: its options win over the file's.
TJob LoadWithOverrides(const TCliOptions& options)
{
    TJob job = LoadJob(options.File);
    if (options.Device)
        job.Device = TEntryChoice{*options.Device, std::nullopt};
    if (options.Voltage)
        job.Voltage = *options.Voltage;
    if (options.Job.JtagDelayGiven)
        job.JtagDelay = options.JtagDelay;
    if (options.Job.PowerOffGiven)
        job.PowerOff = options.PowerOff;
    if (options.IgnoreReadErrors)
        job.IgnoreReadErrors = true;
    return job;
}

std::string DatabasePath(const TCliOptions& options, const TJob& job)
{
    if (options.Job.Database)
        return *options.Job.Database;
    return JobDatabasePath(job);
}

TPortSelection Ports(const TCliOptions& options)
{
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    return SelectPorts(options.Ports, names);
}

int JobCheck(const TCliOptions& options, TCliOutput& output, const TJob& job, const TJobImages& images)
{
    std::string text = JobCheckText(job, images);
    std::string port;
    if (!options.Ports.empty()) {
        const TPortSelection selection = Ports(options);
        if (!selection.Error.empty())
            return output.EarlyFailure(CommandName(options.Command), selection.ExitCode, selection.Error);
        port = selection.Ports.front().Name;
        DeferStopsToOperations();
        std::atomic<int> units{0};
        TJobSession session(selection.Ports.front(), options, {job, images, nullptr, units}, output);
        const TResult result = session.Check(text);
        if (!result.Ok) {
            output.Result(port, result);
            return result.ExitCode;
        }
    }
    auto object = JsonEvent("job");
    object["port"] = port;
    object["name"] = job.Name;
    object["hash"] = images.Hash;
    object["plan"] = text;
    output.Report(port, text, object);
    return ExitCode::Ok;
}

// A database that cannot be opened or read; a server's message names it by
// its URI without the password, a file's does not name it.
int DatabaseFailure(const TCliOptions& options, TCliOutput& output, const std::string& where,
                    const std::exception& error)
{
    const auto* database = dynamic_cast<const TDatabaseError*>(&error);
    const bool lost = database != nullptr && database->Lost();
    std::string text = error.what();
    if (!IsServerDatabase(where))
        text = where + ": " + text;
    return output.EarlyFailure(CommandName(options.Command), lost ? ExitCode::Database : ExitCode::FileError,
                               "unit database " + text);
}

int RunJob(const TCliOptions& options, TCliOutput& output, const TJob& job, const TJobImages& images)
{
    if (options.Region)
        return output.EarlyFailure(CommandName(options.Command), ExitCode::Usage,
                                   "run takes its regions from the job; -r does not apply");
    const TPortSelection selection = Ports(options);
    if (!selection.Error.empty())
        return output.EarlyFailure(CommandName(options.Command), selection.ExitCode, selection.Error);
    std::unique_ptr<TUnitDatabase> database;
    try {
        database = OpenUnitDatabase(DatabasePath(options, job));
    } catch (const std::exception& error) {
        return DatabaseFailure(options, output, DatabasePath(options, job), error);
    }
    const auto& ports = selection.Ports;
    std::atomic<int> units{0};
    DeferStopsToOperations();
    std::vector<TResult> results(ports.size());
    const auto runOne = [&](std::size_t k) {
        TJobSession session(ports[k], options, {job, images, database.get(), units}, output);
        results[k] = session.Run();
        output.Result(ports[k].Name, results[k]);
    };
    return RunOnEachPort(ports, runOne, results, output);
}

// Reading the records creates no database where none is: a file must be
// there (a server's database is made when a station first records).
std::unique_ptr<TUnitDatabase> OpenExisting(const std::string& where)
{
    if (std::error_code error; !IsServerDatabase(where) && !std::filesystem::is_regular_file(where, error))
        throw std::runtime_error("no such file");
    return OpenUnitDatabase(where);
}

std::string StatsReport(TUnitDatabase& database, const TCliOptions& options)
{
    const auto units = database.Units(options.Job.Since);
    if (!options.Job.ByStation)
        return options.Json ? StatsJson(StatsOf(units)) + "\n" : StatsText(StatsOf(units));
    const auto stations = StatsByStation(units);
    return options.Json ? LineStatsJson(stations, StatsOf(units)) + "\n" : LineStatsText(stations, StatsOf(units));
}

// db import: every record of the station's file that the line's database
// does not hold yet.
std::string Import(TUnitDatabase& database, const TCliOptions& options)
{
    auto* line = dynamic_cast<TPgUnitDatabase*>(&database);
    if (line == nullptr)
        throw std::runtime_error("db import adds to a line's shared database: --db takes postgresql://...");
    const auto units = OpenExisting(options.Job.ImportFrom)->Units();
    const std::int64_t added = line->ImportUnits(units);
    return Format("%lld of %zu units added from %s\n", static_cast<long long>(added), units.size(),
                  options.Job.ImportFrom.c_str());
}

// db export and db stats print to stdout as they are: CSV and JSON Lines
// are for other programs, and nothing else goes with them.
int Database(const TCliOptions& options, TCliOutput& output)
{
    const std::string command = CommandName(options.Command);
    if (!options.Job.Database)
        return output.EarlyFailure(command, ExitCode::Usage, command + " needs --db FILE or --db URI");
    if (options.Command == TCliCommand::DbImport && options.Job.ImportFrom.empty())
        return output.EarlyFailure(command, ExitCode::Usage, "db import needs --from FILE");
    const std::string& where = *options.Job.Database;
    try {
        const auto database = options.Command == TCliCommand::DbImport ? OpenUnitDatabase(where) : OpenExisting(where);
        std::string text;
        if (options.Command == TCliCommand::DbExport) {
            const auto units = database->Units(options.Job.Since);
            text = options.Json ? UnitsJsonLines(units) : UnitsCsv(units);
        } else if (options.Command == TCliCommand::DbStats) {
            text = StatsReport(*database, options);
        } else {
            text = Import(*database, options);
        }
        std::fputs(text.c_str(), stdout);
    } catch (const std::exception& error) {
        return DatabaseFailure(options, output, where, error);
    }
    return ExitCode::Ok;
}

} // namespace

bool IsProductionCommand(TCliCommand command)
{
    return command >= TCliCommand::Run;
}

int RunProductionCommand(const TCliOptions& options, TCliOutput& output)
{
    if (IsBackupCommand(options.Command))
        return RunBackupCommand(options, output);
    if (options.Command == TCliCommand::DbExport || options.Command == TCliCommand::DbStats ||
        options.Command == TCliCommand::DbImport)
        return Database(options, output);
    // The job and every image are read before any port is opened.
    std::optional<TJob> job;
    TJobImages images;
    try {
        job = LoadWithOverrides(options);
        images = ReadJobImages(*job);
    } catch (const TJobError& error) {
        return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError, error.what());
    }
    if (options.Command == TCliCommand::JobCheck)
        return JobCheck(options, output, *job, images);
    return RunJob(options, output, *job, images);
}

} // namespace lindprog::cli
