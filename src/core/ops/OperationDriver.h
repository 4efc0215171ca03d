#pragma once
// Runs the device operations between the selected region and the buffer:
// Read, Write, Verify, Erase, Blank check, Unlock, and the Write (erase,
// write) and Program (erase, blank check, write, verify) sequences.
//
// The driver decides and counts; the front end paces it. A run is
//   Begin(tag) -> ActionStep() ... with a 10 ms pause, Cancel between steps
//   -> Finish(cancelled)
// and Finish asks the front end to schedule the next stage of a sequence
// (100 ms later) through TDriverView::ScheduleNextStage.

#include "core/base/Prompts.h"
#include "core/link/AdapterCommands.h"
#include "core/link/PortStatus.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace lindprog {

class TDevicePort;
struct TSettings;

class TDriverView {
public:
    virtual ~TDriverView() = default;
    // The buffer was replaced as a whole: repaint it and take it as the
    // reference, so nothing shows as changed.
    virtual void AcceptBuffer() = 0;
    // Transfer speed in bytes per second, for the progress dialog.
    virtual void ShowSpeed(std::uint32_t bytesPerSecond) = 0;
    // Run the driver's pending stage 100 ms from now.
    virtual void ScheduleNextStage() = 0;
};

// Where the operation runs: the entries chosen in the device, region and
// voltage lists, and the buffer of the region's size.
struct TOperationTarget {
    std::uint8_t DeviceIndex = 0;
    std::uint8_t RegionIndex = 0;
    std::uint8_t VoltageCode = 0;
    std::span<std::uint8_t> Buffer;
};

// The length of the block at `offset`: blockLength, or what is left of a
// region of regionSize bytes when that is less.
std::uint16_t BlockLengthAt(std::uint32_t offset, std::uint16_t blockLength, std::uint64_t regionSize);

// How the stage that ended last came out, for front ends that report a
// result rather than show the log (the command line).
struct TStageOutcome {
    TOperation Stage = TOperation::Read;
    bool Cancelled = false;
    std::uint8_t Status = PortStatus::Ok; // of the stage's last command
    std::uint32_t Bytes = 0;              // handled before it ended
    std::uint32_t Crc = 0;                // of the bytes read (Read only)
    double Seconds = 0.0;
    std::string Line; // the result line as logged
};

class TOperationDriver {
public:
    using TTick = std::function<std::uint32_t()>;
    static constexpr std::uint16_t FullBlock = 512;
    static constexpr std::uint16_t SmallBlock = 4;
    static constexpr int GoodReadsToRecover = 128;

    TOperationDriver(TDevicePort& port, TSettings& settings, TLogSink& log, TPrompts& prompts, TDriverView& view,
                     TTick tick = {});

    // The click on an operation item (tag 0..6); while a sequence is under
    // way the tag is ignored and the pending stage runs. True when the start
    // request was accepted and the steps are to run.
    bool Begin(int tag, const TOperationTarget& target);
    // One step; false when nothing is left. percent is the progress to show.
    bool ActionStep(int& percent);
    // After the steps ended by themselves or were cancelled: result line,
    // the next stage of a sequence or the end of it, power-off.
    void Finish(bool cancelled);

    // "Reading", "Writing", ... for the stage that runs.
    std::string StageName() const;
    bool SequenceUnderWay() const { return ProgramSequence || WriteSequence; }
    TOperation Stage() const { return Operation; }
    // Where the running stage stands, in bytes of the region.
    std::uint32_t Position() const { return Offset; }
    std::uint32_t Total() const { return static_cast<std::uint32_t>(Target.Buffer.size()); }
    // Set by Finish, and by a Begin whose start request failed.
    const TStageOutcome& Outcome() const { return LastOutcome; }

private:
    bool Confirm(int tag) const;
    bool StartOnAdapter();
    void LogStartReply(bool succeeded);
    bool StepRead(int& percent);
    bool StepTransfer(int& percent);
    bool StepBlankCheck(int& percent);
    bool StepRepeat();
    bool Advance(int& percent);
    void SkipFailedBlock();
    void UpdateSpeed();
    bool ReportResult(bool cancelled);
    void EndSequence(bool stageFailed, bool nextScheduled);
    void PowerOff();
    double Speed() const;
    // Logs a stage's result line and keeps it as the outcome's.
    void Report(const std::string& line);

    TDevicePort& Port;
    TSettings& Settings;
    TLogSink& Log;
    TPrompts& Prompts;
    TDriverView& View;
    TTick Tick;

    TOperationTarget Target;
    TOperation Operation = TOperation::Read;
    bool ProgramSequence = false;
    bool WriteSequence = false;
    std::uint32_t Offset = 0;
    std::uint32_t ReadCrc = 0;
    std::uint32_t StartTick = 0;
    std::uint32_t LastTick = 0;
    std::uint16_t BlockLen = FullBlock;
    std::int32_t BlockErrors = 0;
    std::int32_t GoodReads = 0;
    std::uint8_t LastStatus = PortStatus::Ok; // of the last command of the run
    TStageOutcome LastOutcome;
};

} // namespace lindprog
