#include "cli/CliPorts.h"

#include "cli/CliOutput.h"
#include "core/link/PortNames.h"
#include "core/ops/ExitCode.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace lindprog::cli {

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
