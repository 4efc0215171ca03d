#include "cli/CliJob.h"

#include "cli/CliJobSession.h"
#include "cli/CliSignals.h"
#include "core/ops/ExitCode.h"
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

int RunJob(const TCliOptions& options, TCliOutput& output, const TJob& job, const TJobImages& images)
{
    if (options.Region)
        return output.EarlyFailure(CommandName(options.Command), ExitCode::Usage,
                                   "run takes its regions from the job; -r does not apply");
    const TPortSelection selection = Ports(options);
    if (!selection.Error.empty())
        return output.EarlyFailure(CommandName(options.Command), selection.ExitCode, selection.Error);
    std::optional<TUnitDatabase> database;
    const std::string path = DatabasePath(options, job);
    try {
        database.emplace(path);
    } catch (const std::exception& error) {
        return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError,
                                   "unit database " + path + ": " + error.what());
    }
    const auto& ports = selection.Ports;
    std::atomic<int> units{0};
    DeferStopsToOperations();
    std::vector<TResult> results(ports.size());
    const auto runOne = [&](std::size_t k) {
        TJobSession session(ports[k], options, {job, images, &*database, units}, output);
        results[k] = session.Run();
        output.Result(ports[k].Name, results[k]);
    };
    return RunOnEachPort(ports, runOne, results, output);
}

// db export and db stats print to stdout as they are: CSV and JSON Lines
// are for other programs, and nothing else goes with them.
int Database(const TCliOptions& options, TCliOutput& output)
{
    if (!options.Job.Database)
        return output.EarlyFailure(CommandName(options.Command), ExitCode::Usage,
                                   CommandName(options.Command) + " needs --db FILE");
    // Reading the records creates no database where none is.
    if (std::error_code error; !std::filesystem::is_regular_file(*options.Job.Database, error))
        return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError,
                                   "unit database " + *options.Job.Database + ": no such file");
    try {
        TUnitDatabase database(*options.Job.Database);
        std::string text;
        if (options.Command == TCliCommand::DbExport) {
            const auto units = database.Units(options.Job.Since);
            text = options.Json ? UnitsJsonLines(units) : UnitsCsv(units);
        } else {
            const TUnitStats stats = database.Stats(options.Job.Since);
            text = options.Json ? StatsJson(stats) + "\n" : StatsText(stats);
        }
        std::fputs(text.c_str(), stdout);
    } catch (const std::exception& error) {
        return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError,
                                   "unit database " + *options.Job.Database + ": " + error.what());
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
    if (options.Command == TCliCommand::DbExport || options.Command == TCliCommand::DbStats)
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
