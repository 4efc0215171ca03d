#pragma once
// Runs a plan of stages on a connection: the one place that chains stages.
//
// A plan is a list of stages on regions of one device, each an operation
// with the buffer it reads into or sends. A click on Program or Write is a
// built-in plan (PlanFor); a job's steps are a plan too. The runner asks the
// plan's question once (the window asks it before its progress dialog and
// hands on a plan without one), starts each stage, steps it, records every
// stage's outcome and the plan's, leaves out what a passed preverify makes
// needless, ends the plan at the first stage that fails or is cancelled,
// sends PowerOff once at the end when the setting says so, and shows the
// plan's closing box.
//
// The front end only paces: it hands Run() its pacing (a pause between
// blocks, a stop), on a thread of its own where a window must stay live.

#include "core/buffer/Difference.h"
#include "core/ops/OperationDriver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lindprog {

struct TPlanStage {
    TOperation Operation = TOperation::Read;
    std::uint8_t RegionIndex = 0;
    std::span<std::uint8_t> Buffer; // the region's bytes: filled by Read, sent by Write and Verify
    TBlockChoice Blocks = TBlockChoice::All;
    // A Read with expected bytes is a compare on the computer: the stage
    // fails with CompareError where the region differs from them.
    std::span<const std::uint8_t> Expected;
    // The stages of one command or one job step share a group.
    std::size_t Group = 0;
    // A Verify that looks first whether the region already holds the buffer:
    // when it passes, the later stages of its group are left out; when it
    // finds the region different (CompareError), the plan goes on; any other
    // failure ends the plan as a failed stage does.
    bool Preverify = false;
};

struct TPlan {
    std::uint8_t DeviceIndex = 0;
    std::uint8_t VoltageCode = 0;
    std::vector<TPlanStage> Stages;
    std::string Confirmation;  // asked before anything is sent; empty: none
    std::string SucceededText; // information box once every stage succeeded
    std::string FailedText;    // error box when a stage that ran failed or was cancelled
};

// How an operation's plan is made beyond its stages.
struct TPlanOptions {
    // Program and Write send and verify only the blocks holding data and end
    // with a Blank check of the others, so the whole region is still proven
    // equal to the buffer in a fraction of the time for a small image.
    bool SkipErased = false;
    // Program and Write verify first and leave a region that already holds
    // the buffer alone (a Preverify stage).
    bool Preverify = false;
    // Read: a compare on the computer against these bytes (the target's
    // buffer receives what is read).
    std::span<const std::uint8_t> Expected;
    std::size_t Group = 0;
};

// What a click on an operation item runs on the target: Program is Erase,
// Blank check, Write, Verify; Write is Erase, Write; any other is itself.
TPlan PlanFor(TOperation operation, const TOperationTarget& target, const TPlanOptions& options = {});

// What the stages of one Program or Write did, as its result line: the
// blocks written, verified and proven blank, and the CRC of what was sent
// ("Programming successfull: 3 blocks written, 3 verified, 509 proven blank,
// CRC32 = 1A2B3C4D"). A line of the last stage alone would say only what
// that stage did.
std::string SentLine(TOperation operation, const std::vector<const TStageOutcome*>& stages, std::uint32_t crc);

struct TPlanOutcome {
    bool Confirmed = false;             // false: refused at the question, nothing was sent
    std::size_t PlannedStages = 0;      // how many the plan had
    std::vector<TStageOutcome> Stages;  // every stage that was started, in order
    std::vector<TDifferences> Compared; // per stage: where a compare found the region different
    std::vector<std::size_t> Unchanged; // groups a preverify found equal, their later stages left out
    std::vector<std::size_t> Skipped;   // plan stages left out as needless, by their place in the plan

    bool Succeeded() const;
    bool LeftUnchanged(std::size_t group) const;
    bool Cancelled() const { return !Stages.empty() && Stages.back().Cancelled; }
    // The stage that ended the plan; a default outcome when none started.
    const TStageOutcome& Last() const;
    // What its Write stages sent: what the plan wrote, which its last stage
    // (a verify, a blank check of the erased blocks) does not tell.
    std::uint64_t BytesWritten() const;
};

// How a caller without a window paces Run. Each may be empty.
struct TRunPacing {
    std::function<bool()> Stop;               // asked before every step: true cancels the stage there
    std::function<void(bool more)> AfterStep; // after every step; more: another step follows
    std::function<void()> BetweenStages;      // before the next stage starts
};

class TOperationRunner {
public:
    TOperationRunner(TAdapter& port, TSettings& settings, TLogSink& log, TPrompts& prompts, TRunView& view,
                     TOperationDriver::TTick tick = {});

    // Asks the plan's question and starts its first stage; true when that
    // stage's steps are to run. Ignored while a plan is under way.
    bool Start(TPlan plan);
    // One step of the running stage; false when nothing is left.
    bool ActionStep(int& percent);
    // The running stage's steps ended by themselves or were cancelled: its
    // result, and then either a pending next stage or the end of the plan.
    void EndStage(bool cancelled);
    // Starts the pending stage; true when its steps are to run.
    bool StartNextStage();
    // The whole plan, its steps back to back as the pacing says.
    const TPlanOutcome& Run(TPlan plan, const TRunPacing& pacing = {});

    bool UnderWay() const { return Running || Pending; }
    bool StagePending() const { return Pending; }
    TOperation Stage() const { return Driver.Stage(); }
    std::string StageName() const;
    TStageProgress Progress(int percent) const;
    const TPlanOutcome& Outcome() const { return PlanOutcome; }

private:
    bool BeginStage();
    // Moves past the stages that a passed preverify leaves out, and a blank
    // check of the erased blocks when the buffer has none; false when none
    // is left.
    bool SkipNeedlessStages();
    // Whether the plan goes on after this stage.
    bool GoesOn(const TPlanStage& stage, const TStageOutcome& outcome);
    void EndPlan();
    // A compare stage's judgement of the bytes it read.
    void Compare(const TPlanStage& stage, TStageOutcome& outcome, TDifferences& differences);
    // The adapter's compare names only the block; reading that block back
    // names the byte and both values.
    void ReadBackFailedBlock(const TPlanStage& stage, TStageOutcome& outcome);
    bool RunStageSteps(const TRunPacing& pacing);

    TAdapter& Port;
    TSettings& Settings;
    TLogSink& Log;
    TPrompts& Prompts;
    TRunView& View;
    TOperationDriver Driver;

    TPlan Plan;
    TPlanOutcome PlanOutcome;
    std::size_t NextStage = 0;
    bool Running = false; // a stage's steps run
    bool Pending = false; // the next stage waits for StartNextStage
};

} // namespace lindprog
