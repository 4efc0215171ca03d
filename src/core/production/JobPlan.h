#pragma once
// A job made concrete for one adapter: its device and regions found in the
// adapter's catalogue, every image placed into a buffer of its region's size
// and checked (size, placement, expected CRC, serial field), and the whole
// job as one plan for the runner: several regions and steps on one
// connection. All of it happens before any operation starts, so a job that
// cannot run sends nothing to the target.
//
// Each step owns its buffer. Two steps on one region may carry different
// images (program the code, then verify it against a release image), and a
// compare reads into a scratch buffer so the expected bytes stay intact.

#include "core/buffer/Difference.h"
#include "core/ops/Catalogue.h"
#include "core/ops/OperationRunner.h"
#include "core/ops/Target.h"
#include "core/production/Job.h"
#include "core/production/JobImages.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

class TAdapterSession;

struct TJobStepPlan {
    std::size_t Number = 1; // the job's step number, from 1
    std::string Title;      // "step 2 verify"
    std::uint8_t RegionIndex = 0;
    std::vector<std::uint8_t> Buffer;  // the placed image; what a read fills
    std::vector<std::uint8_t> Scratch; // a compare's bytes as read
    std::uint64_t Base = 0;            // address of the region's first byte
    std::uint32_t Crc = 0;             // of Buffer after placement, before a serial number
    bool TakesSerial = false;          // the unit's serial number goes into Buffer
    bool Compare = false;
    TOperation Operation = TOperation::Read;
};

// How one step of a unit went.
struct TStepResult {
    std::size_t Number = 1;
    std::string Title;
    bool Ran = false;
    bool Passed = false;
    bool Cancelled = false;
    std::uint8_t Status = 0; // of its last stage; a compare that differs: PortStatus::CompareError
    std::string Line;        // the last stage's result line, or the comparison's first line
    // A compare that read the region: where it differs, and the report's
    // lines (the ranges, the first bytes with both values, the hint).
    std::optional<TDifferences> Diff;
    std::vector<std::string> Report;
};

class TResolvedJob {
public:
    TJob Job;
    TDeviceTarget Catalogue; // the job's device as the adapter lists it
    std::uint8_t VoltageCode = 0;
    std::vector<TJobStepPlan> Steps;
    std::optional<std::uint8_t> SerialRegion;
    // Program and write send and verify only the blocks holding data and
    // prove the others blank: a board's time follows its image.
    bool SkipErased = true;

    // Writes a unit's number into every buffer of the serial region at the
    // rule's offset. The offset and the width were checked when resolving.
    void SetSerial(std::uint64_t number);
    // The job as one plan: stages point into the steps' buffers, so the plan
    // is used while this object lives and is not moved. A step with
    // preverify starts with a Preverify stage; those come first, so every
    // region found unchanged is known before anything is erased, and the
    // runner leaves that step's other stages out.
    TPlan Plan();
    // Each step's result from the plan's outcome (a step left unchanged by
    // its preverify passes as "unchanged").
    std::vector<TStepResult> Results(const TPlanOutcome& outcome);
    // Where stage stageNumber (from 1) of the last plan made stands: its
    // step's title ("" for none), and how far that step has come with the
    // stage at stagePercent, the step's stages counted alike.
    struct TStepProgress {
        std::string Title;
        int Percent = 0;
    };
    TStepProgress StepProgress(std::size_t stageNumber, int stagePercent) const;
    // A step that writes a region the adapter cannot erase, refused before
    // anything runs: "step 1 program: program erases first; ..."; "" when none.
    std::string EraseRefusal() const;

private:
    struct TStageStep {
        std::size_t Step = 0;
        bool Preverify = false;
    };
    std::vector<TStageStep> StageSteps; // for each stage of the last plan made
};

// The job's device as the session's adapter lists it. Throws TJobError
// ("device: ...") when the adapter lacks it.
TDeviceTarget ReadJobCatalogue(const TJob& job, TAdapterSession& session);

// Places and checks everything against the catalogue. Throws TJobError that
// names the step and key ("step[2].image: ...", "serial.offset: ...").
TResolvedJob ResolveJob(const TJob& job, const TJobImages& images, const TDeviceTarget& catalogue);

// The job as `job check` prints it: settings, each step with its region,
// image and CRC, and the serial rule. Without `resolved` (no adapter asked)
// the regions' sizes, and so the placed CRCs, are not known yet.
std::string JobCheckText(const TJob& job, const TJobImages& images, const TResolvedJob* resolved = nullptr);

} // namespace lindprog
