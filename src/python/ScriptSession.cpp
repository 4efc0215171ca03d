#include "python/ScriptSession.h"

#include "core/base/Passwords.h"
#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/buffer/BufferFile.h"
#include "core/link/DevicePort.h"
#include "core/ops/ExitCode.h"
#include "core/ops/Operation.h"
#include "core/production/Station.h"
#include "core/production/UnitReport.h"

#include <chrono>

namespace lindprog::python {

namespace {

// The kind of failure an adapter's status means, as lindprog-cli's exit
// code for it tells them apart.
TScriptFailure StatusFailure(const std::string& text, std::uint8_t status)
{
    const int exitCode = ExitCodeForStatus(status);
    const TFailureKind kind = exitCode == ExitCode::NoAdapter  ? TFailureKind::Port
                              : exitCode == ExitCode::Mismatch ? TFailureKind::Mismatch
                                                               : TFailureKind::Adapter;
    return TScriptFailure(kind, text, status, exitCode);
}

TFailureKind KindOfExitCode(int exitCode)
{
    switch (exitCode) {
    case ExitCode::NoAdapter: return TFailureKind::Port;
    case ExitCode::Usage: return TFailureKind::Target;
    case ExitCode::Mismatch: return TFailureKind::Mismatch;
    case ExitCode::FileError: return TFailureKind::File;
    case ExitCode::Database: return TFailureKind::Database;
    case ExitCode::Interrupted: return TFailureKind::Cancelled;
    default: return TFailureKind::Adapter;
    }
}

double SecondsSince(std::chrono::steady_clock::time_point started)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

bool TakesData(const TScriptRequest& request)
{
    return request.Compare || request.Operation == TOperation::Write || request.Operation == TOperation::Verify ||
           request.Operation == TOperation::Program;
}

// A unit's step lines go to the script's log, as the command line prints
// them, and so do the database's waits.
class TUnitLog final : public TStepReportLog {
public:
    using TStepReportLog::TStepReportLog;
    void DatabaseWaiting(const std::string& line) override { Log.AddLogLine(line); }
};

// The settings a job brings hold for its unit only; the session's own
// return afterwards.
class TJobSettings {
public:
    TJobSettings(TSettings& settings, TUnattendedPrompts& answers, const TJob& job, bool ignoreReadErrors)
        : Settings(settings), Saved(settings), Answers(answers)
    {
        Settings.TurnOffPower = job.PowerOff.value_or(Saved.TurnOffPower);
        Settings.JtagDelay = job.JtagDelay.value_or(Saved.JtagDelay);
        Answers.IgnoreReadErrors = job.IgnoreReadErrors.value_or(ignoreReadErrors);
    }
    ~TJobSettings()
    {
        Settings = Saved;
        Answers.IgnoreReadErrors = false;
    }
    TJobSettings(const TJobSettings&) = delete;
    TJobSettings& operator=(const TJobSettings&) = delete;

private:
    TSettings& Settings;
    const TSettings Saved;
    TUnattendedPrompts& Answers;
};

// The region's bytes as a request sends or compares them.
struct TPlacedData {
    std::vector<std::uint8_t> Buffer;
    bool Image = false; // from a HEX, S-record or ELF file
    std::string Name;   // as the log names the data
};

} // namespace

TScriptFailure::TScriptFailure(TFailureKind kind, const std::string& text, std::uint8_t status, int exitCode)
    : std::runtime_error(text), Kind(kind), Status(status),
      StatusText(status != 0 ? TDevicePort::StatusToText(status) : std::string()), ExitCode(exitCode)
{
}

std::shared_ptr<const TScriptJob> LoadScriptJob(const std::string& path)
{
    auto job = std::make_shared<TScriptJob>();
    try {
        job->Job = LoadJob(path);
        job->Images = ReadJobImages(job->Job);
    } catch (const TJobError& error) {
        TScriptFailure failure(TFailureKind::Job, error.what(), 0, ExitCode::FileError);
        failure.Place = error.Place;
        throw failure;
    }
    return job;
}

TScriptSession::TScriptSession(const std::string& port, const TScriptOptions& options, TScriptHooks hooks)
    : Hooks(std::move(hooks)), Names(TPortNames::DefaultAssignmentsFile())
{
    if (options.JtagDelay < TSettings::MinJtagDelay || options.JtagDelay > TSettings::MaxJtagDelay)
        throw std::invalid_argument(
            Format("jtag_delay must be %d to %d", TSettings::MinJtagDelay, TSettings::MaxJtagDelay));
    const TPortSelection selection =
        SelectPorts(port.empty() ? std::vector<std::string>{} : std::vector<std::string>{port}, Names);
    if (!selection.Error.empty())
        throw TScriptFailure(selection.ExitCode == ExitCode::Usage ? TFailureKind::Target : TFailureKind::Port,
                             selection.Error, 0, selection.ExitCode);
    Choice = selection.Ports.front();
    Names.Pin(Choice.Number, Choice.Path);
    Settings.TurnOffPower = options.PowerOff;
    Settings.JtagDelay = options.JtagDelay;
    IgnoreReadErrors = options.IgnoreReadErrors;
    Session =
        std::make_unique<TAdapterSession>(Names, Dispatcher, Settings, TSessionFaces{*this, Answers, *this, *this});
    // A failure names the port as it was given, not by a number.
    Answers.Quiet = true;
    const TConnectResult connected = Session->Connect(Choice.Number);
    Answers.Quiet = false;
    std::optional<TScriptFailure> failure;
    if (auto unreached = UnreachedAdapter(connected, Session->Connection(), Session->Port(), Choice.Text()))
        failure.emplace(TFailureKind::Port, unreached->Message, unreached->Status, unreached->ExitCode);
    else if (connected == TConnectResult::Bootloader)
        failure.emplace(TFailureKind::Adapter,
                        "the adapter on " + Choice.Text() +
                            " is in bootloader mode; give it firmware with lindprog-cli update-firmware",
                        0, ExitCode::Failed);
    else if (connected != TConnectResult::Application)
        failure.emplace(TFailureKind::Adapter,
                        Format("the adapter on %s reports mode %d, in which it runs no operation",
                               Choice.Text().c_str(), Session->Port().Mode()),
                        0, ExitCode::Failed);
    if (failure) {
        Close();
        throw *failure;
    }
}

TScriptSession::~TScriptSession()
{
    Close();
}

void TScriptSession::Close()
{
    std::lock_guard lock(Busy);
    if (Shut || !Session)
        return;
    Session->Port().Close();
    Dispatcher.RunPending();
    Shut = true;
}

void TScriptSession::CheckOpen() const
{
    if (Shut)
        throw TScriptFailure(TFailureKind::Port, "the session on " + Choice.Text() + " is closed", 0,
                             ExitCode::NoAdapter);
}

std::string TScriptSession::Identity() const
{
    return Session->Port().Identity();
}

std::string TScriptSession::FirmwareVersion() const
{
    return Format("%d.%d", Session->Port().VersionMajor(), Session->Port().VersionMinor());
}

std::string TScriptSession::Key()
{
    std::lock_guard lock(Busy);
    CheckOpen();
    TDevicePort& port = Session->Port();
    if (!port.GetKey())
        throw StatusFailure("reading the key failed (" + port.StatusText() + ")", port.Status());
    return port.KeyText();
}

const TAdapterReport& TScriptSession::Report()
{
    std::lock_guard lock(Busy);
    CheckOpen();
    if (!Catalogue)
        Catalogue = Session->Report();
    return *Catalogue;
}

TJtagScanReply TScriptSession::JtagScan()
{
    std::lock_guard lock(Busy);
    CheckOpen();
    const TReply<TJtagScanReply> scan = Session->Port().JtagScan();
    Dispatcher.RunPending();
    if (!scan.Ok())
        throw StatusFailure("JTAG scan failed (" + TDevicePort::StatusToText(scan.Status) + ")", scan.Status);
    return scan.Value;
}

TRunPacing TScriptSession::Pacing()
{
    TRunPacing pacing;
    pacing.Stop = [this] {
        if (!CancelRequested && Hooks.Interrupted && Hooks.Interrupted())
            CancelRequested = true;
        return CancelRequested.load();
    };
    // The receiver's end-of-thread notice (a vanished port) closes the port,
    // so the next request fails at once instead of waiting for an answer.
    pacing.AfterStep = [this](bool) { Dispatcher.RunPending(); };
    return pacing;
}

TResolvedTarget TScriptSession::Resolve(const TScriptRequest& request)
{
    if (Session->Connection().Devices().empty())
        throw TScriptFailure(TFailureKind::Target, "the adapter lists no device", 0, ExitCode::Failed);
    const TOperation operation = request.Compare ? TOperation::Read : request.Operation;
    const std::string command = request.Compare ? "compare" : OperationInfo(operation).Command;
    try {
        return Session->Resolve(request.Target, operation, command);
    } catch (const TTargetError& error) {
        throw TScriptFailure(TFailureKind::Target, error.what(), 0,
                             error.Place == TTargetError::Catalogue ? ExitCode::Failed : ExitCode::Usage);
    }
}

namespace {

TPlacedData PlaceData(const TScriptRequest& request, const TTargetRegion& region, TLogSink& log)
{
    TPlacedData placed{std::vector<std::uint8_t>(region.Size, 0xFF), false, "the data"};
    if (!TakesData(request))
        return placed;
    if (!request.Data)
        throw std::invalid_argument("this operation needs data: a file's path or bytes");
    const TScriptData& data = *request.Data;
    std::optional<TCommandFile> file;
    if (data.Path) {
        placed.Name = *data.Path;
        try {
            file = ReadCommandFile(*data.Path);
        } catch (const TFileError& error) {
            throw TScriptFailure(TFailureKind::File, error.what(), 0, ExitCode::FileError);
        }
        placed.Image = file->Image.has_value();
    }
    if (!placed.Image && request.Base)
        throw TScriptFailure(TFailureKind::File,
                             "base applies to HEX, S-record and ELF files; " + placed.Name + " is raw bytes", 0,
                             ExitCode::Usage);
    const std::span<const std::uint8_t> bytes = file ? std::span<const std::uint8_t>(file->Bytes) : data.Bytes;
    try {
        PlaceCommandFile(placed.Name, bytes, file && file->Image ? &*file->Image : nullptr, request.Base, request.Pad,
                         region.Name, placed.Buffer, log);
    } catch (const TPlacementError& error) {
        throw TScriptFailure(TFailureKind::File, error.what(), 0, error.Usage ? ExitCode::Usage : ExitCode::FileError);
    }
    return placed;
}

} // namespace

TScriptResult TScriptSession::Run(const TScriptRequest& request)
{
    std::lock_guard lock(Busy);
    CheckOpen();
    CancelRequested = false;
    const TResolvedTarget target = Resolve(request);
    TPlacedData placed = PlaceData(request, target.Region(), *this);
    std::vector<std::uint8_t> expected;
    TPlanOptions options;
    if (request.Compare) {
        expected = placed.Buffer;
        options.Expected = expected;
    }
    // As on the command line: an image's blocks without data need no write
    // after the erase; raw bytes are often a whole region on purpose.
    options.SkipErased = request.Sparse.value_or(placed.Image);
    options.Preverify = request.Preverify;
    const TOperation operation = request.Compare ? TOperation::Read : request.Operation;
    // A "yes, ignore" for a failed read block holds for this run only.
    Answers.IgnoreReadErrors = IgnoreReadErrors;
    const auto started = std::chrono::steady_clock::now();
    const TPlanOutcome& outcome = Session->Run(PlanFor(operation, target.Over(placed.Buffer), options), Pacing());
    Answers.IgnoreReadErrors = false;
    TScriptResult result = Outcome(request, outcome, std::move(placed.Buffer), expected);
    result.Seconds = SecondsSince(started);
    result.Device = target.Device.DeviceName;
    result.Region = target.Region().Name;
    if (result.Unchanged) {
        result.Line = "The region already equals " + placed.Name + ": left unchanged";
        AddLogLine(result.Line);
    }
    return result;
}

TScriptResult TScriptSession::Outcome(const TScriptRequest& request, const TPlanOutcome& outcome,
                                      std::vector<std::uint8_t> buffer, std::span<const std::uint8_t> expected)
{
    const TStageOutcome& last = outcome.Last();
    if (last.Cancelled || CancelRequested)
        throw TScriptFailure(TFailureKind::Cancelled, "cancelled", 0, ExitCode::Interrupted);
    TScriptResult result;
    result.Line = WithHexOffset(last.Line);
    result.Bytes = last.Bytes;
    const bool compared = request.Compare && last.Started && last.Status == PortStatus::CompareError;
    if (last.Status != PortStatus::Ok && !compared) {
        TScriptFailure failure = StatusFailure(result.Line, last.Status);
        failure.Mismatch = last.Mismatch;
        throw failure;
    }
    if (request.Compare) {
        result.Differences = outcome.Compared.empty() ? FindDifferences(expected, buffer) : outcome.Compared.back();
        result.Data = std::move(buffer);
        return result;
    }
    result.Unchanged = outcome.LeftUnchanged(0);
    if (request.Operation == TOperation::Read) {
        result.Crc = last.Crc;
        result.Data = std::move(buffer);
        return result;
    }
    if (TakesData(request))
        result.Crc = CrcUpdateBytes(CrcStart, buffer);
    std::vector<const TStageOutcome*> stages;
    for (const TStageOutcome& stage : outcome.Stages) {
        stages.push_back(&stage);
        if (stage.Stage == TOperation::Write && stage.Blocks == TBlockChoice::Data)
            result.BlocksWritten = stage.BlocksSent;
        else if (stage.Stage == TOperation::BlankCheck && stage.Blocks == TBlockChoice::Erased)
            result.BlocksBlank = stage.BlocksSent;
    }
    if (!result.Unchanged && (request.Operation == TOperation::Program || request.Operation == TOperation::Write))
        result.Line = SentLine(request.Operation, stages, result.Crc.value_or(0));
    return result;
}

TUnitDatabase& TScriptSession::Database(const std::string& where)
{
    auto& database = Databases[where];
    if (!database) {
        try {
            database = OpenUnitDatabase(where);
        } catch (const std::exception& error) {
            Databases.erase(where);
            const std::string text = IsServerDatabase(where) ? error.what() : where + ": " + error.what();
            throw TScriptFailure(TFailureKind::Database, "unit database " + WithoutPasswords(text), 0,
                                 ExitCode::Database);
        }
    }
    return *database;
}

TScriptSession::TUnitResult TScriptSession::RunJob(const TScriptJob& job, const std::string& where,
                                                   const std::string& station)
{
    std::lock_guard lock(Busy);
    CheckOpen();
    CancelRequested = false;
    TUnitDatabase& database = Database(where.empty() ? JobDatabasePath(job.Job) : where);
    const TJobSettings settings(Settings, Answers, job.Job, IgnoreReadErrors);
    TUnitLog events(*this);
    TStation unit(*Session, {job.Job, job.Images, &database, UnitNumbers, station, Choice.Name, Choice.Text(), true},
                  events);
    if (const std::optional<TSessionFailure> refused = unit.Place()) {
        TScriptFailure failure(refused->ExitCode == ExitCode::NoAdapter ? TFailureKind::Port : TFailureKind::Job,
                               refused->Message, refused->Status, refused->ExitCode);
        throw failure;
    }
    const std::optional<TUnitOutcome> outcome = unit.RunUnit(Pacing());
    if (!outcome) {
        const TSessionFailure& failed = unit.Failure();
        throw TScriptFailure(KindOfExitCode(failed.ExitCode), failed.Message, failed.Status, failed.ExitCode);
    }
    if (outcome->ExitCode == ExitCode::Interrupted)
        throw TScriptFailure(TFailureKind::Cancelled, "cancelled", 0, ExitCode::Interrupted);
    std::string record = UnitsJsonLines({outcome->Record});
    if (!record.empty() && record.back() == '\n')
        record.pop_back();
    return {record, outcome->VerdictLine(unit.LastUnitNumber()), outcome->Passed};
}

void TScriptSession::AddLogLine(const std::string& text)
{
    if (Hooks.Log)
        Hooks.Log(WithoutPasswords(text));
}

void TScriptSession::StageStarted(const TStageProgress& progress)
{
    CurrentStage = OperationInfo(progress.Stage).Command;
    if (Hooks.Progress)
        Hooks.Progress(progress, CurrentStage);
    LastPercent = progress.Percent;
}

void TScriptSession::StageProgress(const TStageProgress& progress)
{
    // Once per percent: a callback per block would only cost the adapter's time.
    if (!Hooks.Progress || (progress.Percent == LastPercent && progress.Bytes < progress.Total))
        return;
    LastPercent = progress.Percent;
    Hooks.Progress(progress, CurrentStage);
}

} // namespace lindprog::python
