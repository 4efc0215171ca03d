#include "core/ops/PortChoice.h"

#include "core/base/UiDispatcher.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/ExitCode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>

namespace lindprog {

namespace {

// Paths given with -p open under numbers no listing hands out.
constexpr int PathPortNumberBase = 100000;

std::vector<TPortEntry> AdapterPorts(TPortNames& names)
{
    std::vector<TPortEntry> ports = names.AvailablePorts();
    std::erase_if(ports, [](const TPortEntry& port) { return !CanBeAdapter(port); });
    return ports;
}

std::string ListOf(const std::vector<TPortEntry>& ports)
{
    std::string list;
    for (const auto& port : ports)
        list += (list.empty() ? "" : ", ") + ("COM" + std::to_string(port.Number)) + " (" + port.DevicePath + ")";
    return list.empty() ? "none" : list;
}

// "COM12" (any case) -> 12; 0 when the text is no port number.
int ComNumber(const std::string& text)
{
    if (text.size() < 4 || text.size() > 12)
        return 0;
    std::string head = text.substr(0, 3);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::toupper(c); });
    const std::string digits = text.substr(3);
    if (head != "COM" || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return 0;
    return digits.size() <= 9 ? std::stoi(digits) : 0;
}

constexpr const char* KeyPrefix = "key:";

bool SameKey(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

// The key of the adapter on a port (command 6), asked on an endpoint of its
// own that is closed again before any session opens the port; "" when no
// adapter answers there.
std::string AdapterKeyOn(const TPortEntry& port, TPortNames& names)
{
    TQueueDispatcher dispatcher;
    TDevicePort device(names, dispatcher);
    if (!device.Open(port.Number))
        return {};
    const bool answered = device.GetKey();
    device.Close();
    dispatcher.RunPending();
    return answered ? device.KeyText() : std::string();
}

// -p key:K: the serial port whose adapter has key K.
std::optional<TPortChoice> PortWithKey(const std::string& key, TPortNames& names, std::string& error)
{
    std::vector<std::string> found;
    for (const auto& port : names.AvailablePorts()) {
        const std::string portKey = AdapterKeyOn(port, names);
        if (SameKey(portKey, key))
            return TPortChoice{"COM" + std::to_string(port.Number), port.DevicePath, port.Number, portKey};
        if (!portKey.empty())
            found.push_back("COM" + std::to_string(port.Number) + " key " + portKey);
    }
    std::string list;
    for (const auto& item : found)
        list += (list.empty() ? "" : ", ") + item;
    error = "no adapter has key " + key + "; adapters: " + (list.empty() ? "none" : list);
    return std::nullopt;
}

} // namespace

TPortSelection SelectPorts(const std::vector<std::string>& requested, TPortNames& names)
{
    TPortSelection selection;
    if (requested.empty()) {
        const auto available = AdapterPorts(names);
        if (available.size() != 1) {
            selection.Error = available.empty() ? "no USB serial port found; connect the adapter or name one with -p"
                                                : "several serial ports, choose one with -p: " + ListOf(available);
            selection.ExitCode = available.empty() ? ExitCode::NoAdapter : ExitCode::Usage;
            return selection;
        }
        const auto& port = available.front();
        selection.Ports.push_back({"COM" + std::to_string(port.Number), port.DevicePath, port.Number, {}});
        return selection;
    }
    std::set<std::string> seen;
    for (std::size_t k = 0; k < requested.size(); ++k) {
        const std::string& text = requested[k];
        TPortChoice choice;
        if (text.rfind(KeyPrefix, 0) == 0) {
            const auto byKey = PortWithKey(text.substr(std::strlen(KeyPrefix)), names, selection.Error);
            if (!byKey) {
                selection.ExitCode = ExitCode::NoAdapter;
                return selection;
            }
            choice = *byKey;
        } else if (std::error_code missing; std::filesystem::exists(text, missing)) {
            choice = {text, text, PathPortNumberBase + static_cast<int>(k), {}};
        } else if (const int number = ComNumber(text); number > 0) {
            const auto path = names.DevicePath(number);
            if (!path) {
                selection.Error =
                    "there is no port COM" + std::to_string(number) + "; ports: " + ListOf(names.AvailablePorts());
                selection.ExitCode = ExitCode::NoAdapter;
                return selection;
            }
            choice = {"COM" + std::to_string(number), *path, number, {}};
        } else {
            choice = {text, text, PathPortNumberBase + static_cast<int>(k), {}};
        }
        std::error_code error;
        const auto canonical = std::filesystem::weakly_canonical(choice.Path, error);
        if (!seen.insert(error ? choice.Path : canonical.string()).second) {
            selection.Error = "port " + text + " is named twice";
            selection.ExitCode = ExitCode::Usage;
            return selection;
        }
        selection.Ports.push_back(std::move(choice));
    }
    return selection;
}

} // namespace lindprog
