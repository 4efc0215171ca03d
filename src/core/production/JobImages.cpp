#include "core/production/JobImages.h"

#include "core/base/TextFormat.h"
#include "core/buffer/FileAccess.h"

#include <cstdio>

namespace lindprog {

namespace {

// Text formats take about three times the bytes they hold; no region is
// larger than 256 MiB, so a larger file cannot be a job's image.
constexpr std::uint64_t MaxImageFileSize = 1024ull * 1024 * 1024;

// FNV-1a, 64 bits: enough to tell jobs apart in the records; nobody forges
// the file on a station's disk to collide with another.
class THash {
public:
    void Add(std::span<const std::uint8_t> bytes)
    {
        for (const std::uint8_t byte : bytes)
            Value = (Value ^ byte) * 0x100000001b3ull;
    }
    std::string Text() const
    {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(Value));
        return text;
    }

private:
    std::uint64_t Value = 0xcbf29ce484222325ull;
};

std::vector<std::uint8_t> ReadImageFile(const TJob& job, const TJobStep& step)
{
    const std::string place = "step[" + std::to_string(step.Number) + "].image";
    TFileReader file(step.Image);
    if (!file.IsOpen())
        throw TJobError(job.Path, place, step.Image + ": " + file.Failure());
    if (file.Size() > MaxImageFileSize)
        throw TJobError(job.Path, place, step.Image + ": larger than 1 GiB, no image of a region");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
    const auto read = file.ReadUpTo(bytes);
    if (!read)
        throw TJobError(job.Path, place, step.Image + ": " + file.Failure());
    bytes.resize(*read);
    return bytes;
}

TJobImage ParseStepImage(const TJob& job, const TJobStep& step, std::span<const std::uint8_t> bytes)
{
    const std::string place = "step[" + std::to_string(step.Number) + "].image";
    TJobImage image;
    image.FileSize = bytes.size();
    try {
        image.Image = ParseImage(bytes);
    } catch (const TImageError& error) {
        throw TJobError(job.Path, place, step.Image + ": " + error.what());
    }
    if (step.Base && image.Image.ByteCount() > 0 && image.Image.Lowest() < *step.Base)
        throw TJobError(job.Path, place,
                        step.Image + Format(": starts at 0x%llX, below base 0x%llX",
                                            static_cast<unsigned long long>(image.Image.Lowest()),
                                            static_cast<unsigned long long>(*step.Base)));
    return image;
}

} // namespace

TJobImages ReadJobImages(const TJob& job)
{
    TJobImages images;
    THash hash;
    hash.Add(std::span(reinterpret_cast<const std::uint8_t*>(job.Source.data()), job.Source.size()));
    for (const TJobStep& step : job.Steps) {
        const bool input = !step.Image.empty() && (step.Compare || SendsImage(step.Operation));
        if (!input) {
            images.ByStep.emplace_back();
            continue;
        }
        const std::vector<std::uint8_t> bytes = ReadImageFile(job, step);
        hash.Add(bytes);
        images.ByStep.emplace_back(ParseStepImage(job, step, bytes));
    }
    images.Hash = hash.Text();
    return images;
}

} // namespace lindprog
