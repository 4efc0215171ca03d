#pragma once
// One adapter's run of a command: a one-step plan on the core's adapter
// session, on the thread that calls Run. The target is resolved as a job
// step's is; the session answers its questions from the options, runs the
// steps back to back and turns the plan's outcome into a result and an exit
// code.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliPorts.h"
#include "cli/CliProgressView.h"
#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/buffer/ImageFile.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/AdapterSession.h"
#include "core/settings/Settings.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lindprog::cli {

// What a session gets besides the options: the file's bytes, read once
// before any adapter is touched, and where a read goes.
struct TSessionInput {
    std::span<const std::uint8_t> FileBytes;
    const TImage* Image = nullptr; // a HEX, S-record or ELF file, parsed
    std::string FileName;          // as the log names it
    std::string OutputPath;        // read: the file to create
};

class TCliSession final : private TLogSink, private TCliProgressView {
public:
    TCliSession(const TPortChoice& port, const TCliOptions& options, TSessionInput input, TCliOutput& output);
    TCliSession(const TCliSession&) = delete;
    TCliSession& operator=(const TCliSession&) = delete;

    TResult Run();

private:
    TResult Connect();
    TResult ChooseTarget();
    TResult RunOperation();
    TResult RunInfo();
    TResult RunKey();
    TResult RunDetect();
    TResult RunUpdate();

    TResult PrepareBuffer();
    TResult CheckReadAddressable() const;
    TPlan PlanOfCommand();
    // The blocks sent and proven blank, and the result line of a Program or Write.
    void CountBlocks(const TPlanOutcome& outcome, TResult& result) const;
    void ReportDifferences(const TPlanOutcome& outcome);
    TResult OutcomeResult(const TStageOutcome& outcome);
    TResult SaveRead(TResult result);
    // read -: the region to stdout, raw or as the records --format names.
    TResult WriteReadToStdout(TResult result);
    TImageFormat OutputFormat() const;
    TResult Failure(int exitCode, const std::string& message, int status = 0) const;
    nlohmann::ordered_json InfoJson(const TAdapterReport& report) const;

    // TLogSink
    void AddLogLine(const std::string& text) override;

    const TPortChoice PortChoice;
    const TCliOptions& Options;
    const TSessionInput Input;
    TCliOutput& Output;

    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TSettings Settings;
    TUnattendedPrompts Answers{*this};
    TAdapterSession Session;
    TDevicePort& Port;
    TConnection& Connection;
    std::optional<TResolvedTarget> Target;
    std::vector<std::uint8_t> Buffer;   // the region's bytes
    std::vector<std::uint8_t> Expected; // compare: the file as placed in the region
};

// A failed result with its exit code, message and status byte.
TResult FailedResult(int exitCode, const std::string& message, int status = 0);
// The result of a connect that reached no adapter to work with (the port
// would not open, nothing answered, a request while connecting failed); none
// when an adapter answered, whatever its mode.
std::optional<TResult> UnreachedAdapter(TConnectResult connected, const TConnection& connection,
                                        const TDevicePort& port, const TPortChoice& portChoice);

} // namespace lindprog::cli
