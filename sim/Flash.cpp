#include "Flash.h"

#include <algorithm>

namespace lindprog::sim {

TFlash::TRegionState TFlash::BuildRegion(const TRegionSpec& definition)
{
    TRegionState state;
    state.Definition = definition;
    state.Definition.Contents.clear();
    state.Definition.ReadErrors.clear();
    state.Bytes.assign(definition.Size, definition.Fill);
    for (const auto& content : definition.Contents) {
        // The parser rejects contents that do not fit; one built in code is cut off.
        if (content.Offset >= state.Bytes.size())
            continue;
        const std::size_t fits = std::min(content.Bytes.size(), state.Bytes.size() - content.Offset);
        std::copy_n(content.Bytes.begin(), fits, state.Bytes.begin() + content.Offset);
    }
    state.ReadErrors = definition.ReadErrors;
    return state;
}

TFlash::TFlash(const std::vector<TDeviceSpec>& devices)
{
    for (const auto& device : devices) {
        TDeviceState state;
        state.Definition = device;
        state.Definition.Regions.clear();
        for (const auto& region : device.Regions)
            state.Regions.push_back(BuildRegion(region));
        Devices.push_back(std::move(state));
    }
}

std::size_t TFlash::RegionCount(std::size_t device) const
{
    return device < Devices.size() ? Devices[device].Regions.size() : 0;
}

bool TFlash::Exists(std::size_t device, std::size_t region) const
{
    return region < RegionCount(device);
}

const TRegionSpec& TFlash::Region(std::size_t device, std::size_t region) const
{
    return Devices[device].Regions[region].Definition;
}

bool TFlash::InRange(std::size_t device, std::size_t region, std::uint32_t offset, std::size_t count) const
{
    if (!Exists(device, region))
        return false;
    return static_cast<std::uint64_t>(offset) + count <= Region(device, region).Size;
}

std::span<const std::uint8_t> TFlash::Bytes(std::size_t device, std::size_t region) const
{
    return Devices[device].Regions[region].Bytes;
}

std::span<std::uint8_t> TFlash::Bytes(std::size_t device, std::size_t region)
{
    return Devices[device].Regions[region].Bytes;
}

void TFlash::Erase(std::size_t device, std::size_t region)
{
    auto bytes = Bytes(device, region);
    std::fill(bytes.begin(), bytes.end(), Erased);
}

void TFlash::EraseDevice(std::size_t device)
{
    for (std::size_t region = 0; region < RegionCount(device); ++region)
        Erase(device, region);
}

std::optional<TReadErrorSpec> TFlash::TakeReadError(std::size_t device, std::size_t region, std::uint32_t offset,
                                                    std::size_t count)
{
    const std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
    for (auto& error : Devices[device].Regions[region].ReadErrors) {
        if (error.Times == 0 || error.Offset < offset || error.Offset >= end)
            continue;
        if (error.Times > 0)
            --error.Times;
        return error;
    }
    return std::nullopt;
}

} // namespace lindprog::sim
