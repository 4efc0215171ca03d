#pragma once
// The adapter's catalogue records, kept byte for byte as the adapter sent
// them, with readers for the fields the program uses. The layouts are the
// link's (ReplyLayout.h), where the requests that fetch the records read them.

#include "core/link/AdapterCommands.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lindprog {

namespace RegionFlag {
constexpr std::uint32_t Read = 1; // also verify and blank check
constexpr std::uint32_t Write = 2;
constexpr std::uint32_t Erase = 4;
constexpr std::uint32_t Unlock = 8;
} // namespace RegionFlag

struct TDeviceInfo {
    TDeviceRecord Raw{};

    std::string Name() const { return DeviceRecord::Name.From(Raw); }
    std::uint32_t Voltages() const { return DeviceRecord::Voltages.From(Raw); }
    std::int32_t RegionCount() const { return DeviceRecord::RegionCount.From(Raw); }
};

struct TRegionInfo {
    TRegionRecord Raw{};

    std::string Name() const { return RegionRecord::Name.From(Raw); }
    std::uint32_t Flags() const { return RegionRecord::Flags.From(Raw); }
    std::uint32_t Size() const { return RegionRecord::Size.From(Raw); }
};

// The names of a device or region list, in its order: what the lists show.
std::vector<std::string> RecordNames(const auto& records)
{
    std::vector<std::string> names;
    for (const auto& record : records)
        names.push_back(record.Name());
    return names;
}

struct TVoltageEntry {
    std::string Text;      // "3.3 V", as the list shows it
    std::uint8_t Code = 0; // what the start request carries
    std::string Value;     // "3.3": how scripts and job files name it
};

// One entry per set bit of the mask, in the fixed order 3.3 V, 5.0 V, 3+5 V;
// the code is the position in that order plus one, not in the list.
std::vector<TVoltageEntry> VoltageEntries(std::uint32_t mask);

} // namespace lindprog
