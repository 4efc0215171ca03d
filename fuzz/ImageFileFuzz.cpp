// The image files: the input is read as a file (raw, Intel HEX, S-record or
// ELF, whichever its content says) and placed into a buffer, and it is also
// taken as a buffer, written as Intel HEX and as S-records at a base made of
// its first four bytes, and read back.
//
// Rules for reading: only TImageError leaves the readers, naming a line or an
// ELF segment where it names a place; segments hold bytes, at addresses that
// do not wrap, each byte traceable to its line or segment. For placing: an
// image fits the span from its lowest address to its end exactly, with every
// segment's bytes at their address and 0xFF elsewhere, unless two segments
// overlap with different bytes; one byte less room fails; a failure leaves
// the buffer as it was. No image holds more than the largest region, however
// its file repeats itself (an ELF file's program headers can name the same
// bytes 65,534 times), so inputs of a few megabytes are worth trying. For the
// writers: they refuse exactly the buffers that reach past 4 GiB, and what
// they write reads back to the buffer.

#include "core/base/LittleEndian.h"
#include "core/buffer/ImageFile.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace lindprog::fuzz {
namespace {

using TBytes = std::span<const std::uint8_t>;

// Placing allocates the image's whole span; larger ones are read, not placed.
constexpr std::uint64_t LargestPlaced = 256 * 1024;
// Writing and reading back costs several times the input; the large inputs
// are there for the readers.
constexpr std::size_t LargestWritten = 64 * 1024;
constexpr std::uint8_t Untouched = 0x5A;

bool StartsWith(const std::string& text, const char* head)
{
    return text.rfind(head, 0) == 0;
}

bool AllUntouched(const std::vector<std::uint8_t>& buffer)
{
    return std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t byte) { return byte == Untouched; });
}

void CheckSegments(const TImage& image)
{
    std::size_t count = 0;
    for (std::size_t index = 0; index < image.Segments.size(); ++index) {
        const TImageSegment& segment = image.Segments[index];
        const std::size_t size = segment.Bytes.size();
        Expect(size > 0, "no empty segment");
        Expect(segment.Address <= std::numeric_limits<std::uint64_t>::max() - size, "no segment wraps");
        Expect(!segment.Origins.empty() && segment.Origins.front().Offset == 0, "the first byte has an origin");
        for (std::size_t k = 1; k < segment.Origins.size(); ++k)
            Expect(segment.Origins[k - 1].Offset < segment.Origins[k].Offset && segment.Origins[k].Offset < size,
                   "origins in order, inside the segment");
        if (image.Format != TImageFormat::Raw) {
            const char* kind = image.Format == TImageFormat::Elf ? "segment " : "line ";
            Expect(StartsWith(image.Where(index, 0), kind) && StartsWith(image.Where(index, size - 1), kind),
                   "every byte names its line or segment");
        }
        count += size;
    }
    Expect(image.ByteCount() == count, "ByteCount counts the segments' bytes");
    Expect(count <= MaxRegionBytes, "no image holds more than the largest region");
}

void CheckPlacing(const TImage& image)
{
    if (image.Segments.empty())
        return;
    const std::uint64_t lowest = image.Lowest();
    const std::uint64_t extent = image.End() - lowest;
    if (extent > LargestPlaced)
        return;
    std::vector<std::uint8_t> region(extent, Untouched);
    try {
        PlaceImage(image, lowest, region);
    } catch (const TImageError& error) {
        Expect(std::string(error.what()).find("overlaps") != std::string::npos,
               "an image fits its own span unless segments disagree");
        Expect(AllUntouched(region), "a failed placement leaves the buffer alone");
        return;
    }
    std::vector<bool> held(extent);
    for (const TImageSegment& segment : image.Segments) {
        const std::size_t at = segment.Address - lowest;
        Expect(std::equal(segment.Bytes.begin(), segment.Bytes.end(), region.begin() + static_cast<long>(at)),
               "every segment's bytes at its address");
        std::fill_n(held.begin() + static_cast<long>(at), segment.Bytes.size(), true);
    }
    for (std::size_t k = 0; k < extent; ++k)
        Expect(held[k] || region[k] == 0xFF, "0xFF where the image has no byte");

    std::vector<std::uint8_t> tight(extent - 1, Untouched);
    bool refused = false;
    try {
        PlaceImage(image, lowest, tight);
    } catch (const TImageError&) {
        refused = true;
    }
    Expect(refused && AllUntouched(tight), "one byte less room is refused, and changes nothing");

    const auto regionSize = static_cast<std::uint32_t>(std::bit_ceil(extent));
    const std::uint64_t base = DefaultImageBase(image, regionSize);
    Expect(base <= lowest && base % regionSize == 0, "the default base is a region boundary at or below the image");
}

void CheckReading(TBytes file)
{
    TImage image;
    try {
        image = ParseImage(file);
    } catch (const TImageError& error) {
        Expect(error.Where.empty() || StartsWith(error.Where, "line ") || StartsWith(error.Where, "segment "),
               "an error names a line or a segment, or nothing");
        Expect(StartsWith(error.what(), error.Where.c_str()), "the message starts with the place");
        return;
    }
    Expect(image.Format == DetectImageFormat(file), "read as the format its content says");
    if (image.Format == TImageFormat::Raw)
        Expect(image.ByteCount() == file.size() && (file.empty() || image.Segments.front().Address == 0),
               "a raw file is itself at address 0");
    CheckSegments(image);
    CheckPlacing(image);
}

template <typename TWriter>
void CheckRoundTrip(TBytes buffer, std::uint64_t base, TWriter write, TImageFormat format)
{
    std::string text;
    try {
        text = write(buffer, base);
    } catch (const TImageError&) {
        Expect(base + buffer.size() > 0x100000000, "only a buffer past 4 GiB is refused");
        return;
    }
    Expect(base + buffer.size() <= 0x100000000, "a buffer up to 4 GiB is written");
    const TImage image = ParseImage(TBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    Expect(image.Format == format, "written in the format asked for");
    Expect(image.ByteCount() == buffer.size(), "every byte written once");
    std::vector<std::uint8_t> back(buffer.size(), Untouched);
    PlaceImage(image, base, back);
    Expect(std::equal(back.begin(), back.end(), buffer.begin()), "what is written reads back unchanged");
}

} // namespace
} // namespace lindprog::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog;
    using namespace lindprog::fuzz;
    const TBytes input(data, size);
    CheckReading(input);
    if (size > LargestWritten)
        return 0;
    const std::uint64_t base = size >= 4 ? GetU32LE(input, 0) : 0;
    CheckRoundTrip(input, base, WriteIntelHex, TImageFormat::IntelHex);
    CheckRoundTrip(input, base, WriteSRecord, TImageFormat::SRecord);
    return 0;
}
