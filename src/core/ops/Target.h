#pragma once
// Where an operation runs, as a script, a job or the command line names it:
// a device and a region by name or by index, and an output voltage, found in
// the adapter's catalogue. One resolver for every front end, so a name the
// adapter does not offer is refused with the same words everywhere, and the
// words say what it does offer. Names in those words show their control
// characters escaped: an adapter's or a job's name must not reach a terminal
// as an escape sequence or forge a line.

#include "core/link/AdapterCommands.h"
#include "core/ops/Catalogue.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lindprog {

// A device or region as a user names it: an exact name, or an index from 0
// (an integer in a job file, or a string of digits that matches no name).
struct TEntryChoice {
    std::string Name;
    std::optional<std::size_t> Index;

    // The entry's position in `names`; -1 when none matches.
    int Find(const std::vector<std::string>& names) const;
    std::string Text() const { return Index ? std::to_string(*Index) : Name; }
};

// What the adapter does not offer; Place is "device", "region", "voltage"
// or "operation", and what() says what it offers instead. Catalogue: the
// adapter's own lists leave nothing to choose (no region, one too large).
class TTargetError : public std::runtime_error {
public:
    static constexpr const char* Catalogue = "catalogue";
    TTargetError(std::string place, const std::string& problem);
    std::string Place;
};

struct TTargetRegion {
    std::string Name;
    std::uint32_t Size = 0;
    std::uint32_t Flags = 0;
};

// One device of the adapter's catalogue with its regions and voltages.
struct TDeviceTarget {
    std::uint8_t DeviceIndex = 0;
    std::string DeviceName;
    std::vector<TTargetRegion> Regions;
    std::vector<TVoltageEntry> Voltages;
    std::uint8_t DefaultVoltageCode = 0; // when nothing names one: the first offered
    std::uint32_t VoltageMask = 0;       // the voltages as the device's record gives them

    std::vector<std::string> RegionNames() const;
    // Each throws TTargetError.
    std::uint8_t FindRegion(const TEntryChoice& choice) const;
    // The code of the voltage named ("3.3", "5.0", "3+5"), the default for none.
    std::uint8_t VoltageCode(const std::optional<std::string>& value) const;
    // That the region allows `command` (its name as a user gives it).
    void CheckAllows(std::uint8_t region, TOperation operation, const std::string& command) const;
};

// Device `index` of the catalogue with its regions.
TDeviceTarget DeviceTargetOf(const TDeviceInfo& device, std::uint8_t index, const std::vector<TRegionInfo>& regions);
// The index `choice` names among the devices; throws TTargetError.
std::uint8_t FindDevice(const std::vector<TDeviceInfo>& devices, const TEntryChoice& choice);

// Why a region is refused before anything is allocated for it.
std::string RegionTooLarge(const std::string& name, std::uint32_t size);

// "read, verify", or "none".
std::string Joined(const std::vector<std::string>& items);
// "0 'Code flash', 1 'Data flash'", or "none".
std::string ListedEntries(const std::vector<std::string>& names);

} // namespace lindprog
