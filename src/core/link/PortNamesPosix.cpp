// The system's ports on Linux: serial devices found in sysfs, numbered in the
// order they are first seen, the numbers kept in the assignments file.

#include "core/link/PortNames.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include <linux/serial.h>

extern char** environ;

namespace fs = std::filesystem;

namespace lindprog {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Reads a small sysfs attribute as a number; nothing when it is absent or not
// a number. Reading an attribute asks the driver, never the device's line.
std::optional<long> ReadNumber(const fs::path& attribute)
{
    std::ifstream in(attribute);
    long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return value;
}

// A tty is a serial port when hardware stands behind it: virtual consoles,
// pseudo-terminals and the console alias have no `device` link. The 8250
// driver is the exception: it makes its ttyS entries whether or not a UART
// answers there, and gives those without one the type PORT_UNKNOWN (0). Where
// a kernel has no type attribute, an entry on the driver's platform
// placeholder is such an empty slot.
bool IsSerialPort(const fs::path& entry)
{
    std::error_code error;
    const fs::path device = entry / "device";
    if (fs::symlink_status(device, error).type() == fs::file_type::not_found)
        return false;
    if (const auto type = ReadNumber(entry / "type"))
        return *type != PORT_UNKNOWN;
    const bool legacy = StartsWith(entry.filename().string(), "ttyS");
    return !legacy || fs::read_symlink(device / "driver", error).filename() != "serial8250";
}

// sysfs writes a '/' of the device's name as '!'.
std::string DeviceNodeName(std::string sysName)
{
    std::replace(sysName.begin(), sysName.end(), '!', '/');
    return sysName;
}

} // namespace

TPortNames::TPortNames(fs::path assignmentsFile, fs::path devRoot, fs::path sysRoot)
    : AssignmentsFile(std::move(assignmentsFile)), DevRoot(std::move(devRoot)), SysRoot(std::move(sysRoot))
{
    LoadAssignments();
}

std::vector<std::string> TPortNames::EnvironmentVariables()
{
    std::vector<std::string> variables;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable)
        variables.emplace_back(*variable);
    return variables;
}

std::optional<std::string> TPortNames::SystemDevicePath(int number)
{
    // A number we have not seen may belong to a device plugged in since the
    // last listing; listing assigns it.
    if (!NumberToKey.contains(number))
        SystemPorts();
    const auto known = NumberToKey.find(number);
    if (known == NumberToKey.end())
        return std::nullopt;
    for (const auto& port : ScanDevices())
        if (port.Key == known->second)
            return port.DevicePath;
    // Assigned before but absent now: the open fails with the path as reason.
    return known->second;
}

std::vector<TPortEntry> TPortNames::SystemPorts()
{
    std::vector<TPortEntry> entries;
    const std::size_t knownBefore = NumberToKey.size();
    for (const auto& port : ScanDevices())
        entries.push_back({AssignNumber(port.Key), port.Key, port.DevicePath});
    if (NumberToKey.size() != knownBefore)
        SaveAssignments();
    std::sort(entries.begin(), entries.end(),
              [](const TPortEntry& a, const TPortEntry& b) { return a.Number < b.Number; });
    return entries;
}

std::vector<TPortNames::TFoundPort> TPortNames::ScanDevices() const
{
    std::vector<TFoundPort> found;
    std::set<std::string> coveredDevices;
    std::error_code error;

    // Stable names first: they survive a replug onto another USB socket.
    const fs::path byId = DevRoot / "serial" / "by-id";
    for (const auto& link : fs::directory_iterator(byId, error)) {
        const fs::path device = fs::canonical(link.path(), error);
        if (error)
            continue;
        found.push_back({link.path().string(), device.string()});
        coveredDevices.insert(device.string());
    }
    const auto byKey = [](const TFoundPort& a, const TFoundPort& b) { return a.Key < b.Key; };
    std::sort(found.begin(), found.end(), byKey);

    std::vector<TFoundPort> plain;
    for (const auto& entry : fs::directory_iterator(SysRoot, error)) {
        if (!IsSerialPort(entry.path()))
            continue;
        const fs::path device = DevRoot / DeviceNodeName(entry.path().filename().string());
        // A port without its node here (a container's /dev, a test's folder)
        // could not be opened anyway.
        std::error_code missing;
        const fs::path node = fs::canonical(device, missing);
        if (missing || coveredDevices.contains(node.string()))
            continue;
        plain.push_back({device.string(), device.string()});
    }
    std::sort(plain.begin(), plain.end(), byKey);
    found.insert(found.end(), plain.begin(), plain.end());
    return found;
}

int TPortNames::AssignNumber(const std::string& key)
{
    for (const auto& [number, knownKey] : NumberToKey)
        if (knownKey == key)
            return number;
    int number = 1;
    while (NumberToKey.contains(number))
        ++number;
    NumberToKey[number] = key;
    return number;
}

void TPortNames::LoadAssignments()
{
    std::ifstream in(AssignmentsFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        int number = 0;
        std::string key;
        if (fields >> number && number > 0 && std::getline(fields >> std::ws, key) && !key.empty())
            NumberToKey[number] = key;
    }
}

void TPortNames::SaveAssignments() const
{
    std::error_code error;
    fs::create_directories(AssignmentsFile.parent_path(), error);
    // Written whole to a side file and renamed, so a crash never leaves the
    // numbering half written.
    const fs::path temporary = AssignmentsFile.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& [number, key] : NumberToKey)
            out << number << ' ' << key << '\n';
        if (!out)
            return;
    }
    fs::rename(temporary, AssignmentsFile, error);
}

bool CanBeAdapter(const TPortEntry& port)
{
    if (port.Mapped || port.Key.find("/serial/by-id/") != std::string::npos)
        return true;
    const std::string name = fs::path(port.DevicePath).filename().string();
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

} // namespace lindprog
