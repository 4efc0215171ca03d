#include "core/ops/OperationRunner.h"

#include "core/base/TextFormat.h"
#include "core/link/Adapter.h"
#include "core/ops/Operation.h"
#include "core/settings/Settings.h"

#include <algorithm>

namespace lindprog {

namespace {

struct TStageKind {
    TOperation Operation;
    TBlockChoice Blocks = TBlockChoice::All;
};

std::vector<TStageKind> StagesOf(TOperation operation, bool skipErased)
{
    using enum TOperation;
    const TBlockChoice sent = skipErased ? TBlockChoice::Data : TBlockChoice::All;
    std::vector<TStageKind> stages;
    switch (operation) {
    case Program: stages = {{Erase}, {BlankCheck}, {Write, sent}, {Verify, sent}}; break;
    case Write: stages = {{Erase}, {Write, sent}}; break; // a Write always erases first
    default: return {{operation}};
    }
    if (skipErased)
        stages.push_back({BlankCheck, TBlockChoice::Erased});
    return stages;
}

} // namespace

TPlan PlanFor(TOperation operation, const TOperationTarget& target, const TPlanOptions& options)
{
    TPlan plan;
    plan.DeviceIndex = target.DeviceIndex;
    plan.VoltageCode = target.VoltageCode;
    const bool sends = operation == TOperation::Program || operation == TOperation::Write;
    if (options.Preverify && sends)
        plan.Stages.push_back(
            {TOperation::Verify, target.RegionIndex, target.Buffer, TBlockChoice::All, {}, options.Group, true});
    for (const auto& [stage, blocks] : StagesOf(operation, options.SkipErased && sends))
        plan.Stages.push_back({stage, target.RegionIndex, target.Buffer, blocks,
                               stage == TOperation::Read ? options.Expected : std::span<const std::uint8_t>(),
                               options.Group, false});
    const TOperationInfo& info = OperationInfo(operation);
    plan.Confirmation = info.Confirmation ? info.Confirmation : "";
    if (operation == TOperation::Program) {
        plan.SucceededText = info.DoneText;
        plan.FailedText = "Programming failed";
    }
    return plan;
}

std::string SentLine(TOperation operation, const std::vector<const TStageOutcome*>& stages, std::uint32_t crc)
{
    std::uint32_t written = 0, verified = 0, blank = 0;
    bool provenBlank = false;
    for (const TStageOutcome* stage : stages) {
        if (stage->Stage == TOperation::Write)
            written += stage->BlocksSent;
        else if (stage->Stage == TOperation::Verify && !stage->Preverify)
            verified += stage->BlocksSent;
        else if (stage->Stage == TOperation::BlankCheck && stage->Blocks == TBlockChoice::Erased) {
            blank += stage->BlocksSent;
            provenBlank = true;
        }
    }
    std::string line = Format("%s: %u blocks written", OperationInfo(operation).DoneText, written);
    if (operation == TOperation::Program)
        line += Format(", %u verified", verified);
    if (provenBlank)
        line += Format(", %u proven blank", blank);
    return line + Format(", CRC32 = %.08X", crc);
}

bool TPlanOutcome::Succeeded() const
{
    return Confirmed && Stages.size() + Skipped.size() == PlannedStages && !Stages.empty() && Stages.back().Succeeded();
}

bool TPlanOutcome::LeftUnchanged(std::size_t group) const
{
    return std::find(Unchanged.begin(), Unchanged.end(), group) != Unchanged.end();
}

const TStageOutcome& TPlanOutcome::Last() const
{
    static const TStageOutcome none;
    return Stages.empty() ? none : Stages.back();
}

std::uint64_t TPlanOutcome::BytesWritten() const
{
    std::uint64_t bytes = 0;
    for (const TStageOutcome& stage : Stages)
        if (stage.Stage == TOperation::Write)
            bytes += stage.Bytes;
    return bytes;
}

TOperationRunner::TOperationRunner(TAdapter& port, TSettings& settings, TLogSink& log, TPrompts& prompts,
                                   TRunView& view, TOperationDriver::TTick tick)
    : Port(port), Settings(settings), Log(log), Prompts(prompts), View(view),
      Driver(port, settings, log, prompts, view, std::move(tick))
{
}

std::string TOperationRunner::StageName() const
{
    return OperationInfo(Driver.Stage()).StageName;
}

TStageProgress TOperationRunner::Progress(int percent) const
{
    TStageProgress progress;
    progress.Stage = Driver.Stage();
    progress.StageNumber = NextStage;
    progress.StageCount = Plan.Stages.size();
    progress.Percent = percent;
    progress.Blocks = OperationInfo(Driver.Stage()).Blocks;
    if (progress.Blocks) {
        progress.Bytes = Driver.Position();
        progress.Total = Driver.Total();
    }
    progress.Seconds = Driver.SecondsRunning();
    return progress;
}

bool TOperationRunner::Start(TPlan plan)
{
    if (UnderWay())
        return false;
    Plan = std::move(plan);
    PlanOutcome = {};
    PlanOutcome.PlannedStages = Plan.Stages.size();
    NextStage = 0;
    if (Plan.Stages.empty() || (!Plan.Confirmation.empty() && !Prompts.AskConfirm(Plan.Confirmation)))
        return false;
    PlanOutcome.Confirmed = true;
    return BeginStage();
}

bool TOperationRunner::StartNextStage()
{
    if (!Pending)
        return false;
    Pending = false;
    return BeginStage();
}

bool TOperationRunner::SkipNeedlessStages()
{
    const auto needless = [this](const TPlanStage& stage) {
        // A region the image fills leaves no erased block to prove blank.
        return PlanOutcome.LeftUnchanged(stage.Group) ||
               (stage.Blocks == TBlockChoice::Erased && !SendsAnyBlock(stage.Buffer, stage.Blocks));
    };
    while (NextStage < Plan.Stages.size() && needless(Plan.Stages[NextStage])) {
        PlanOutcome.Skipped.push_back(NextStage++);
    }
    return NextStage < Plan.Stages.size();
}

bool TOperationRunner::BeginStage()
{
    const TPlanStage& stage = Plan.Stages[NextStage++];
    const TOperationTarget target{Plan.DeviceIndex, stage.RegionIndex, Plan.VoltageCode, stage.Buffer};
    if (!Driver.Begin(stage.Operation, target, stage.Blocks)) {
        // A refused start sent nothing that needs undoing: no power-off, and
        // no closing box either.
        PlanOutcome.Stages.push_back(Driver.Outcome());
        PlanOutcome.Stages.back().Preverify = stage.Preverify;
        PlanOutcome.Stages.back().PlanStage = NextStage - 1;
        PlanOutcome.Compared.emplace_back();
        View.StageEnded(PlanOutcome.Stages.back());
        Running = false;
        return false;
    }
    Running = true;
    View.StageStarted(Progress(0));
    return true;
}

bool TOperationRunner::ActionStep(int& percent)
{
    const bool more = Driver.ActionStep(percent);
    View.StageProgress(Progress(percent));
    return more;
}

void TOperationRunner::EndStage(bool cancelled)
{
    if (!Running)
        return;
    Running = false;
    PlanOutcome.Stages.push_back(Driver.Finish(cancelled));
    PlanOutcome.Compared.emplace_back();
    TStageOutcome& outcome = PlanOutcome.Stages.back();
    const TPlanStage& stage = Plan.Stages[NextStage - 1];
    outcome.Preverify = stage.Preverify;
    outcome.PlanStage = NextStage - 1;
    if (!stage.Expected.empty() && outcome.Succeeded())
        Compare(stage, outcome, PlanOutcome.Compared.back());
    // A preverify that differs is what it is there to find: the stages after
    // it write the region, and no byte of it is worth a line of its own.
    if (stage.Operation == TOperation::Verify && !stage.Preverify && !cancelled &&
        outcome.Status == PortStatus::CompareError)
        ReadBackFailedBlock(stage, outcome);
    View.StageEnded(outcome);
    if (GoesOn(stage, outcome) && SkipNeedlessStages()) {
        Pending = true;
        return;
    }
    EndPlan();
}

bool TOperationRunner::GoesOn(const TPlanStage& stage, const TStageOutcome& outcome)
{
    if (!stage.Preverify)
        return outcome.Succeeded();
    if (outcome.Succeeded()) {
        PlanOutcome.Unchanged.push_back(stage.Group);
        return true;
    }
    return outcome.Started && !outcome.Cancelled && outcome.Status == PortStatus::CompareError;
}

void TOperationRunner::Compare(const TPlanStage& stage, TStageOutcome& outcome, TDifferences& differences)
{
    differences = FindDifferences(stage.Expected, stage.Buffer);
    if (differences.None()) {
        outcome.Line = Format("Compare OK, %zu bytes equal", stage.Buffer.size());
        Log.AddLogLine(outcome.Line);
        return;
    }
    outcome.Status = PortStatus::CompareError;
    outcome.StatusText = Port.TextOf(outcome.Status);
    outcome.Line = Format("Compare error at 0x%08X", differences.Ranges.front().Start);
    Log.AddLogLine(outcome.Line);
    for (const std::string& line : DifferenceReport(differences, stage.Expected, stage.Buffer))
        Log.AddLogLine(line);
}

void TOperationRunner::ReadBackFailedBlock(const TPlanStage& stage, TStageOutcome& outcome)
{
    const std::uint32_t offset = Driver.Position();
    const std::uint16_t length = BlockLengthAt(offset, TOperationDriver::FullBlock, stage.Buffer.size());
    const auto expected = stage.Buffer.subspan(offset, length);
    std::vector<std::uint8_t> read(length);
    const auto start = Port.StartOperation(
        {Plan.DeviceIndex, stage.RegionIndex, TOperation::Read, Settings.JtagDelay, Plan.VoltageCode});
    const bool started = start.Ok() || start.Status == PortStatus::DeviceLocked;
    if (!started || !Port.ReadBlock(offset, length, read)) {
        Log.AddLogLine(Format("The failing block could not be read back (%s)", Port.StatusText().c_str()));
        return;
    }
    const auto differs = std::mismatch(expected.begin(), expected.end(), read.begin());
    if (differs.first == expected.end()) {
        // The adapter's compare and its read disagree: a marginal cell or a
        // flaky line. Say so rather than name a byte that reads right.
        Log.AddLogLine(Format("The block at 0x%08X reads back equal to the buffer", offset));
        return;
    }
    const auto at = static_cast<std::uint32_t>(differs.first - expected.begin());
    outcome.Mismatch = {true, offset + at, *differs.first, *differs.second};
    // The adapter's line names the block; this one says what reading it
    // back found, so the two read as one finding and not as two failures.
    outcome.Line = Format("Read back, the block at 0x%08X differs first at 0x%08X: expected 0x%02X, read 0x%02X",
                          offset, offset + at, *differs.first, *differs.second);
    Log.AddLogLine(outcome.Line);
}

void TOperationRunner::EndPlan()
{
    // Its outcome changes nothing: the plan is over either way.
    if (Settings.TurnOffPower)
        Port.PowerOff();
    if (PlanOutcome.Succeeded()) {
        if (!Plan.SucceededText.empty())
            Prompts.ShowInfo(Plan.SucceededText);
    } else if (!Plan.FailedText.empty()) {
        Prompts.ShowError(Plan.FailedText);
    }
}

const TPlanOutcome& TOperationRunner::Run(TPlan plan, const TRunPacing& pacing)
{
    bool running = Start(std::move(plan));
    while (running) {
        EndStage(!RunStageSteps(pacing));
        if (!Pending)
            break;
        if (pacing.BetweenStages)
            pacing.BetweenStages();
        running = StartNextStage();
    }
    return PlanOutcome;
}

// Runs the stage's steps back to back; false when the pacing stopped them.
bool TOperationRunner::RunStageSteps(const TRunPacing& pacing)
{
    int percent = 0;
    for (;;) {
        // A stop that comes between stages ends the plan like one during a
        // stage: the stage has started and is cancelled at once.
        if (pacing.Stop && pacing.Stop())
            return false;
        const bool more = ActionStep(percent);
        if (pacing.AfterStep)
            pacing.AfterStep(more);
        if (!more)
            return true;
    }
}

} // namespace lindprog
