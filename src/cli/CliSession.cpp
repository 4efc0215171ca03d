#include "cli/CliSession.h"

#include "cli/CliPacing.h"
#include "cli/CliSignals.h"
#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/buffer/BufferFile.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"
#include "core/link/AdapterCommands.h"
#include "core/ops/ExitCode.h"
#include "core/ops/Operation.h"
#include "core/update/FirmwareImage.h"
#include "core/update/ProgramThread.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

namespace lindprog::cli {

namespace {

// Stands in a read's file name for the adapter's key, as {port} for its port.
constexpr const char* KeyPlaceholder = "{key}";

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The device operation a command runs; the command line names them as the
// core's table does.
TOperation OperationOf(TCliCommand command)
{
    return OperationNamed(CommandName(command)).value_or(TOperation::Read);
}

// The command line shows no buffer, so nothing tracks its changes.
class TNoTracking final : public TChangeTracking {
    void Clear() override {}
    void UpdateChanges() override {}
};

// The firmware update's dialog, as the command line shows it.
class TUpdateOutput final : public TUpdateView {
public:
    TUpdateOutput(TCliOutput& output, const std::string& port, int pages) : Output(output), Port(port), Pages(pages) {}
    void AddLine(const std::string& text) override { Output.Log(Port, text); }
    void SetProgress(int position) override
    {
        TProgress progress;
        progress.Stage = "Programming pages";
        progress.Percent = Pages > 0 ? position * 100 / Pages : 100;
        progress.Bytes = static_cast<std::uint32_t>(position);
        progress.Total = static_cast<std::uint32_t>(Pages);
        Output.Progress(Port, progress);
    }

private:
    TCliOutput& Output;
    const std::string& Port;
    int Pages;
};

} // namespace

TCliSession::TCliSession(const TPortChoice& port, const TCliOptions& options, TSessionInput input, TCliOutput& output)
    : TCliProgressView(output, port.Name), PortChoice(port), Options(options), Input(std::move(input)), Output(output),
      Names(TPortNames::DefaultAssignmentsFile()), Session(Names, Dispatcher, Settings, {*this, Answers, *this, *this}),
      Port(Session.Port()), Connection(Session.Connection())
{
    Names.Pin(PortChoice.Number, PortChoice.Path);
    Settings.TurnOffPower = Options.PowerOff;
    Settings.JtagDelay = Options.JtagDelay;
    Answers.IgnoreReadErrors = Options.IgnoreReadErrors;
    if (Options.Verbose || !Options.LogFile.empty())
        Port.SetTrace([this](const std::string& line) { ShowTrace(line); });
}

TResult TCliSession::Run()
{
    const double started = Now();
    TResult result;
    switch (Options.Command) {
    case TCliCommand::Info: result = RunInfo(); break;
    case TCliCommand::Key: result = RunKey(); break;
    case TCliCommand::Detect: result = RunDetect(); break;
    case TCliCommand::UpdateFirmware: result = RunUpdate(); break;
    default: result = RunOperation(); break;
    }
    result.Command = CommandName(Options.Command);
    Port.Close();
    Dispatcher.RunPending();
    // The time the port took in all: a connect that waited out a silent
    // adapter is time spent too.
    result.Seconds = Now() - started;
    Finished(result);
    return result;
}

TResult FailedResult(int exitCode, const std::string& message, int status)
{
    TResult result;
    result.ExitCode = exitCode;
    result.Message = message;
    result.Status = status;
    return result;
}

std::optional<TResult> UnreachedAdapter(TConnectResult connected, const TConnection& connection,
                                        const TDevicePort& port, const TPortChoice& portChoice)
{
    const auto failure = lindprog::UnreachedAdapter(connected, connection, port, portChoice.Text());
    if (!failure)
        return std::nullopt;
    return FailedResult(failure->ExitCode, failure->Message, failure->Status);
}

TResult TCliSession::Failure(int exitCode, const std::string& message, int status) const
{
    return FailedResult(exitCode, message, status);
}

TResult TCliSession::Connect()
{
    Answers.Quiet = true;
    const TConnectResult connected = Connection.Connect(PortChoice.Number);
    Answers.Quiet = false;
    if (auto unreached = UnreachedAdapter(connected, Connection, Port, PortChoice))
        return *unreached;
    switch (connected) {
    case TConnectResult::Bootloader:
        if (Options.Command == TCliCommand::Info || Options.Command == TCliCommand::UpdateFirmware)
            break;
        return Failure(ExitCode::Failed, "the adapter is in bootloader mode; give it firmware with update-firmware");
    case TConnectResult::UnknownMode:
        if (Options.Command == TCliCommand::Info)
            break;
        return Failure(ExitCode::Failed,
                       "the adapter reports mode " + std::to_string(Port.Mode()) + ", in which it runs no operation");
    default: break;
    }
    TResult ok;
    ok.Ok = true;
    return ok;
}

TResult TCliSession::ChooseTarget()
{
    if (Connection.Devices().empty())
        return Failure(ExitCode::Failed, "the adapter lists no device");
    TTargetChoice choice;
    if (Options.Device)
        choice.Device = TEntryChoice{*Options.Device, std::nullopt};
    if (Options.Region)
        choice.Region = TEntryChoice{*Options.Region, std::nullopt};
    choice.Voltage = Options.Voltage;
    try {
        Target = Session.Resolve(choice, OperationOf(Options.Command), CommandName(Options.Command));
    } catch (const TTargetError& error) {
        // A name the adapter does not offer is the command line's to mend;
        // a catalogue the program cannot work with is not.
        return Failure(error.Place == TTargetError::Catalogue ? ExitCode::Failed : ExitCode::Usage, error.what());
    }
    Buffer.assign(Target->Region().Size, 0xFF);
    TResult ok;
    ok.Ok = true;
    return ok;
}

TResult TCliSession::PrepareBuffer()
{
    TResult ok;
    ok.Ok = true;
    if (!TakesFile(Options.Command) || Options.Command == TCliCommand::Read)
        return ok;
    try {
        PlaceCommandFile(Input.FileName, Input.FileBytes, Input.Image, Options.Base, Options.Pad, Target->Region().Name,
                         Buffer, *this);
    } catch (const TPlacementError& error) {
        return Failure(error.Usage ? ExitCode::Usage : ExitCode::FileError, error.what());
    }
    return ok;
}

// A HEX or S-record file addresses 4 GiB: a region that would end beyond it
// at the given base is refused before it is read, not after.
TResult TCliSession::CheckReadAddressable() const
{
    TResult ok;
    ok.Ok = true;
    if (Options.Command != TCliCommand::Read || OutputFormat() == TImageFormat::Raw)
        return ok;
    const std::uint64_t end = Options.Base.value_or(0) + Buffer.size();
    if (end <= 0x100000000ull)
        return ok;
    return Failure(ExitCode::FileError, Format("%s: the region's end 0x%llX lies beyond the 4 GiB the file can address",
                                               Input.OutputPath.c_str(), static_cast<unsigned long long>(end)));
}

TResult TCliSession::RunOperation()
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    if (TResult target = ChooseTarget(); !target.Ok)
        return target;
    if (TResult prepared = PrepareBuffer(); !prepared.Ok)
        return prepared;
    if (TResult addressable = CheckReadAddressable(); !addressable.Ok)
        return addressable;
    if (StopRequested())
        return Failure(ExitCode::Interrupted, "cancelled");

    const TRunPacing pacing = CommandLinePacing(Dispatcher, Options.Pause);
    PlanStarted();
    const TPlanOutcome& outcome = Session.Run(PlanOfCommand(), pacing);
    TResult result = OutcomeResult(outcome.Last());
    if (const TOperation operation = OperationOf(Options.Command);
        operation == TOperation::Program || operation == TOperation::Write)
        result.Bytes = outcome.BytesWritten();
    if (result.Ok && outcome.LeftUnchanged(0)) {
        AddLogLine("The region already equals " + Input.FileName + ": left unchanged");
        result.Message = "unchanged";
        result.Unchanged = true;
        return result;
    }
    CountBlocks(outcome, result);
    if (Options.Command == TCliCommand::Compare)
        ReportDifferences(outcome);
    if (result.Ok && Options.Command == TCliCommand::Read)
        return SaveRead(std::move(result));
    return result;
}

TPlan TCliSession::PlanOfCommand()
{
    const TOperationTarget target = Target->Over(Buffer);
    TPlanOptions options;
    if (Options.Command == TCliCommand::Compare) {
        // The region is read over the file's placed bytes, which stay as the
        // expected ones.
        Expected.assign(Buffer.begin(), Buffer.end());
        options.Expected = Expected;
    }
    // After the erase and its blank check every block is 0xFF, so an image's
    // blocks without data need no write; raw bytes are often a whole region
    // on purpose, so they skip only when asked.
    options.SkipErased = !Options.Full && (Input.Image != nullptr || Options.Sparse);
    options.Preverify = Options.Preverify;
    return PlanFor(OperationOf(Options.Command), target, options);
}

void TCliSession::CountBlocks(const TPlanOutcome& outcome, TResult& result) const
{
    for (const TStageOutcome& stage : outcome.Stages) {
        if (stage.Stage == TOperation::Write && stage.Blocks == TBlockChoice::Data) {
            result.Sparse = true;
            result.BlocksWritten = stage.BlocksSent;
        } else if (stage.Stage == TOperation::BlankCheck && stage.Blocks == TBlockChoice::Erased) {
            result.BlocksBlank = stage.BlocksSent;
        }
    }
    const TOperation operation = OperationOf(Options.Command);
    if (result.Ok && (operation == TOperation::Program || operation == TOperation::Write)) {
        std::vector<const TStageOutcome*> stages;
        for (const TStageOutcome& stage : outcome.Stages)
            stages.push_back(&stage);
        result.Message = SentLine(operation, stages, result.Crc);
        result.Summarizes = true;
    }
}

void TCliSession::ReportDifferences(const TPlanOutcome& outcome)
{
    if (outcome.Compared.empty() || outcome.Stages.empty() || !outcome.Stages.back().Started ||
        outcome.Stages.back().Cancelled)
        return;
    // The runner logged the report's lines; JSON gets them as one object too.
    FlushLog();
    Output.Event(DifferenceJson(PortChoice.Name, outcome.Compared.back(), Expected, Buffer));
}

TResult TCliSession::OutcomeResult(const TStageOutcome& outcome)
{
    TResult result;
    result.Bytes = outcome.Bytes;
    result.Message = WithHexOffset(outcome.Line);
    result.Status = outcome.Status;
    if (outcome.Cancelled) {
        result.ExitCode = ExitCode::Interrupted;
        result.Message = "cancelled";
        return result;
    }
    result.Ok = outcome.Status == PortStatus::Ok;
    result.ExitCode = result.Ok ? ExitCode::Ok : ExitCodeForStatus(outcome.Status);
    if (outcome.Stage == TOperation::Read) {
        result.HasCrc = true;
        result.Crc = outcome.Crc;
    } else if (TakesFile(Options.Command)) {
        result.HasCrc = true;
        result.Crc = CrcUpdateBytes(CrcStart, Buffer);
    }
    return result;
}

TImageFormat TCliSession::OutputFormat() const
{
    return Input.OutputPath == StandardStream ? Options.StreamFormat.value_or(TImageFormat::Raw)
                                              : FormatForFileName(Input.OutputPath);
}

TResult TCliSession::WriteReadToStdout(TResult result)
{
    UseBinaryMode(stdout);
    const std::uint64_t base = Options.Base.value_or(0);
    std::string records;
    if (OutputFormat() == TImageFormat::IntelHex)
        records = WriteIntelHex(Buffer, base);
    else if (OutputFormat() == TImageFormat::SRecord)
        records = WriteSRecord(Buffer, base);
    const bool written = records.empty() ? std::fwrite(Buffer.data(), 1, Buffer.size(), stdout) == Buffer.size()
                                         : std::fwrite(records.data(), 1, records.size(), stdout) == records.size();
    if (!written || std::fflush(stdout) != 0)
        return Failure(ExitCode::FileError, std::string("cannot write to standard output: ") + std::strerror(errno));
    AddLogLine("Saved " + std::to_string(Buffer.size()) + " bytes to standard output");
    return result;
}

TResult TCliSession::SaveRead(TResult result)
{
    if (Input.OutputPath == StandardStream)
        return WriteReadToStdout(std::move(result));
    std::string path = Input.OutputPath;
    if (path.find(KeyPlaceholder) != std::string::npos && (!PortChoice.Key.empty() || Port.GetKey()))
        for (std::size_t at = path.find(KeyPlaceholder); at != std::string::npos; at = path.find(KeyPlaceholder, at))
            path.replace(at, std::strlen(KeyPlaceholder), PortChoice.Key.empty() ? Port.KeyText() : PortChoice.Key);
    TNoTracking noTracking;
    try {
        SaveImageFile(path, Buffer, Options.Base.value_or(0), noTracking, *this);
    } catch (const std::runtime_error& error) { // TFileError, or TImageError past 4 GiB
        return Failure(ExitCode::FileError, error.what());
    }
    return result;
}

TResult TCliSession::RunInfo()
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    const TAdapterReport report = Session.Report();
    FlushLog();
    Output.Report(PortChoice.Name, AdapterReportText(report), InfoJson(report));
    TResult result;
    result.Ok = true;
    result.Message = "info";
    return result;
}

nlohmann::ordered_json TCliSession::InfoJson(const TAdapterReport& report) const
{
    auto deviceItems = nlohmann::ordered_json::array();
    for (std::size_t d = 0; d < report.Devices.size(); ++d) {
        const TDeviceTarget& device = report.Devices[d];
        auto regions = nlohmann::ordered_json::array();
        for (std::size_t r = 0; r < device.Regions.size(); ++r) {
            const auto& region = device.Regions[r];
            regions.push_back({{"index", r},
                               {"name", region.Name},
                               {"flags", region.Flags},
                               {"size", region.Size},
                               {"operations", AllowedCommands(region.Flags)}});
        }
        std::vector<std::string> voltages;
        for (const auto& entry : device.Voltages)
            voltages.push_back(entry.Value);
        deviceItems.push_back({{"index", d},
                               {"name", device.DeviceName},
                               {"voltage_mask", device.VoltageMask},
                               {"voltages", voltages},
                               {"regions", std::move(regions)}});
    }
    auto object = JsonEvent("info");
    object["port"] = PortChoice.Name;
    object["identity"] = report.Identity;
    object["version"] = Format("%d.%d", report.VersionMajor, report.VersionMinor);
    object["mode"] = report.Mode;
    object["mode_name"] = ModeName(report.Mode);
    object["key"] = report.Key;
    object["devices"] = std::move(deviceItems);
    return object;
}

TResult TCliSession::RunKey()
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    if (!Port.GetKey())
        return Failure(ExitCodeForStatus(Port.Status()), "reading the key failed (" + Port.StatusText() + ")",
                       Port.Status());
    auto object = JsonEvent("key");
    object["port"] = PortChoice.Name;
    object["key"] = Port.KeyText();
    FlushLog();
    Output.Report(PortChoice.Name, Port.KeyText(), object);
    TResult result;
    result.Ok = true;
    result.Message = Port.KeyText();
    return result;
}

TResult TCliSession::RunDetect()
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    const TReply<TJtagScanReply> scan = Port.JtagScan();
    TResult result;
    result.Status = scan.Status;
    result.Ok = scan.Ok();
    result.ExitCode = result.Ok ? ExitCode::Ok : ExitCodeForStatus(scan.Status);
    if (!result.Ok) {
        result.Message = "JTAG scan failed (" + TDevicePort::StatusToText(scan.Status) + ")";
        AddLogLine(result.Message);
        return result;
    }
    // The lines the window's log shows, devices counted from 1 as there; a
    // script gets the same as one object.
    AddLogLine(Format("Device count: %u, total IR length: %u", scan.Value.DeviceCount, scan.Value.IrLength));
    auto ids = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < scan.Value.Ids.size(); ++k) {
        AddLogLine(Format("Device %d ID: %.08X", static_cast<int>(k + 1), scan.Value.Ids[k]));
        ids.push_back(Format("0x%08X", scan.Value.Ids[k]));
    }
    auto object = JsonEvent("jtag");
    object["port"] = PortChoice.Name;
    object["count"] = scan.Value.DeviceCount;
    object["ir_length"] = scan.Value.IrLength;
    object["ids"] = std::move(ids);
    FlushLog();
    Output.Event(object);
    result.Message = "JTAG scan OK";
    return result;
}

TResult TCliSession::RunUpdate()
{
    if (TResult connected = Connect(); !connected.Ok)
        return connected;
    const int pages = TFirmwareImage::PageCountOf(Input.FileBytes.size());
    TUpdateOutput view(Output, PortChoice.Name, pages);
    // The update's lines are no plan's and go out as they come.
    FlushLog();
    bool done = false;
    bool succeeded = false;
    // The adapter restarts into its bootloader: its port going away is part
    // of the update, and the worker opens it again.
    Connection.SetWatchPort(false);
    {
        TProgramThread worker(Port, Dispatcher, view, Input.FileBytes);
        worker.SetOnDone([&] {
            done = true;
            succeeded = worker.Succeeded();
        });
        worker.Start();
        bool stopNoted = false;
        while (!done) {
            Dispatcher.WaitAndRun(std::chrono::milliseconds(100));
            if (StopRequested() && !stopNoted) {
                // An update cut short leaves the adapter without firmware.
                Output.Error(PortChoice.Name, "the firmware update runs to its end; interrupt again to abandon it");
                stopNoted = true;
            }
        }
    }
    Output.EndProgress(PortChoice.Name);
    TResult result;
    result.Bytes = Input.FileBytes.size();
    result.Ok = succeeded;
    result.Status = succeeded ? 0 : Port.Status();
    // A port that went away is a lost adapter, as for every other command.
    result.ExitCode = succeeded ? ExitCode::Ok : ExitCodeForStatus(Port.Status());
    result.Message = succeeded ? Format("Firmware updated, %d pages", pages) : "Firmware update failed";
    return result;
}

void TCliSession::AddLogLine(const std::string& text)
{
    ShowLogLine(text);
}

} // namespace lindprog::cli
