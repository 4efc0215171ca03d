#pragma once

// Contents of every region of every device on the simulated target, plus the
// read faults planted at particular offsets.

#include "Scenario.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lindprog::sim {

inline constexpr std::uint32_t FlagRead = 1;
inline constexpr std::uint32_t FlagWrite = 2;
inline constexpr std::uint32_t FlagErase = 4;
inline constexpr std::uint32_t FlagUnlock = 8;
inline constexpr std::uint8_t Erased = 0xFF;

class TFlash {
public:
    explicit TFlash(const std::vector<TDeviceSpec>& devices);

    std::size_t DeviceCount() const { return Devices.size(); }
    std::size_t RegionCount(std::size_t device) const;
    bool Exists(std::size_t device, std::size_t region) const;
    const TDeviceSpec& Device(std::size_t device) const { return Devices[device].Definition; }
    const TRegionSpec& Region(std::size_t device, std::size_t region) const;

    // Range helpers take 64-bit arithmetic so offset + count cannot wrap.
    bool InRange(std::size_t device, std::size_t region, std::uint32_t offset, std::size_t count) const;
    std::span<const std::uint8_t> Bytes(std::size_t device, std::size_t region) const;
    std::span<std::uint8_t> Bytes(std::size_t device, std::size_t region);
    void Erase(std::size_t device, std::size_t region);
    void EraseDevice(std::size_t device);

    // The first planted read error inside [offset, offset + count) that still
    // has turns left; using it counts one turn.
    std::optional<TReadErrorSpec> TakeReadError(std::size_t device, std::size_t region, std::uint32_t offset,
                                                std::size_t count);

private:
    struct TRegionState {
        TRegionSpec Definition; // Contents and ReadErrors are moved out into the fields below
        std::vector<std::uint8_t> Bytes;
        std::vector<TReadErrorSpec> ReadErrors;
    };
    struct TDeviceState {
        TDeviceSpec Definition; // regions moved out
        std::vector<TRegionState> Regions;
    };

    static TRegionState BuildRegion(const TRegionSpec& definition);

    std::vector<TDeviceState> Devices;
};

} // namespace lindprog::sim
