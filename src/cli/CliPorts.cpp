#include "cli/CliPorts.h"

#include "cli/CliOutput.h"
#include "core/base/UiDispatcher.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/ExitCode.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

namespace lindprog::cli {

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

bool CanBeAdapter([[maybe_unused]] const TPortEntry& port)
{
#ifdef _WIN32
    // Windows names every port COM<N> alike; which is USB it does not say here.
    return true;
#else
    if (port.Mapped || port.Key.find("/serial/by-id/") != std::string::npos)
        return true;
    const std::string name = std::filesystem::path(port.DevicePath).filename().string();
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
#endif
}

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

std::string PortsText(TPortNames& names)
{
    std::string text;
    for (const auto& port : names.AvailablePorts())
        text += "COM" + std::to_string(port.Number) + "  " + port.DevicePath +
                (port.Key != port.DevicePath ? "  " + port.Key : "") + "\n";
    if (text.empty())
        return "no serial port found";
    text.pop_back();
    return text;
}

nlohmann::ordered_json PortsJson(TPortNames& names)
{
    auto ports = nlohmann::ordered_json::array();
    for (const auto& port : names.AvailablePorts())
        ports.push_back({{"name", "COM" + std::to_string(port.Number)},
                         {"number", port.Number},
                         {"path", port.DevicePath},
                         {"key", port.Key},
                         {"mapped", port.Mapped}});
    auto object = JsonEvent("ports");
    object["ports"] = std::move(ports);
    return object;
}

std::string FileNamePart(const TPortChoice& port)
{
    if (port.Name != port.Path) // named COM<N>
        return port.Name;
    const std::string last = std::filesystem::path(port.Name).filename().string();
    return last.empty() ? port.Name : last;
}

int RunOnEachPort(const std::vector<TPortChoice>& ports, const std::function<void(std::size_t)>& runOne,
                  const std::vector<TResult>& results, TCliOutput& output)
{
    if (ports.size() == 1) {
        runOne(0);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < ports.size(); ++k)
            threads.emplace_back(runOne, k);
        for (auto& thread : threads)
            thread.join();
        std::vector<std::pair<std::string, TResult>> rows;
        for (std::size_t k = 0; k < ports.size(); ++k)
            rows.emplace_back(ports[k].Name, results[k]);
        output.Summary(rows);
    }
    int exitCode = ExitCode::Ok;
    for (const auto& result : results)
        exitCode = std::max(exitCode, result.ExitCode);
    return exitCode;
}

} // namespace lindprog::cli
