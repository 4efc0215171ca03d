#include "core/link/PortNames.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace lindprog {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Every 8250-style ttyS device exists whether or not a UART sits behind it;
// only those the driver reports a UART type for are real ports.
bool IsRealLegacyUart(const fs::path& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

bool IsSerialDeviceName(const std::string& name)
{
    return StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM") || StartsWith(name, "ttyAMA") ||
           StartsWith(name, "rfcomm");
}

} // namespace

TPortNames::TPortNames(fs::path assignmentsFile, fs::path devRoot)
    : AssignmentsFile(std::move(assignmentsFile)), DevRoot(std::move(devRoot))
{
    LoadAssignments();
}

std::optional<std::string> TPortNames::EnvironmentPath(int number)
{
    const std::string name = "LINDPROG_COM" + std::to_string(number);
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> TPortNames::DevicePath(int number)
{
    if (auto fromEnvironment = EnvironmentPath(number))
        return fromEnvironment;
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

std::vector<TPortEntry> TPortNames::EnvironmentPorts()
{
    static const std::string prefix = "LINDPROG_COM";
    std::vector<TPortEntry> entries;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        const std::string text = *variable;
        const std::size_t equals = text.find('=');
        if (!StartsWith(text, prefix) || equals == std::string::npos)
            continue;
        const std::string digits = text.substr(prefix.size(), equals - prefix.size());
        const std::string path = text.substr(equals + 1);
        // Only what DevicePath would resolve: plain decimal digits, no sign,
        // no leading zero, a number that fits.
        const bool decimal = !digits.empty() && digits.size() <= 9 && digits[0] != '0' &&
                             std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!decimal || path.empty())
            continue;
        entries.push_back({std::stoi(digits), text.substr(0, equals), path, true});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TPortEntry& a, const TPortEntry& b) { return a.Number < b.Number; });
    return entries;
}

std::vector<TPortEntry> TPortNames::AvailablePorts()
{
    std::vector<TPortEntry> entries = EnvironmentPorts();
    std::set<int> mapped;
    for (const auto& entry : entries)
        mapped.insert(entry.Number);
    for (auto& port : SystemPorts())
        if (!mapped.contains(port.Number))
            entries.push_back(std::move(port));
    std::stable_sort(entries.begin(), entries.end(),
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
    for (const auto& entry : fs::directory_iterator(DevRoot, error)) {
        const std::string name = entry.path().filename().string();
        const bool candidate = IsSerialDeviceName(name) || (StartsWith(name, "ttyS") && IsRealLegacyUart(entry.path()));
        if (!candidate || coveredDevices.contains(entry.path().string()))
            continue;
        plain.push_back({entry.path().string(), entry.path().string()});
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

fs::path TPortNames::DefaultAssignmentsFile()
{
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = fs::path(home) / ".config";
    else
        base = fs::temp_directory_path();
    return base / "Fenwick Arl" / "Lindprog-ports.conf";
}

} // namespace lindprog
