#pragma once
// The command line's side of its ports: the `ports` listing, a port's name
// in a file name, and running one command on several ports at once. Which
// ports -p names is the core's rule (core/ops/PortChoice.h).

#include "cli/CliOutput.h"
#include "core/ops/PortChoice.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lindprog::cli {

// The `ports` command's output: a text table and the JSON object.
std::string PortsText(TPortNames& names);
nlohmann::ordered_json PortsJson(TPortNames& names);

// A port's name as it may stand in a file name: "COM3", or a device path's
// last part ("ttyUSB0").
std::string FileNamePart(const TPortChoice& port);

// Runs runOne(k) for every port: on this thread for one, each on its own
// thread for several, so one adapter's failure never stops the others; then
// the summary table for several. The exit code is the worst of the results
// runOne left in results.
int RunOnEachPort(const std::vector<TPortChoice>& ports, const std::function<void(std::size_t)>& runOne,
                  const std::vector<TResult>& results, TCliOutput& output);

} // namespace lindprog::cli
