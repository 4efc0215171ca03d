#include "core/production/JobPlan.h"

#include "core/base/AdapterText.h"
#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/link/PortStatus.h"
#include "core/ops/AdapterSession.h"
#include "core/ops/Operation.h"
#include "core/production/UnitDatabase.h"

#include <algorithm>

namespace lindprog {

namespace {

std::string StepPlace(const TJobStep& step, const char* key)
{
    return "step[" + std::to_string(step.Number) + "]." + key;
}

// The resolver's refusal as the job's error, at the key that named it.
template <typename TResolve>
auto InJob(const TJob& job, const std::string& place, TResolve resolve)
{
    try {
        return resolve();
    } catch (const TTargetError& error) {
        throw TJobError(job.Path, place, error.what());
    }
}

// A raw file is the region's bytes from its first one: exactly its size, or
// shorter with pad (filled up with 0xFF, erased flash).
void PlaceRaw(const TJob& job, const TJobStep& step, const TJobImage& image, TJobStepPlan& plan,
              const TTargetRegion& region)
{
    const std::size_t size = image.FileSize;
    if (size > region.Size || (size < region.Size && !step.Pad))
        throw TJobError(job.Path, StepPlace(step, "image"),
                        Format("%s holds %zu bytes, region '%s' %u; ", step.Image.c_str(), size,
                               ShowControlCharacters(region.Name).c_str(), region.Size) +
                            (size < region.Size ? "pad = true fills a shorter file with 0xFF"
                                                : "a file longer than the region cannot be written"));
    PlaceImage(image.Image, 0, plan.Buffer);
}

void PlaceStepImage(const TJob& job, const TJobStep& step, const TJobImage& image, TJobStepPlan& plan,
                    const TTargetRegion& region)
{
    if (image.Image.Format == TImageFormat::Raw && !step.Base) {
        PlaceRaw(job, step, image, plan, region);
        return;
    }
    plan.Base = step.Base.value_or(DefaultImageBase(image.Image, region.Size));
    try {
        PlaceImage(image.Image, plan.Base, plan.Buffer);
    } catch (const TImageError& error) {
        throw TJobError(job.Path, StepPlace(step, "image"),
                        step.Image + ": " + error.what() +
                            Format(" (base 0x%llX, region '%s' of 0x%X bytes)",
                                   static_cast<unsigned long long>(plan.Base),
                                   ShowControlCharacters(region.Name).c_str(), region.Size));
    }
}

TJobStepPlan ResolveStep(const TJob& job, const TJobStep& step, const std::optional<TJobImage>& image,
                         const TDeviceTarget& catalogue)
{
    TJobStepPlan plan;
    plan.Number = step.Number;
    plan.Title = step.Title();
    plan.Operation = step.Operation;
    plan.Compare = step.Compare;
    plan.RegionIndex = InJob(job, StepPlace(step, "region"), [&] { return catalogue.FindRegion(step.Region); });
    const TTargetRegion& region = catalogue.Regions[plan.RegionIndex];
    InJob(job, StepPlace(step, "operation"),
          [&] { catalogue.CheckAllows(plan.RegionIndex, step.Operation, step.OperationName()); });
    plan.Buffer.assign(region.Size, 0xFF);
    if (step.Compare)
        plan.Scratch.assign(region.Size, 0xFF);
    if (!image)
        return plan;
    PlaceStepImage(job, step, *image, plan, region);
    plan.Crc = CrcUpdateBytes(CrcStart, plan.Buffer);
    if (step.ExpectCrc && *step.ExpectCrc != plan.Crc)
        throw TJobError(job.Path, StepPlace(step, "expect_crc"),
                        Format("region '%s' holds CRC32 = %.08X after placing the image, the job expects %.08X",
                               ShowControlCharacters(region.Name).c_str(), plan.Crc, *step.ExpectCrc));
    return plan;
}

void ResolveSerial(const TJob& job, TResolvedJob& resolved)
{
    const TSerialRule& rule = *job.Serial;
    const std::uint8_t region = InJob(job, "serial.region", [&] { return resolved.Catalogue.FindRegion(rule.Region); });
    const TTargetRegion& info = resolved.Catalogue.Regions[region];
    bool written = false;
    for (TJobStepPlan& step : resolved.Steps) {
        if (step.RegionIndex != region || (!step.Compare && !SendsImage(step.Operation)))
            continue;
        step.TakesSerial = true;
        written = written || step.Operation == TOperation::Write || step.Operation == TOperation::Program;
    }
    if (!written)
        throw TJobError(job.Path, "serial.region",
                        "no write or program step writes region '" + ShowControlCharacters(info.Name) +
                            "', so no number would land");
    if (rule.Offset > info.Size || info.Size - rule.Offset < rule.Format.Width)
        throw TJobError(job.Path, "serial.offset",
                        Format("%zu bytes at 0x%llX run past the end of region '%s' (0x%X bytes)", rule.Format.Width,
                               static_cast<unsigned long long>(rule.Offset), ShowControlCharacters(info.Name).c_str(),
                               info.Size));
    resolved.SerialRegion = region;
}

std::string ImageText(const TJobStep& step, const std::optional<TJobImage>& image)
{
    if (step.Image.empty())
        return "";
    if (!image)
        return ", saved to " + step.Image;
    static const char* const formats[] = {"raw", "Intel HEX", "S-record", "ELF"};
    const TImage& parsed = image->Image;
    return Format(", image %s (%s, %zu bytes [%.08llX-%.08llX])", step.Image.c_str(),
                  formats[static_cast<int>(parsed.Format)], parsed.ByteCount(),
                  static_cast<unsigned long long>(parsed.Lowest()),
                  static_cast<unsigned long long>(parsed.End() == 0 ? 0 : parsed.End() - 1));
}

std::string StepText(const TJobStep& step, const std::optional<TJobImage>& image, const TResolvedJob* resolved,
                     std::size_t index)
{
    std::string text = Format("Step %zu: %s region '%s'", step.Number, step.OperationName().c_str(),
                              ShowControlCharacters(step.Region.Text()).c_str());
    text += ImageText(step, image);
    if (resolved && image) {
        const TJobStepPlan& plan = resolved->Steps[index];
        text += Format(" at base 0x%.08llX, CRC32 = %.08X", static_cast<unsigned long long>(plan.Base), plan.Crc);
    }
    if (step.Preverify)
        text += ", preverify";
    if (step.ExpectCrc && !resolved)
        text += Format(", expects CRC32 = %.08X", *step.ExpectCrc);
    return text + "\n";
}

} // namespace

void TResolvedJob::SetSerial(std::uint64_t number)
{
    if (!Job.Serial)
        return;
    for (TJobStepPlan& step : Steps)
        if (step.TakesSerial)
            Job.Serial->Format.Write(step.Buffer, static_cast<std::size_t>(Job.Serial->Offset), number);
}

TPlan TResolvedJob::Plan()
{
    TPlan plan;
    plan.DeviceIndex = Catalogue.DeviceIndex;
    plan.VoltageCode = VoltageCode;
    // Every preverify comes first, in the steps' order, so that the regions
    // already right are known before anything is erased.
    std::vector<TPlanStage> later;
    std::vector<TStageStep> laterSteps;
    StageSteps.clear();
    for (std::size_t k = 0; k < Steps.size(); ++k) {
        TJobStepPlan& step = Steps[k];
        const TOperationTarget target{Catalogue.DeviceIndex, step.RegionIndex, VoltageCode,
                                      step.Compare ? std::span(step.Scratch) : std::span(step.Buffer)};
        TPlanOptions options;
        options.SkipErased = SkipErased;
        options.Preverify = Job.Steps[k].Preverify;
        options.Group = k;
        if (step.Compare)
            options.Expected = step.Buffer;
        for (const TPlanStage& stage : PlanFor(step.Operation, target, options).Stages) {
            (stage.Preverify ? plan.Stages : later).push_back(stage);
            (stage.Preverify ? StageSteps : laterSteps).push_back({k, stage.Preverify});
        }
    }
    plan.Stages.insert(plan.Stages.end(), later.begin(), later.end());
    StageSteps.insert(StageSteps.end(), laterSteps.begin(), laterSteps.end());
    return plan;
}

std::vector<TStepResult> TResolvedJob::Results(const TPlanOutcome& outcome)
{
    std::vector<TStepResult> results;
    for (const TJobStepPlan& step : Steps) {
        TStepResult result;
        result.Number = step.Number;
        result.Title = step.Title;
        results.push_back(result);
    }
    std::vector<std::size_t> planned(Steps.size()), done(Steps.size());
    std::vector<std::vector<const TStageOutcome*>> ran(Steps.size());
    for (const TStageStep& stage : StageSteps)
        if (!stage.Preverify)
            ++planned[stage.Step];
    // A stage the runner found needless is not waited for.
    for (const std::size_t s : outcome.Skipped)
        if (s < StageSteps.size())
            --planned[StageSteps[s].Step];
    for (std::size_t s = 0; s < outcome.Stages.size(); ++s) {
        const TStageOutcome& stage = outcome.Stages[s];
        if (stage.PlanStage >= StageSteps.size())
            continue;
        const std::size_t k = StageSteps[stage.PlanStage].Step;
        TStepResult& result = results[k];
        if (stage.Preverify && !stage.Cancelled && stage.Status == PortStatus::CompareError)
            continue; // the region differs: the step's own stages write it
        result.Ran = true;
        result.Status = stage.Status;
        result.Cancelled = stage.Cancelled;
        result.Line = WithHexOffset(stage.Line);
        if (stage.Preverify) {
            result.Passed = stage.Succeeded();
            if (result.Passed)
                result.Line = "unchanged";
            continue;
        }
        ran[k].push_back(&stage);
        result.Passed = stage.Succeeded() && ++done[k] == planned[k];
        const TOperation operation = Steps[k].Operation;
        if (result.Passed && (operation == TOperation::Program || operation == TOperation::Write))
            result.Line = SentLine(operation, ran[k], CrcUpdateBytes(CrcStart, Steps[k].Buffer));
        if (Steps[k].Compare && s < outcome.Compared.size() && !outcome.Compared[s].None()) {
            result.Diff = outcome.Compared[s];
            result.Report = DifferenceReport(*result.Diff, Steps[k].Buffer, Steps[k].Scratch);
        }
    }
    return results;
}

TResolvedJob::TStepProgress TResolvedJob::StepProgress(std::size_t stageNumber, int stagePercent) const
{
    if (stageNumber == 0 || stageNumber > StageSteps.size())
        return {};
    // A step's stages are counted alike; its preverify, which runs before
    // every other step's stages, counts as its own.
    const TStageStep& at = StageSteps[stageNumber - 1];
    const auto ofStep = [&](const TStageStep& stage) {
        return stage.Step == at.Step && stage.Preverify == at.Preverify;
    };
    const auto first = std::find_if(StageSteps.begin(), StageSteps.end(), ofStep);
    const auto before = static_cast<int>(StageSteps.begin() + static_cast<std::ptrdiff_t>(stageNumber - 1) - first);
    const auto stages = static_cast<int>(std::count_if(StageSteps.begin(), StageSteps.end(), ofStep));
    return {Steps[at.Step].Title, (before * 100 + stagePercent) / stages};
}

std::string TResolvedJob::EraseRefusal() const
{
    for (const TJobStepPlan& step : Steps) {
        const TTargetRegion& region = Catalogue.Regions[step.RegionIndex];
        if (std::string refusal = lindprog::EraseRefusal(step.Operation, region.Name, region.Flags); !refusal.empty())
            return step.Title + ": " + refusal;
    }
    return {};
}

TDeviceTarget ReadJobCatalogue(const TJob& job, TAdapterSession& session)
{
    return InJob(job, "device", [&] { return session.Device(job.Device); });
}

TResolvedJob ResolveJob(const TJob& job, const TJobImages& images, const TDeviceTarget& catalogue)
{
    TResolvedJob resolved;
    resolved.Job = job;
    resolved.Catalogue = catalogue;
    resolved.VoltageCode = InJob(job, "voltage", [&] { return catalogue.VoltageCode(job.Voltage); });
    for (std::size_t k = 0; k < job.Steps.size(); ++k)
        resolved.Steps.push_back(ResolveStep(job, job.Steps[k], images.ByStep[k], catalogue));
    if (job.Serial)
        ResolveSerial(job, resolved);
    return resolved;
}

std::string JobCheckText(const TJob& job, const TJobImages& images, const TResolvedJob* resolved)
{
    std::string text = "Job '" + job.Name + "' (" + job.Path + "), hash " + images.Hash + "\n";
    text += "Device: " + ShowControlCharacters(resolved ? resolved->Catalogue.DeviceName : job.Device.Text());
    text += ", voltage " + job.Voltage.value_or("as the adapter chooses");
    if (job.JtagDelay)
        text += ", JTAG delay " + std::to_string(*job.JtagDelay);
    if (job.PowerOff)
        text += std::string(", power off ") + (*job.PowerOff ? "on" : "off");
    if (job.IgnoreReadErrors)
        text += std::string(", ignore read errors ") + (*job.IgnoreReadErrors ? "on" : "off");
    text += "\n";
    for (std::size_t k = 0; k < job.Steps.size(); ++k)
        text += StepText(job.Steps[k], images.ByStep[k], resolved, k);
    if (job.Serial) {
        const TSerialRule& rule = *job.Serial;
        text += Format("Serial: %s at 0x%llX of region '%s', from %llu step %llu, database %s\n",
                       rule.Format.Text().c_str(), static_cast<unsigned long long>(rule.Offset),
                       rule.Region.Text().c_str(), static_cast<unsigned long long>(rule.Start),
                       static_cast<unsigned long long>(rule.Step), WithoutPassword(JobDatabasePath(job)).c_str());
    }
    if (!resolved)
        text += "Region sizes and the placed images' CRCs follow from the adapter's catalogue.\n";
    return text;
}

} // namespace lindprog
