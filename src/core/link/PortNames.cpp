// What both systems share: the environment's mappings, the pinned paths and
// the list the user chooses from. Finding the system's own ports is in
// PortNamesPosix.cpp and PortNamesWin32.cpp.

#include "core/link/PortNames.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace fs = std::filesystem;

namespace lindprog {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool ByNumber(const TPortEntry& a, const TPortEntry& b)
{
    return a.Number < b.Number;
}

} // namespace

std::optional<std::string> TPortNames::DevicePath(int number)
{
    if (const auto pinned = Pinned.find(number); pinned != Pinned.end())
        return pinned->second;
    if (auto fromEnvironment = EnvironmentPath(number))
        return fromEnvironment;
    return SystemDevicePath(number);
}

std::optional<std::string> TPortNames::EnvironmentPath(int number)
{
    const std::string name = "LINDPROG_COM" + std::to_string(number);
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return std::string(value);
}

std::vector<TPortEntry> TPortNames::EnvironmentPorts()
{
    static const std::string prefix = "LINDPROG_COM";
    std::vector<TPortEntry> entries;
    for (const std::string& text : EnvironmentVariables()) {
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
    std::sort(entries.begin(), entries.end(), ByNumber);
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
    std::stable_sort(entries.begin(), entries.end(), ByNumber);
    return entries;
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
