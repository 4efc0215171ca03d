#pragma once
// The adapter's catalogue records, kept byte for byte as the adapter sent
// them, with readers for the fields the program uses.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

constexpr std::size_t DeviceRecordSize = 76;
constexpr std::size_t RegionRecordSize = 72;
constexpr std::size_t RecordNameSize = 64;

namespace RegionFlag {
constexpr std::uint32_t Read = 1; // also verify and blank check
constexpr std::uint32_t Write = 2;
constexpr std::uint32_t Erase = 4;
constexpr std::uint32_t Unlock = 8;
} // namespace RegionFlag

struct TDeviceInfo {
    std::array<std::uint8_t, DeviceRecordSize> Raw{};

    static TDeviceInfo FromReply(std::span<const std::uint8_t> replyData);
    std::string Name() const;
    std::uint32_t Voltages() const;
    std::int32_t RegionCount() const;
};

struct TRegionInfo {
    std::array<std::uint8_t, RegionRecordSize> Raw{};

    static TRegionInfo FromReply(std::span<const std::uint8_t> replyData);
    std::string Name() const;
    std::uint32_t Flags() const;
    std::uint32_t Size() const;
};

struct TVoltageEntry {
    std::string Text;
    std::uint8_t Code = 0; // what the start request carries
};

// One entry per set bit of the mask, in the fixed order 3.3 V, 5.0 V, 3+5 V;
// the code is the position in that order plus one, not in the list.
std::vector<TVoltageEntry> VoltageEntries(std::uint32_t mask);

// Which commands may run, from whether the port is open and the region flags.
struct TActionState {
    bool FirmwareUpdate = false;
    bool Detect = false;
    bool Read = false;
    bool Write = false;
    bool Verify = false;
    bool Erase = false;
    bool BlankCheck = false;
    bool Unlock = false;
    bool Program = false;

    static TActionState From(bool portOpen, std::uint32_t regionFlags);
    bool operator==(const TActionState&) const = default;
};

} // namespace lindprog
