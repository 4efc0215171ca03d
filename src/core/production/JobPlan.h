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
#include "core/production/Job.h"
#include "core/production/JobImages.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

class TConnection;

struct TJobRegion {
    std::string Name;
    std::uint32_t Size = 0;
    std::uint32_t Flags = 0;
};

// What the adapter lists for the job's device.
struct TJobCatalogue {
    std::uint8_t DeviceIndex = 0;
    std::string DeviceName;
    std::vector<TJobRegion> Regions;
    std::vector<TVoltageEntry> Voltages;
    std::uint8_t DefaultVoltageCode = 0; // when the job names no voltage
};

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
    TJobCatalogue Catalogue;
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
    // is used while this object lives and is not moved. Steps whose index is
    // set in `skip` (a preverified, unchanged region) are left out.
    TPlan Plan(const std::vector<bool>& skip = {});
    // A plan that only verifies step `index`'s region against its buffer:
    // what `preverify` runs first to find a region that needs no writing.
    TPlan PreverifyPlan(std::size_t index);
    // Each step's result from the plan's outcome; compares are done here.
    std::vector<TStepResult> Results(const TPlanOutcome& outcome, const std::vector<bool>& skip = {});
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
    std::vector<std::size_t> StageSteps; // the step index of each stage of the last plan made
};

// The job's device on the connection, chosen there (which reads its regions),
// as a catalogue. Throws TJobError ("device: ...") when the adapter lacks it.
TJobCatalogue ReadJobCatalogue(const TJob& job, TConnection& connection);

// Places and checks everything against the catalogue. Throws TJobError that
// names the step and key ("step[2].image: ...", "serial.offset: ...").
TResolvedJob ResolveJob(const TJob& job, const TJobImages& images, const TJobCatalogue& catalogue);

// The job as `job check` prints it: settings, each step with its region,
// image and CRC, and the serial rule. Without `resolved` (no adapter asked)
// the regions' sizes, and so the placed CRCs, are not known yet.
std::string JobCheckText(const TJob& job, const TJobImages& images, const TResolvedJob* resolved = nullptr);

} // namespace lindprog
