#include "core/ops/AdapterReport.h"

#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/link/AdapterCommands.h"
#include "core/ops/Operation.h"

namespace lindprog {

std::string ModeName(std::uint8_t mode)
{
    if (mode == ModeApplication)
        return "application";
    return mode == ModeBootloader ? "bootloader" : "unknown (" + std::to_string(mode) + ")";
}

std::string AdapterReportText(const TAdapterReport& report)
{
    std::string text = "Adapter:  " + ShowControlCharacters(report.Identity) + "\n" +
                       Format("Firmware: v%d.%d\n", report.VersionMajor, report.VersionMinor) +
                       "Mode:     " + ModeName(report.Mode) + "\n" + "Key:      " + report.Key;
    for (std::size_t d = 0; d < report.Devices.size(); ++d) {
        const TDeviceTarget& device = report.Devices[d];
        std::vector<std::string> voltages;
        for (const auto& entry : device.Voltages)
            voltages.push_back(entry.Value);
        text += Format("\nDevice %zu: ", d) + ShowControlCharacters(device.DeviceName) +
                " (output voltage: " + Joined(voltages) + ")";
        for (std::size_t r = 0; r < device.Regions.size(); ++r) {
            const TTargetRegion& region = device.Regions[r];
            text += Format("\n  Region %zu: ", r) + ShowControlCharacters(region.Name) +
                    Format(", %u bytes (0x%X), flags 0x%X: ", region.Size, region.Size, region.Flags) +
                    Joined(AllowedCommands(region.Flags));
        }
    }
    return text;
}

} // namespace lindprog
