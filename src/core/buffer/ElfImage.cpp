#include "core/buffer/ElfImage.h"

#include "core/base/TextFormat.h"

#include <cstddef>
#include <limits>
#include <string>

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
    std::size_t Offset, PAddr, FileSize, Width;
};

constexpr TLayout Layout32{52, 28, 4, 42, 44, 32, 4, 12, 16, 4};
constexpr TLayout Layout64{64, 32, 8, 54, 56, 56, 8, 24, 32, 8};

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

} // namespace

TImage ParseElfImage(std::span<const std::uint8_t> bytes)
{
    bool bigEndian = false;
    const TLayout& layout = CheckHeader(bytes, bigEndian);
    const TFields fields(bytes, bigEndian);
    const std::uint64_t fileSize = bytes.size();
    const std::uint64_t tableOffset = fields.Get(layout.PhOff, layout.PhOffWidth);
    const std::uint64_t entrySize = fields.Get(layout.PhEntSize, 2);
    const std::uint64_t count = fields.Get(layout.PhNum, 2);
    if (count == 0)
        Fail("no program headers: an object file, not a linked image");
    if (count == ExtendedCount)
        Fail("more program headers than the ELF header can count");
    if (entrySize < layout.EntrySize)
        Fail(Format("program header entries of %llu bytes, %zu needed", Ull(entrySize), layout.EntrySize));
    // At most 65535 entries of 65535 bytes: the product cannot wrap.
    const std::uint64_t tableSize = count * entrySize;
    if (tableOffset > fileSize || tableSize > fileSize - tableOffset)
        Fail(Format("program header table at 0x%llX, %llu bytes, beyond the file's %llu bytes", Ull(tableOffset),
                    Ull(tableSize), Ull(fileSize)));
    TImageBuilder builder(TImageFormat::Elf);
    for (std::size_t index = 0; index < count; ++index) {
        const auto entry = static_cast<std::size_t>(tableOffset + index * entrySize);
        if (fields.Get(entry, 4) != SegmentLoad)
            continue;
        const std::uint64_t offset = fields.Get(entry + layout.Offset, layout.Width);
        const std::uint64_t size = fields.Get(entry + layout.FileSize, layout.Width);
        const std::uint64_t address = fields.Get(entry + layout.PAddr, layout.Width);
        if (size == 0)
            continue;
        if (offset > fileSize || size > fileSize - offset)
            FailSegment(index, Format("offset+size 0x%llX+0x%llX beyond the file's %llu bytes", Ull(offset), Ull(size),
                                      Ull(fileSize)));
        if (address > std::numeric_limits<std::uint64_t>::max() - size)
            FailSegment(index, Format("address 0x%llX + size 0x%llX runs past the end of the address space",
                                      Ull(address), Ull(size)));
        builder.Add(address, bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size)), index);
    }
    return builder.Take();
}

} // namespace lindprog
