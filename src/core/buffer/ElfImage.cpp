#include "core/buffer/ElfImage.h"

#include "core/base/TextFormat.h"

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace lindprog {
namespace {

// Identification bytes and field values, named as the ELF format names them;
// the offsets differ between the 32- and 64-bit layouts below.
constexpr std::size_t IdentSize = 16;
constexpr std::size_t IdentClass = 4;
constexpr std::size_t IdentData = 5;
constexpr std::uint8_t Class32 = 1;
constexpr std::uint8_t Class64 = 2;
constexpr std::uint8_t DataLittle = 1;
constexpr std::uint8_t DataBig = 2;
constexpr std::uint32_t SegmentLoad = 1;
// A program header count of 0xFFFF means the real count sits in section 0.
constexpr std::uint16_t ExtendedCount = 0xFFFF;

struct TLayout {
    std::size_t HeaderSize;
    std::size_t PhOff, PhOffWidth, PhEntSize, PhNum;
    std::size_t EntrySize;
    std::size_t Offset, PAddr, FileSize, MemSize, Width;
};

constexpr TLayout Layout32{52, 28, 4, 42, 44, 32, 4, 12, 16, 20, 4};
constexpr TLayout Layout64{64, 32, 8, 54, 56, 56, 8, 24, 32, 40, 8};

// A loadable segment's file bytes and where they go, checked.
struct TLoadSegment {
    std::size_t Index;
    std::uint64_t Offset, Size, Address;
};

unsigned long long Ull(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

// Reads fields in the file's byte order; callers have checked the bounds.
class TFields {
public:
    TFields(std::span<const std::uint8_t> bytes, bool bigEndian) : Bytes(bytes), BigEndian(bigEndian) {}
    std::uint64_t Get(std::size_t offset, std::size_t width) const
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t at = BigEndian ? offset + i : offset + width - 1 - i;
            value = value << 8 | Bytes[at];
        }
        return value;
    }

private:
    std::span<const std::uint8_t> Bytes;
    bool BigEndian;
};

[[noreturn]] void Fail(const std::string& problem)
{
    throw TImageError("", problem);
}

[[noreturn]] void FailSegment(std::size_t index, const std::string& problem)
{
    throw TImageError("segment " + std::to_string(index), problem);
}

const TLayout& CheckHeader(std::span<const std::uint8_t> bytes, bool& bigEndian)
{
    if (bytes.size() < IdentSize)
        Fail(Format("truncated: the ELF identification needs %zu bytes, the file has %zu", IdentSize, bytes.size()));
    const std::uint8_t elfClass = bytes[IdentClass];
    if (elfClass != Class32 && elfClass != Class64)
        Fail(Format("ELF class %u unknown", static_cast<unsigned>(elfClass)));
    const std::uint8_t order = bytes[IdentData];
    if (order != DataLittle && order != DataBig)
        Fail(Format("ELF byte order %u unknown", static_cast<unsigned>(order)));
    bigEndian = order == DataBig;
    const TLayout& layout = elfClass == Class32 ? Layout32 : Layout64;
    if (bytes.size() < layout.HeaderSize)
        Fail(Format("truncated: the ELF header needs %zu bytes, the file has %zu", layout.HeaderSize, bytes.size()));
    return layout;
}

// The program header table's place, checked against the file.
struct TTable {
    std::uint64_t Offset, EntrySize, Count;
};

TTable CheckTable(const TFields& fields, const TLayout& layout, std::uint64_t fileSize)
{
    const TTable table{fields.Get(layout.PhOff, layout.PhOffWidth), fields.Get(layout.PhEntSize, 2),
                       fields.Get(layout.PhNum, 2)};
    if (table.Count == 0)
        Fail("no program headers: an object file, not a linked image");
    if (table.Count == ExtendedCount)
        Fail("more program headers than the ELF header can count");
    if (table.EntrySize < layout.EntrySize)
        Fail(Format("program header entries of %llu bytes, %zu needed", Ull(table.EntrySize), layout.EntrySize));
    // At most 65535 entries of 65535 bytes: the product cannot wrap.
    const std::uint64_t tableSize = table.Count * table.EntrySize;
    if (table.Offset > fileSize || tableSize > fileSize - table.Offset)
        Fail(Format("program header table at 0x%llX, %llu bytes, beyond the file's %llu bytes", Ull(table.Offset),
                    Ull(tableSize), Ull(fileSize)));
    return table;
}

// Every loadable segment that holds file bytes, each checked against the file
// and the address space, and all of them together against the largest region,
// before a byte is copied: the table can name the same megabytes thousands of
// times over.
std::vector<TLoadSegment> CheckSegments(const TFields& fields, const TLayout& layout, const TTable& table,
                                        std::uint64_t fileSize)
{
    std::vector<TLoadSegment> segments;
    std::uint64_t total = 0;
    for (std::size_t index = 0; index < table.Count; ++index) {
        const auto entry = static_cast<std::size_t>(table.Offset + index * table.EntrySize);
        if (fields.Get(entry, 4) != SegmentLoad)
            continue;
        const TLoadSegment segment{index, fields.Get(entry + layout.Offset, layout.Width),
                                   fields.Get(entry + layout.FileSize, layout.Width),
                                   fields.Get(entry + layout.PAddr, layout.Width)};
        // A linker never writes more file bytes than the segment occupies in
        // memory; a file that does is damaged or made to mislead.
        const std::uint64_t memorySize = fields.Get(entry + layout.MemSize, layout.Width);
        if (segment.Size > memorySize)
            FailSegment(index, Format("file size 0x%llX larger than its memory size 0x%llX", Ull(segment.Size),
                                      Ull(memorySize)));
        if (segment.Size == 0)
            continue;
        if (segment.Offset > fileSize || segment.Size > fileSize - segment.Offset)
            FailSegment(index, Format("offset+size 0x%llX+0x%llX beyond the file's %llu bytes", Ull(segment.Offset),
                                      Ull(segment.Size), Ull(fileSize)));
        if (segment.Address > std::numeric_limits<std::uint64_t>::max() - segment.Size)
            FailSegment(index, Format("address 0x%llX + size 0x%llX runs past the end of the address space",
                                      Ull(segment.Address), Ull(segment.Size)));
        // Each size is at most the file's and the sum stops at the first to
        // pass the limit, so it cannot wrap.
        total += segment.Size;
        if (total > MaxRegionBytes)
            FailSegment(index, Format("the loadable segments up to here hold %llu bytes, more than the largest "
                                      "region's %zu",
                                      Ull(total), MaxRegionBytes));
        segments.push_back(segment);
    }
    return segments;
}

} // namespace

TImage ParseElfImage(std::span<const std::uint8_t> bytes)
{
    bool bigEndian = false;
    const TLayout& layout = CheckHeader(bytes, bigEndian);
    const TFields fields(bytes, bigEndian);
    const TTable table = CheckTable(fields, layout, bytes.size());
    TImageBuilder builder(TImageFormat::Elf);
    for (const TLoadSegment& segment : CheckSegments(fields, layout, table, bytes.size()))
        builder.Add(segment.Address,
                    bytes.subspan(static_cast<std::size_t>(segment.Offset), static_cast<std::size_t>(segment.Size)),
                    segment.Index);
    return builder.Take();
}

} // namespace lindprog
