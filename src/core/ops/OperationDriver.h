#pragma once
// Runs one stage of an operation between a region and its buffer: Read,
// Write, Verify, Erase, Blank check or Unlock. The stage is
//   Begin(stage) -> ActionStep() ... -> Finish(cancelled)
// and knows nothing of the stages before or after it: the runner
// (OperationRunner.h) chains the stages of a plan, and the front end paces
// the steps.

#include "core/base/Prompts.h"
#include "core/link/AdapterCommands.h"
#include "core/link/PortStatus.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

class TAdapter;
struct TSettings;

// Which blocks of the region a Write, Verify or Blank check stage sends. After
// an erase the region is all 0xFF, so a block that is all 0xFF in the buffer
// needs no write and no data verify; a Blank check of just those blocks then
// proves them equal to the buffer at a few bytes a block.
enum class TBlockChoice {
    All,
    Data,  // blocks holding a byte other than 0xFF
    Erased // blocks that are all 0xFF
};

// The first byte where the device was found to differ from the buffer.
struct TByteMismatch {
    bool Found = false;
    std::uint32_t Offset = 0; // in the region
    std::uint8_t Expected = 0;
    std::uint8_t Read = 0;
};

// A read block that failed and was skipped after "Yes, ignore": its bytes
// in the buffer are the fill, not the region's.
struct TFailedRead {
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
    bool operator==(const TFailedRead&) const = default;
};

// How one stage went: what the runner records and the command line reports.
struct TStageOutcome {
    TOperation Stage = TOperation::Read;
    std::uint8_t RegionIndex = 0;
    bool Started = false; // the adapter accepted the start request
    bool Cancelled = false;
    std::uint8_t Status = PortStatus::Ok; // of the stage's last command
    std::uint32_t Bytes = 0;              // handled before it ended
    std::uint32_t Crc = 0;                // of the bytes read (Read only)
    TBlockChoice Blocks = TBlockChoice::All;
    std::uint32_t BlocksSent = 0;         // with a choice of blocks: those sent
    std::uint32_t BlocksSkipped = 0;      // and those left out
    std::vector<TFailedRead> FailedReads; // a Read: the blocks skipped after read errors
    double Seconds = 0.0;
    std::string Line;          // the result line as logged
    TByteMismatch Mismatch;    // a failed Verify: its block read back
    std::string StatusText;    // the status as the adapter names it
    bool Preverify = false;    // a Verify that looked whether the rest of its group was needed
    std::size_t PlanStage = 0; // its place in the plan, from 0

    bool Succeeded() const { return Started && !Cancelled && Status == PortStatus::Ok; }
};

// Where a stage runs: the device, region and output voltage entries chosen,
// and the region's buffer, which a Read fills and the others send.
struct TOperationTarget {
    std::uint8_t DeviceIndex = 0;
    std::uint8_t RegionIndex = 0;
    std::uint8_t VoltageCode = 0;
    std::span<std::uint8_t> Buffer;
};

// Where a running stage stands, after its start and after every step.
struct TStageProgress {
    TOperation Stage = TOperation::Read;
    std::size_t StageNumber = 1; // from 1
    std::size_t StageCount = 1;
    int Percent = 0;
    bool Blocks = true;      // Erase and Unlock repeat one step and show no bytes
    std::uint32_t Bytes = 0; // of the region done
    std::uint32_t Total = 0;
    double Seconds = 0.0; // since the stage started

    double BytesPerSecond() const { return Seconds > 0 ? Bytes / Seconds : 0.0; }
    double SecondsLeft() const;
};

// What a running stage or plan reports. Every report has an empty default, so
// a front end implements only what it shows; TRunView itself shows nothing.
class TRunView {
public:
    virtual ~TRunView() = default;
    // The buffer was replaced as a whole (filled before a Read, and at the
    // end of every stage): repaint it and take it as the reference, so
    // nothing shows as changed.
    virtual void BufferReplaced() {}
    // Transfer speed in bytes per second, at most every 500 ms of a Read or
    // Write, for the progress dialog's speed label.
    virtual void ShowSpeed(std::uint32_t /*bytesPerSecond*/) {}
    // A stage was accepted by the adapter and its steps follow.
    virtual void StageStarted(const TStageProgress& /*progress*/) {}
    // After every step of a stage.
    virtual void StageProgress(const TStageProgress& /*progress*/) {}
    // A stage ended, or its start was refused; its result line is logged.
    virtual void StageEnded(const TStageOutcome& /*outcome*/) {}
};

// A stage's result line as messages report it: the offset of "... failed at
// offset 4000 (...)" as 0x00004000, as every other address they print. The
// log keeps the line as the adapter's programmer always wrote it.
std::string WithHexOffset(const std::string& line);

// The length of the block at `offset`: blockLength, or what is left of a
// region of regionSize bytes when that is less.
std::uint16_t BlockLengthAt(std::uint32_t offset, std::uint16_t blockLength, std::uint64_t regionSize);

// Whether a stage with this choice of blocks would send any block of buffer
// (the blocks a block stage steps through, of TOperationDriver::FullBlock).
bool SendsAnyBlock(std::span<const std::uint8_t> buffer, TBlockChoice choice);

class TOperationDriver {
public:
    // Microseconds on a steady clock: a block or two go in less than a
    // millisecond over a fast link, and a stage that short still has a speed.
    using TTick = std::function<std::uint64_t()>;
    static constexpr std::uint16_t FullBlock = 512;
    static constexpr std::uint16_t SmallBlock = 4;
    static constexpr int GoodReadsToRecover = 128;
    // An adapter that has stopped answering makes every block wait out the
    // reply time; ignoring read errors must not turn that into hours.
    static constexpr int NoAnswersToGiveUp = 3;

    TOperationDriver(TAdapter& port, TSettings& settings, TLogSink& log, TPrompts& prompts, TRunView& view,
                     TTick tick = {});

    // Sends the stage's start request. True when the adapter accepted it and
    // the steps are to run; otherwise the outcome holds the refusal.
    bool Begin(TOperation stage, const TOperationTarget& target, TBlockChoice blocks = TBlockChoice::All);
    // One step; false when nothing is left. percent is the progress to show.
    bool ActionStep(int& percent);
    // After the steps ended by themselves or were cancelled: the result line.
    const TStageOutcome& Finish(bool cancelled);

    TOperation Stage() const { return Operation; }
    // Where the running stage stands, in bytes of the region.
    std::uint32_t Position() const { return Offset; }
    std::uint32_t Total() const { return static_cast<std::uint32_t>(Target.Buffer.size()); }
    double SecondsRunning() const;
    // Set by Finish, and by a Begin whose start request failed.
    const TStageOutcome& Outcome() const { return LastOutcome; }

private:
    bool StartOnAdapter();
    void LogStartReply(const TReply<TStartOperationReply>& reply);
    bool StepRead(int& percent);
    bool StepTransfer(int& percent);
    bool StepBlankCheck(int& percent);
    bool StepRepeat();
    bool Advance(int& percent);
    // Moves past the blocks the stage's choice leaves out; false at the end.
    bool SkipUnchosenBlocks(int& percent);
    void SkipFailedBlock();
    void UpdateSpeed();
    void ReportResult(bool cancelled);
    double Speed() const;
    // Logs a stage's result line and keeps it as the outcome's.
    void Report(const std::string& line);

    TAdapter& Port;
    TSettings& Settings;
    TLogSink& Log;
    TPrompts& Prompts;
    TRunView& View;
    TTick Tick;

    TOperationTarget Target;
    TOperation Operation = TOperation::Read;
    TBlockChoice Blocks = TBlockChoice::All;
    std::uint32_t Offset = 0;
    std::uint32_t Handled = 0; // bytes sent or read; Offset less the blocks left out
    std::uint32_t BlocksSent = 0;
    std::uint32_t BlocksSkipped = 0;
    std::uint32_t ReadCrc = 0;
    std::uint64_t StartTick = 0;
    std::uint64_t LastTick = 0;
    std::uint16_t BlockLen = FullBlock;
    std::int32_t BlockErrors = 0;
    std::vector<TFailedRead> FailedReads;
    std::int32_t GoodReads = 0;
    std::int32_t NoAnswersInARow = 0;
    // The user chose to go on after a read error: the rest of this stage
    // skips unreadable blocks without asking. Never the setting's: an answer
    // given to one read is not a policy for the next run, nor a station's.
    bool IgnoreReadErrors = false;
    std::uint8_t LastStatus = PortStatus::Ok; // of the last command of the run
    TStageOutcome LastOutcome;
};

} // namespace lindprog
