#include "core/production/JobPlan.h"

#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/link/PortStatus.h"
#include "core/ops/Connection.h"
#include "core/ops/Operation.h"

#include <algorithm>

namespace lindprog {

namespace {

std::string Listed(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k)
        text += (k ? ", " : "") + std::to_string(k) + " '" + names[k] + "'";
    return names.empty() ? "none" : text;
}

std::string StepPlace(const TJobStep& step, const char* key)
{
    return "step[" + std::to_string(step.Number) + "]." + key;
}

std::vector<std::string> RegionNames(const TJobCatalogue& catalogue)
{
    std::vector<std::string> names;
    for (const auto& region : catalogue.Regions)
        names.push_back(region.Name);
    return names;
}

std::uint8_t FindRegion(const TJob& job, const TJobCatalogue& catalogue, const TEntryChoice& choice,
                        const std::string& place)
{
    const int index = choice.Find(RegionNames(catalogue));
    if (index < 0)
        throw TJobError(job.Path, place,
                        "device '" + catalogue.DeviceName + "' has no region '" + choice.Text() +
                            "'; its regions: " + Listed(RegionNames(catalogue)));
    return static_cast<std::uint8_t>(index);
}

std::uint8_t ChooseVoltage(const TJob& job, const TJobCatalogue& catalogue)
{
    if (!job.Voltage)
        return catalogue.DefaultVoltageCode;
    std::vector<std::string> offered;
    for (const auto& entry : catalogue.Voltages) {
        offered.push_back(entry.Value);
        if (offered.back() == *job.Voltage)
            return entry.Code;
    }
    std::string list;
    for (const auto& text : offered)
        list += (list.empty() ? "" : ", ") + text;
    throw TJobError(job.Path, "voltage",
                    "the device offers no output voltage '" + *job.Voltage +
                        "'; it offers: " + (list.empty() ? "none" : list));
}

// A raw file is the region's bytes from its first one: exactly its size, or
// shorter with pad (filled up with 0xFF, erased flash).
void PlaceRaw(const TJob& job, const TJobStep& step, const TJobImage& image, TJobStepPlan& plan,
              const TJobRegion& region)
{
    const std::size_t size = image.FileSize;
    if (size > region.Size || (size < region.Size && !step.Pad))
        throw TJobError(
            job.Path, StepPlace(step, "image"),
            Format("%s holds %zu bytes, region '%s' %u; ", step.Image.c_str(), size, region.Name.c_str(), region.Size) +
                (size < region.Size ? "pad = true fills a shorter file with 0xFF"
                                    : "a file longer than the region cannot be written"));
    PlaceImage(image.Image, 0, plan.Buffer);
}

void PlaceStepImage(const TJob& job, const TJobStep& step, const TJobImage& image, TJobStepPlan& plan,
                    const TJobRegion& region)
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
                                   static_cast<unsigned long long>(plan.Base), region.Name.c_str(), region.Size));
    }
}

TJobStepPlan ResolveStep(const TJob& job, const TJobStep& step, const std::optional<TJobImage>& image,
                         const TJobCatalogue& catalogue)
{
    TJobStepPlan plan;
    plan.Number = step.Number;
    plan.Title = step.Title();
    plan.Operation = step.Operation;
    plan.Compare = step.Compare;
    plan.RegionIndex = FindRegion(job, catalogue, step.Region, StepPlace(step, "region"));
    const TJobRegion& region = catalogue.Regions[plan.RegionIndex];
    if (!TActionState::From(true, region.Flags).Allows(step.Operation))
        throw TJobError(job.Path, StepPlace(step, "operation"),
                        "region '" + region.Name + "' does not allow " + step.OperationName() +
                            "; it allows: " + Listed(AllowedCommands(region.Flags)));
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
                               region.Name.c_str(), plan.Crc, *step.ExpectCrc));
    return plan;
}

void ResolveSerial(const TJob& job, TResolvedJob& resolved)
{
    const TSerialRule& rule = *job.Serial;
    const std::uint8_t region = FindRegion(job, resolved.Catalogue, rule.Region, "serial.region");
    const TJobRegion& info = resolved.Catalogue.Regions[region];
    bool written = false;
    for (TJobStepPlan& step : resolved.Steps) {
        if (step.RegionIndex != region || (!step.Compare && !SendsImage(step.Operation)))
            continue;
        step.TakesSerial = true;
        written = written || step.Operation == TOperation::Write || step.Operation == TOperation::Program;
    }
    if (!written)
        throw TJobError(job.Path, "serial.region",
                        "no write or program step writes region '" + info.Name + "', so no number would land");
    if (rule.Offset > info.Size || info.Size - rule.Offset < rule.Format.Width)
        throw TJobError(job.Path, "serial.offset",
                        Format("%zu bytes at 0x%llX run past the end of region '%s' (0x%X bytes)", rule.Format.Width,
                               static_cast<unsigned long long>(rule.Offset), info.Name.c_str(), info.Size));
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
    std::string text =
        Format("Step %zu: %s region '%s'", step.Number, step.OperationName().c_str(), step.Region.Text().c_str());
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

TPlan TResolvedJob::Plan(const std::vector<bool>& skip)
{
    TPlan plan;
    plan.DeviceIndex = Catalogue.DeviceIndex;
    plan.VoltageCode = VoltageCode;
    StageSteps.clear();
    for (std::size_t k = 0; k < Steps.size(); ++k) {
        if (k < skip.size() && skip[k])
            continue;
        TJobStepPlan& step = Steps[k];
        const TOperationTarget target{Catalogue.DeviceIndex, step.RegionIndex, VoltageCode,
                                      step.Compare ? std::span(step.Scratch) : std::span(step.Buffer)};
        for (TPlanStage stage : PlanFor(step.Operation, target, SkipErased).Stages) {
            if (step.Compare)
                stage.Expected = step.Buffer;
            plan.Stages.push_back(stage);
            StageSteps.push_back(k);
        }
    }
    return plan;
}

TPlan TResolvedJob::PreverifyPlan(std::size_t index)
{
    TJobStepPlan& step = Steps[index];
    StageSteps = {index};
    return PlanFor(TOperation::Verify, {Catalogue.DeviceIndex, step.RegionIndex, VoltageCode, step.Buffer});
}

std::vector<TStepResult> TResolvedJob::Results(const TPlanOutcome& outcome, const std::vector<bool>& skip)
{
    std::vector<TStepResult> results;
    for (std::size_t k = 0; k < Steps.size(); ++k) {
        TStepResult result;
        result.Number = Steps[k].Number;
        result.Title = Steps[k].Title;
        if (k < skip.size() && skip[k]) {
            result.Ran = result.Passed = true;
            result.Line = "unchanged";
        }
        results.push_back(result);
    }
    std::vector<std::size_t> planned(Steps.size()), done(Steps.size());
    for (const std::size_t step : StageSteps)
        ++planned[step];
    for (std::size_t s = 0; s < outcome.Stages.size() && s < StageSteps.size(); ++s) {
        const std::size_t k = StageSteps[s];
        const TStageOutcome& stage = outcome.Stages[s];
        TStepResult& result = results[k];
        result.Ran = true;
        result.Status = stage.Status;
        result.Cancelled = stage.Cancelled;
        result.Line = WithHexOffset(stage.Line);
        result.Passed = stage.Succeeded() && ++done[k] == planned[k];
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
    const std::size_t step = StageSteps[stageNumber - 1];
    const auto first = std::find(StageSteps.begin(), StageSteps.end(), step);
    const auto before = static_cast<int>(StageSteps.begin() + static_cast<std::ptrdiff_t>(stageNumber - 1) - first);
    const auto stages = static_cast<int>(std::count(StageSteps.begin(), StageSteps.end(), step));
    return {Steps[step].Title, (before * 100 + stagePercent) / stages};
}

std::string TResolvedJob::EraseRefusal() const
{
    for (const TJobStepPlan& step : Steps) {
        const TJobRegion& region = Catalogue.Regions[step.RegionIndex];
        if (std::string refusal = lindprog::EraseRefusal(step.Operation, region.Name, region.Flags); !refusal.empty())
            return step.Title + ": " + refusal;
    }
    return {};
}

TJobCatalogue ReadJobCatalogue(const TJob& job, TConnection& connection)
{
    const std::vector<std::string> devices = RecordNames(connection.Devices());
    const int index = job.Device.Find(devices);
    if (index < 0)
        throw TJobError(job.Path, "device",
                        "the adapter offers no device '" + job.Device.Text() + "'; it offers: " + Listed(devices));
    if (index != connection.SelectedDevice())
        connection.SelectDevice(index);
    TJobCatalogue catalogue;
    catalogue.DeviceIndex = static_cast<std::uint8_t>(index);
    catalogue.DeviceName = devices[static_cast<std::size_t>(index)];
    for (const auto& region : connection.Regions())
        catalogue.Regions.push_back({region.Name(), region.Size(), region.Flags()});
    catalogue.Voltages = connection.Voltages();
    catalogue.DefaultVoltageCode = connection.VoltageCode();
    return catalogue;
}

TResolvedJob ResolveJob(const TJob& job, const TJobImages& images, const TJobCatalogue& catalogue)
{
    TResolvedJob resolved;
    resolved.Job = job;
    resolved.Catalogue = catalogue;
    resolved.VoltageCode = ChooseVoltage(job, catalogue);
    for (std::size_t k = 0; k < job.Steps.size(); ++k)
        resolved.Steps.push_back(ResolveStep(job, job.Steps[k], images.ByStep[k], catalogue));
    if (job.Serial)
        ResolveSerial(job, resolved);
    return resolved;
}

std::string JobCheckText(const TJob& job, const TJobImages& images, const TResolvedJob* resolved)
{
    std::string text = "Job '" + job.Name + "' (" + job.Path + "), hash " + images.Hash + "\n";
    text += "Device: " + (resolved ? resolved->Catalogue.DeviceName : job.Device.Text());
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
        text +=
            Format("Serial: %s at 0x%llX of region '%s', from %llu step %llu, database %s\n",
                   rule.Format.Text().c_str(), static_cast<unsigned long long>(rule.Offset), rule.Region.Text().c_str(),
                   static_cast<unsigned long long>(rule.Start), static_cast<unsigned long long>(rule.Step),
                   (rule.Database.empty() ? DefaultDatabasePath(job) : rule.Database).c_str());
    }
    if (!resolved)
        text += "Region sizes and the placed images' CRCs follow from the adapter's catalogue.\n";
    return text;
}

} // namespace lindprog
