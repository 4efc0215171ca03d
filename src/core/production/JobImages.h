#pragma once
// The images a job's steps send or check, read from disk and parsed before
// any adapter is asked anything: a missing or broken file stops the job at
// once, by step and key, not halfway through a board. Placing them needs the
// regions' sizes and happens in JobPlan.

#include "core/buffer/ImageFile.h"
#include "core/production/Job.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

struct TJobImage {
    TImage Image; // a raw file is one segment at 0
    std::size_t FileSize = 0;
};

struct TJobImages {
    // One entry per step, in step order; empty for a step without an input
    // image (a read saves into its image instead).
    std::vector<std::optional<TJobImage>> ByStep;
    // Sixteen hex digits over the job file and every input image, in step
    // order: the records say which exact job made each unit.
    std::string Hash;
};

// Reads and parses every input image. Throws TJobError ("step[2].image: ...").
TJobImages ReadJobImages(const TJob& job);

} // namespace lindprog
