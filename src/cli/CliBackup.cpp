#include "cli/CliBackup.h"

#include "cli/CliPacing.h"
#include "cli/CliPorts.h"
#include "cli/CliProgressView.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/link/PortNames.h"
#include "core/ops/ExitCode.h"
#include "core/production/Backup.h"
#include "core/settings/Settings.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace lindprog::cli {

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// One adapter's backup or restore, on the thread that calls it.
class TBackupSession final : private TLogSink, private TCliProgressView, private TStationEvents {
public:
    TBackupSession(const TPortChoice& port, const TCliOptions& options, TCliOutput& output)
        : TCliProgressView(output, port.Name), PortChoice(port), Options(options), Output(output),
          Names(TPortNames::DefaultAssignmentsFile()),
          Session(Names, Dispatcher, Settings, {*this, Answers, *this, *this})
    {
        Names.Pin(PortChoice.Number, PortChoice.Path);
        Settings.TurnOffPower = Options.PowerOff;
        Settings.JtagDelay = Options.JtagDelay;
        if (Options.Verbose || !Options.LogFile.empty())
            Session.Port().SetTrace([this](const std::string& line) { ShowTrace(line); });
    }
    ~TBackupSession() override
    {
        Session.Port().Close();
        Dispatcher.RunPending();
    }
    TBackupSession(const TBackupSession&) = delete;
    TBackupSession& operator=(const TBackupSession&) = delete;

    TResult BackUp();
    TResult Restore(const TJob& manifest, const TJobImages& images);

private:
    std::optional<TResult> Connect();
    bool Confirm(const TJob& manifest, const TDeviceTarget& device);

    void AddLogLine(const std::string& text) override { ShowLogLine(text); }
    void UnitStarted(std::optional<std::uint64_t>) override { PlanStarted(); }
    void UnitEnded(const TUnitOutcome& outcome, int) override
    {
        for (const TStepResult& step : outcome.Steps)
            for (const std::string& line : step.Report)
                ShowLogLine(line);
        FlushLog();
    }

    const TPortChoice PortChoice;
    const TCliOptions& Options;
    TCliOutput& Output;
    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TSettings Settings;
    TUnattendedPrompts Answers{*this};
    TAdapterSession Session;
};

std::optional<TResult> TBackupSession::Connect()
{
    Answers.Quiet = true;
    const TConnectResult connected = Session.Connect(PortChoice.Number);
    Answers.Quiet = false;
    if (auto unreached = UnreachedAdapter(connected, Session.Connection(), Session.Port(), PortChoice))
        return unreached;
    if (connected != TConnectResult::Application)
        return FailedResult(ExitCode::Failed, "the adapter is not in application mode; it runs no operation");
    return std::nullopt;
}

TResult FromError(const TBackupError& error)
{
    return FailedResult(error.ExitCode, error.what(), error.Status);
}

nlohmann::ordered_json BackupJson(const std::string& port, const std::string& folder, const TBackupInfo& backup)
{
    auto regions = nlohmann::ordered_json::array();
    for (const TBackupRegion& region : backup.Regions)
        regions.push_back({{"name", region.Name},
                           {"index", region.Index},
                           {"size", region.Size},
                           {"file", region.File},
                           {"crc32", Format("%08X", region.Crc)},
                           {"sha256", region.Sha256},
                           {"failed_reads", region.FailedReads.size()}});
    auto object = JsonEvent("backup");
    object["port"] = port;
    object["device"] = backup.Device;
    object["manifest"] = (std::filesystem::path(folder) / ManifestName).string();
    object["regions"] = std::move(regions);
    return object;
}

TResult TBackupSession::BackUp()
{
    const double started = Now();
    if (auto failed = Connect())
        return *failed;
    const TBackupRequest request{Options.Device ? TEntryChoice{*Options.Device, std::nullopt} : TEntryChoice{{}, 0},
                                 Options.File};
    // The session runs nothing but the backup: the option is its policy.
    Answers.IgnoreReadErrors = Options.IgnoreReadErrors;
    TBackupInfo backup;
    try {
        backup = BackUpDevice(Session, request, CommandLinePacing(Dispatcher, Options.Pause));
    } catch (const TBackupError& error) {
        return FromError(error);
    }
    std::string text;
    TResult result;
    for (const TBackupRegion& region : backup.Regions) {
        text += Format("%s: %u bytes, CRC32 = %08X -> %s%s\n", ShowControlCharacters(region.Name).c_str(), region.Size,
                       region.Crc, region.File.c_str(),
                       region.FailedReads.empty()
                           ? ""
                           : Format(" (%zu blocks unreadable: not restorable)", region.FailedReads.size()).c_str());
        result.Bytes += region.Size;
    }
    const std::string manifest = (std::filesystem::path(Options.File) / ManifestName).string();
    text += "manifest: " + manifest;
    FlushLog();
    Output.Report(PortChoice.Name, text, BackupJson(PortChoice.Name, Options.File, backup));
    result.Ok = true;
    result.Seconds = Now() - started;
    result.Message = Format("Backed up %zu regions of %s into %s", backup.Regions.size(),
                            ShowControlCharacters(backup.Device).c_str(), Options.File.c_str());
    return result;
}

// Restoring erases: a person says yes to it, or --yes does.
bool TBackupSession::Confirm(const TJob& manifest, const TDeviceTarget& device)
{
    if (Options.Job.Yes)
        return true;
    std::size_t writable = 0;
    for (const TJobStep& step : manifest.Steps)
        writable += step.Operation == TOperation::Program ? 1 : 0;
    FlushLog();
    std::fprintf(stderr,
                 "Restore %s on %s: of the backup's %zu regions, the %zu the adapter can erase are erased and "
                 "programmed where they differ from it, the others verified. Continue? [y/N] ",
                 ShowControlCharacters(device.DeviceName).c_str(), PortChoice.Text().c_str(), manifest.Steps.size(),
                 writable);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

TResult TBackupSession::Restore(const TJob& manifest, const TJobImages& images)
{
    const double started = Now();
    if (auto failed = Connect())
        return *failed;
    TUnitOutcome outcome;
    try {
        outcome = RestoreDevice(Session, manifest, images, CommandLinePacing(Dispatcher, Options.Pause), *this,
                                PortChoice.Name,
                                [this, &manifest](const TDeviceTarget& device) { return Confirm(manifest, device); });
    } catch (const TBackupError& error) {
        return FromError(error);
    }
    TResult result;
    result.Seconds = Now() - started;
    result.Ok = outcome.Passed;
    result.ExitCode = outcome.ExitCode;
    std::string steps;
    for (const TStepResult& step : outcome.Steps) {
        if (!step.Ran)
            continue;
        steps += (steps.empty() ? "" : "; ") + step.Title + ": " + WithHexOffset(step.Line);
        if (!step.Passed)
            result.Status = step.Status;
    }
    result.Message = (outcome.Passed ? "Restored " : "Restore failed: ") +
                     ShowControlCharacters(manifest.Backup->Device) + " from " + manifest.Path + " (" + steps + ")";
    if (result.Ok) {
        auto object = JsonEvent("restore");
        object["port"] = PortChoice.Name;
        object["device"] = manifest.Backup->Device;
        object["manifest"] = manifest.Path;
        FlushLog();
        Output.Report(PortChoice.Name, result.Message, object);
    }
    return result;
}

std::optional<TPortChoice> OnePort(const TCliOptions& options, TCliOutput& output, int& exitCode)
{
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    const TPortSelection selection = SelectPorts(options.Ports, names);
    if (!selection.Error.empty()) {
        exitCode = output.EarlyFailure(CommandName(options.Command), selection.ExitCode, selection.Error);
        return std::nullopt;
    }
    if (selection.Ports.size() != 1) {
        exitCode = output.EarlyFailure(CommandName(options.Command), ExitCode::Usage,
                                       CommandName(options.Command) + " works on one adapter: give one -p");
        return std::nullopt;
    }
    return selection.Ports.front();
}

int Finish(const TPortChoice& port, TResult result, const TCliOptions& options, TCliOutput& output)
{
    result.Command = CommandName(options.Command);
    output.Result(port.Name, result);
    return result.ExitCode;
}

int BackUp(const TCliOptions& options, TCliOutput& output)
{
    if (options.Region)
        return output.EarlyFailure("backup", ExitCode::Usage,
                                   "backup reads every region of the device; -r does not apply");
    int exitCode = ExitCode::Ok;
    const auto port = OnePort(options, output, exitCode);
    if (!port)
        return exitCode;
    DeferStopsToOperations();
    TBackupSession session(*port, options, output);
    return Finish(*port, session.BackUp(), options, output);
}

int Restore(const TCliOptions& options, TCliOutput& output)
{
    if (options.Device || options.Region)
        return output.EarlyFailure(
            "restore", ExitCode::Usage,
            "restore puts back the device and regions its manifest names; -d and -r do not apply");
    // The manifest and every file are checked before any adapter is touched.
    std::optional<TJob> manifest;
    TJobImages images;
    try {
        manifest = LoadJob(options.File);
        if (!manifest->Backup)
            return output.EarlyFailure("restore", ExitCode::FileError,
                                       manifest->Path + " is no backup's manifest (it has no [backup] table)");
        CheckBackupFiles(*manifest->Backup);
        images = ReadJobImages(*manifest);
    } catch (const TJobError& error) {
        return output.EarlyFailure("restore", ExitCode::FileError, error.what());
    } catch (const TBackupError& error) {
        return output.EarlyFailure("restore", error.ExitCode, error.what());
    }
    int exitCode = ExitCode::Ok;
    const auto port = OnePort(options, output, exitCode);
    if (!port)
        return exitCode;
    for (const std::string& line : UnrestoredRegions(*manifest->Backup))
        output.Error(port->Name, line);
    DeferStopsToOperations();
    TBackupSession session(*port, options, output);
    return Finish(*port, session.Restore(*manifest, images), options, output);
}

} // namespace

bool IsBackupCommand(TCliCommand command)
{
    return command == TCliCommand::Backup || command == TCliCommand::Restore;
}

int RunBackupCommand(const TCliOptions& options, TCliOutput& output)
{
    return options.Command == TCliCommand::Backup ? BackUp(options, output) : Restore(options, output);
}

} // namespace lindprog::cli
