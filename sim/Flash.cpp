#include "Flash.h"

#include <algorithm>

namespace lindprog::sim {

TFlash::TRegionState TFlash::BuildRegion(const TRegionSpec& definition)
{
    TRegionState state;
    state.definition = definition;
    state.definition.contents.clear();
    state.definition.read_errors.clear();
    state.bytes.assign(definition.size, definition.fill);
    for (const auto& content : definition.contents) {
        // The parser rejects contents that do not fit; one built in code is cut off.
        if (content.offset >= state.bytes.size())
            continue;
        const std::size_t fits
            = std::min(content.bytes.size(), state.bytes.size() - content.offset);
        std::copy_n(content.bytes.begin(), fits, state.bytes.begin() + content.offset);
    }
    state.read_errors = definition.read_errors;
    return state;
}

TFlash::TFlash(const std::vector<TDeviceSpec>& devices)
{
    for (const auto& device : devices) {
        TDeviceState state;
        state.definition = device;
        state.definition.regions.clear();
        for (const auto& region : device.regions)
            state.regions.push_back(BuildRegion(region));
        devices_.push_back(std::move(state));
    }
}

std::size_t TFlash::RegionCount(std::size_t device) const
{
    return device < devices_.size() ? devices_[device].regions.size() : 0;
}

bool TFlash::Exists(std::size_t device, std::size_t region) const
{
    return region < RegionCount(device);
}

const TRegionSpec& TFlash::Region(std::size_t device, std::size_t region) const
{
    return devices_[device].regions[region].definition;
}

bool TFlash::InRange(
    std::size_t device, std::size_t region, std::uint32_t offset, std::size_t count) const
{
    if (!Exists(device, region))
        return false;
    return static_cast<std::uint64_t>(offset) + count <= Region(device, region).size;
}

std::span<const std::uint8_t> TFlash::Bytes(std::size_t device, std::size_t region) const
{
    return devices_[device].regions[region].bytes;
}

std::span<std::uint8_t> TFlash::Bytes(std::size_t device, std::size_t region)
{
    return devices_[device].regions[region].bytes;
}

void TFlash::Erase(std::size_t device, std::size_t region)
{
    auto bytes = Bytes(device, region);
    std::fill(bytes.begin(), bytes.end(), kErased);
}

void TFlash::EraseDevice(std::size_t device)
{
    for (std::size_t region = 0; region < RegionCount(device); ++region)
        Erase(device, region);
}

std::optional<TReadErrorSpec> TFlash::TakeReadError(
    std::size_t device, std::size_t region, std::uint32_t offset, std::size_t count)
{
    const std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
    for (auto& error : devices_[device].regions[region].read_errors) {
        if (error.times == 0 || error.offset < offset || error.offset >= end)
            continue;
        if (error.times > 0)
            --error.times;
        return error;
    }
    return std::nullopt;
}

} // namespace lindprog::sim
