#pragma once
// Where each field sits in the replies the program reads past their first
// bytes: the catalogue records, the start-operation reply, the bootloader's
// application area and the JTAG scan. Offsets count from the reply's data
// (after the echo and status bytes); numbers are little-endian. Every layout
// lives here, so no caller reads a reply at an offset of its own, and the
// size a reply must carry follows from its last field.
//
// A reader reads its field from the bytes it is handed; the checked parsers
// (CheckReply) hand it only replies that reach the field.

#include "core/base/LittleEndian.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

namespace lindprog {

// A zero-terminated text at the start of `data`, never read past its end.
std::string ReadReplyText(std::span<const std::uint8_t> data);

// A little-endian number of type TValue at Offset.
template <typename TValue>
struct TField {
    static_assert(std::is_same_v<TValue, std::uint16_t> || std::is_same_v<TValue, std::uint32_t> ||
                  std::is_same_v<TValue, std::int32_t>);
    std::size_t Offset = 0;

    constexpr std::size_t End() const { return Offset + sizeof(TValue); }
    TValue From(std::span<const std::uint8_t> bytes) const
    {
        if constexpr (std::is_same_v<TValue, std::uint16_t>)
            return GetU16LE(bytes, Offset);
        else if constexpr (std::is_same_v<TValue, std::uint32_t>)
            return GetU32LE(bytes, Offset);
        else
            return GetI32LE(bytes, Offset);
    }
};

// Adapter text of at most Width bytes at Offset: it ends at its first zero,
// or after Width characters when it fills the field.
struct TTextField {
    std::size_t Offset = 0;
    std::size_t Width = 0;

    constexpr std::size_t End() const { return Offset + Width; }
    std::string From(std::span<const std::uint8_t> bytes) const { return ReadReplyText(bytes.subspan(Offset, Width)); }
};

constexpr std::size_t RecordNameSize = 64;

// The device record the adapter's catalogue holds for each target type.
namespace DeviceRecord {
constexpr TTextField Name{0, RecordNameSize};
constexpr TField<std::uint32_t> Voltages{64}; // bit mask: 3.3 V, 5.0 V, 3+5 V
// Bytes 68..71 hold a value the record keeps and the program never reads.
constexpr TField<std::int32_t> RegionCount{72}; // 0 or less: none
} // namespace DeviceRecord
constexpr std::size_t DeviceRecordSize = DeviceRecord::RegionCount.End();

// One memory region of a device.
namespace RegionRecord {
constexpr TTextField Name{0, RecordNameSize};
constexpr TField<std::uint32_t> Flags{64}; // RegionFlag bits
constexpr TField<std::uint32_t> Size{68};  // bytes; the buffer is made this size
} // namespace RegionRecord
constexpr std::size_t RegionRecordSize = RegionRecord::Size.End();

// The start-operation reply: four values the adapter detected on the JTAG
// chain, then a text of information lines separated by '|', which may be
// empty or missing.
namespace StartReply {
constexpr std::size_t ValueCount = 4;
constexpr TField<std::uint32_t> Value(std::size_t index)
{
    return {4 * index};
}
constexpr std::size_t TextOffset = Value(ValueCount - 1).End();
} // namespace StartReply
constexpr std::size_t StartOperationValuesSize = StartReply::TextOffset;

// The bootloader's answer to EnterBootloader: the application area and its
// flash page size, logged only.
namespace BootloaderReply {
constexpr TField<std::uint32_t> Start{0};
constexpr TField<std::uint32_t> End{4};
constexpr TField<std::uint16_t> PageSize{8};
} // namespace BootloaderReply
constexpr std::size_t BootloaderAreaSize = BootloaderReply::PageSize.End();

// The JTAG scan: a head with the chain's device count and its total
// instruction-register length, then the ID of each of the first ten devices.
namespace JtagScanReply {
constexpr TField<std::uint32_t> DeviceCount{0};
constexpr TField<std::uint32_t> IrLength{4};
constexpr std::size_t MaxIds = 10;
constexpr TField<std::uint32_t> Id(std::size_t index)
{
    return {IrLength.End() + 4 * index};
}
} // namespace JtagScanReply
constexpr std::size_t JtagScanHeadSize = JtagScanReply::IrLength.End();

} // namespace lindprog
