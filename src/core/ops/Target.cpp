#include "core/ops/Target.h"

#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/ops/Operation.h"

#include <algorithm>
#include <charconv>

namespace lindprog {

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

int TEntryChoice::Find(const std::vector<std::string>& names) const
{
    if (!Index) {
        const auto named = std::find(names.begin(), names.end(), Name);
        if (named != names.end())
            return static_cast<int>(named - names.begin());
        std::size_t index = 0;
        const auto [end, error] = std::from_chars(Name.data(), Name.data() + Name.size(), index);
        if (Name.empty() || error != std::errc() || end != Name.data() + Name.size())
            return -1;
        return index < names.size() ? static_cast<int>(index) : -1;
    }
    return *Index < names.size() ? static_cast<int>(*Index) : -1;
}

TTargetError::TTargetError(std::string place, const std::string& problem)
    : std::runtime_error(problem), Place(std::move(place))
{
}

std::string RegionTooLarge(const std::string& name, std::uint32_t size)
{
    return Format("Region \"%s\" of %u bytes (0x%X) is too large to be held in memory",
                  ShowControlCharacters(name).c_str(), size, size);
}

std::string ListedEntries(const std::vector<std::string>& names)
{
    std::vector<std::string> quoted;
    for (std::size_t k = 0; k < names.size(); ++k)
        quoted.push_back(std::to_string(k) + " '" + ShowControlCharacters(names[k]) + "'");
    return Joined(quoted);
}

std::vector<std::string> TDeviceTarget::RegionNames() const
{
    std::vector<std::string> names;
    for (const auto& region : Regions)
        names.push_back(region.Name);
    return names;
}

std::uint8_t TDeviceTarget::FindRegion(const TEntryChoice& choice) const
{
    const int index = choice.Find(RegionNames());
    if (index < 0)
        throw TTargetError("region", "device '" + ShowControlCharacters(DeviceName) + "' has no region '" +
                                         ShowControlCharacters(choice.Text()) +
                                         "'; its regions: " + ListedEntries(RegionNames()));
    return static_cast<std::uint8_t>(index);
}

std::uint8_t TDeviceTarget::VoltageCode(const std::optional<std::string>& value) const
{
    if (!value)
        return DefaultVoltageCode;
    std::vector<std::string> offered;
    for (const auto& entry : Voltages) {
        if (entry.Value == *value)
            return entry.Code;
        offered.push_back(entry.Value);
    }
    throw TTargetError("voltage", "the device offers no output voltage '" + ShowControlCharacters(*value) +
                                      "'; it offers: " + Joined(offered));
}

void TDeviceTarget::CheckAllows(std::uint8_t region, TOperation operation, const std::string& command) const
{
    const TTargetRegion& info = Regions.at(region);
    if (!TActionState::From(true, info.Flags).Allows(operation))
        throw TTargetError("operation", "region '" + ShowControlCharacters(info.Name) + "' does not allow " + command +
                                            "; it allows: " + Joined(AllowedCommands(info.Flags)));
}

std::uint8_t FindDevice(const std::vector<TDeviceInfo>& devices, const TEntryChoice& choice)
{
    const std::vector<std::string> names = RecordNames(devices);
    const int index = choice.Find(names);
    if (index < 0)
        throw TTargetError("device", "the adapter offers no device '" + ShowControlCharacters(choice.Text()) +
                                         "'; it offers: " + ListedEntries(names));
    return static_cast<std::uint8_t>(index);
}

TDeviceTarget DeviceTargetOf(const TDeviceInfo& device, std::uint8_t index, const std::vector<TRegionInfo>& regions)
{
    TDeviceTarget target;
    target.DeviceIndex = index;
    target.DeviceName = device.Name();
    for (const auto& region : regions)
        target.Regions.push_back({region.Name(), region.Size(), region.Flags()});
    target.Voltages = VoltageEntries(device.Voltages());
    target.DefaultVoltageCode = target.Voltages.empty() ? 0 : target.Voltages.front().Code;
    target.VoltageMask = device.Voltages();
    return target;
}

} // namespace lindprog
