// Job files, backups' manifests among them, read as lindprog-cli reads them.
// They are written by hand, or come in a backup folder from another bench,
// so every mistake must end in a TJobError that names the file, never in
// another exception, a crash or a job that breaks the rules its readers
// rely on.
//
// Rules: only TJobError leaves ParseJob, with a message; a job that parses
// has at least one step, a name, and a backup whose regions fit its region
// count and carry a SHA-256 of 64 hex digits.

#include "core/production/Job.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog;
    using namespace lindprog::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TJob job;
    try {
        job = ParseJob(text, "/fuzz/job.toml");
    } catch (const TJobError& error) {
        Expect(std::string_view(error.what()).starts_with("/fuzz/job.toml: "), "an error names the file");
        return 0;
    }
    Expect(!job.Steps.empty() && !job.Name.empty(), "a job has a name and a step");
    if (job.Backup)
        for (const TBackupRegion& region : job.Backup->Regions)
            Expect(region.Sha256.size() == 64 && region.Index <= 255, "a backup's region is whole");
    return 0;
}
