#pragma once
// What an adapter is and offers, for a person or a script to read: its
// identity, firmware, mode and key, and every device with its output
// voltages and regions. lindprog-cli info prints it; scripts get it whole.

#include "core/ops/Target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lindprog {

struct TAdapterReport {
    std::string Identity;
    int VersionMajor = 0;
    int VersionMinor = 0;
    std::uint8_t Mode = 0;
    std::string Key; // eight hex digits
    std::vector<TDeviceTarget> Devices;
};

// "application", "bootloader", or "unknown (N)".
std::string ModeName(std::uint8_t mode);

// The report as lines for a person. Every text that came from the adapter
// shows its control characters escaped; the report itself keeps them exact.
std::string AdapterReportText(const TAdapterReport& report);

} // namespace lindprog
