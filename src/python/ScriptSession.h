#pragma once
// One adapter as a script drives it: the core's adapter session opened on a
// port named as the command line names it, the commands of lindprog-cli as
// calls that return their result or throw, and a job's unit. Nothing here
// knows Python: the module's bindings hand in the hooks (log, progress, an
// interrupt check) and turn TScriptFailure into the module's exceptions.
//
// Every call runs on the caller's thread and waits there for the adapter;
// one call at a time per session (a second thread waits for the first).

#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/buffer/Difference.h"
#include "core/link/AdapterCommands.h"
#include "core/link/PortNames.h"
#include "core/ops/AdapterSession.h"
#include "core/ops/PortChoice.h"
#include "core/production/Job.h"
#include "core/production/JobImages.h"
#include "core/production/UnitDatabase.h"
#include "core/settings/Settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lindprog::python {

// What went wrong, as the module's exception classes tell it apart.
enum class TFailureKind {
    Port,      // no port, it would not open, nothing answered, or it went away
    Adapter,   // the adapter refused or failed (its status says how)
    Mismatch,  // verify found a difference, blank check found data
    Target,    // a device, region or voltage the adapter does not offer
    File,      // an image file that cannot be read or does not fit
    Job,       // a job file, or a job the adapter cannot run
    Database,  // the unit database could not be opened or went away
    Cancelled, // cancel() or an interrupt stopped it
};

class TScriptFailure : public std::runtime_error {
public:
    TScriptFailure(TFailureKind kind, const std::string& text, std::uint8_t status = 0, int exitCode = 0);
    TFailureKind Kind;
    std::uint8_t Status;    // the adapter's, 0 when none caused it
    std::string StatusText; // as the adapter names it; empty with no status
    int ExitCode;           // what lindprog-cli exits with for the same failure
    TByteMismatch Mismatch; // a failed verify: the first differing byte read back
    std::string Place;      // a bad job file: where in it ("step 2 format")
};

// How a script wants a session to behave; the command line's defaults.
struct TScriptOptions {
    bool PowerOff = true;
    std::int32_t JtagDelay = TSettings::MinJtagDelay;
    bool IgnoreReadErrors = false;
};

// How a session reaches the script. Each may be empty.
struct TScriptHooks {
    std::function<void(const std::string& line)> Log;
    std::function<void(const TStageProgress& progress, const std::string& stage)> Progress;
    // Asked before every block: true stops the operation there, powered off.
    std::function<bool()> Interrupted;
};

// The data an operation sends or compares with: a file by path (raw, HEX,
// S-record, ELF, placed as the command line places it) or raw bytes.
struct TScriptData {
    std::optional<std::string> Path;
    std::vector<std::uint8_t> Bytes;
};

struct TScriptRequest {
    TOperation Operation = TOperation::Read;
    bool Compare = false; // a Read compared on the computer with Data
    TTargetChoice Target;
    std::optional<TScriptData> Data;
    std::optional<std::uint64_t> Base;
    bool Pad = false;
    bool Preverify = false;
    std::optional<bool> Sparse; // none: only an image's empty blocks are left out
};

struct TScriptResult {
    std::string Device;
    std::string Region;
    std::string Line; // the result line as the command line prints it
    std::uint32_t Bytes = 0;
    double Seconds = 0.0;
    std::optional<std::uint32_t> Crc;
    bool Unchanged = false; // a preverify found the region equal: nothing was written
    std::uint32_t BlocksWritten = 0;
    std::uint32_t BlocksBlank = 0;
    std::vector<std::uint8_t> Data; // read and compare: the region's bytes
    TDifferences Differences;       // compare: where they differ from the data
};

// A job read once, with its images, ready for any session.
struct TScriptJob {
    TJob Job;
    TJobImages Images;
};
// Throws TScriptFailure (Job) naming the file, the place and the problem.
std::shared_ptr<const TScriptJob> LoadScriptJob(const std::string& path);

class TScriptSession final : private TLogSink, private TNullView {
public:
    // Opens `port` (COM<N>, key:K or a path) and connects; throws
    // TScriptFailure (Port when no adapter answers there).
    TScriptSession(const std::string& port, const TScriptOptions& options, TScriptHooks hooks);
    ~TScriptSession() override;
    TScriptSession(const TScriptSession&) = delete;
    TScriptSession& operator=(const TScriptSession&) = delete;

    const std::string& PortName() const { return Choice.Name; }
    std::string Identity() const;
    std::string FirmwareVersion() const;
    std::string Key();
    const TAdapterReport& Report();
    TJtagScanReply JtagScan();

    TScriptResult Run(const TScriptRequest& request);
    // One unit of the job; `where` is the unit database (empty: the job's
    // own). Returns the unit's record as db export --json writes it, and
    // its verdict line. Throws TScriptFailure when the unit could not run.
    struct TUnitResult {
        std::string RecordJson;
        std::string Verdict;
        bool Passed = false;
    };
    TUnitResult RunJob(const TScriptJob& job, const std::string& where, const std::string& station);

    // From any thread: the running call stops at its next block.
    void Cancel() { CancelRequested = true; }
    void Close();
    bool Closed() const { return Shut; }

private:
    void AddLogLine(const std::string& text) override;
    void StageStarted(const TStageProgress& progress) override;
    void StageProgress(const TStageProgress& progress) override;

    void CheckOpen() const;
    TRunPacing Pacing();
    TResolvedTarget Resolve(const TScriptRequest& request);
    std::vector<std::uint8_t> Buffer(const TScriptRequest& request, const TResolvedTarget& target);
    TScriptResult Outcome(const TScriptRequest& request, const TPlanOutcome& outcome, std::vector<std::uint8_t> buffer,
                          std::span<const std::uint8_t> expected);
    TUnitDatabase& Database(const std::string& where);

    mutable std::mutex Busy;
    TPortChoice Choice;
    TScriptHooks Hooks;
    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TSettings Settings;
    TUnattendedPrompts Answers{*this};
    bool IgnoreReadErrors = false;
    std::unique_ptr<TAdapterSession> Session;
    std::optional<TAdapterReport> Catalogue;
    std::map<std::string, std::unique_ptr<TUnitDatabase>> Databases;
    std::atomic<int> UnitNumbers{0};
    std::atomic<bool> CancelRequested{false};
    std::string CurrentStage;
    int LastPercent = -1;
    bool Shut = false;
};

} // namespace lindprog::python
