#pragma once
// Which serial ports a command runs on: the -p values (COM<N> numbered as the
// window numbers ports, key:K for the adapter whose key is K, or a device
// path), or without -p the one port there is. A key stays with its adapter
// when USB numbering changes, so a station's adapters keep their roles. Every port is resolved to its device path once, before any adapter
// thread starts, so the threads never share the numbering.

#include "cli/CliOutput.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lindprog {
class TPortNames;
struct TPortEntry;
} // namespace lindprog

namespace lindprog::cli {

struct TPortChoice {
    std::string Name; // as printed: "COM3", or the path given
    std::string Path; // what is opened
    int Number = 0;   // the number the endpoint opens it under
    std::string Key;  // -p key:K: the adapter's key found on it

    // How failures name it: COM<N> says nothing of which device it stood
    // for on this run, so its path follows.
    std::string Text() const { return Name == Path ? Name : Name + " (" + Path + ")"; }
};

struct TPortSelection {
    std::vector<TPortChoice> Ports;
    std::string Error; // set when nothing can run
    int ExitCode = 0;
};

// Without -p a command runs on the one port that can be an adapter: a USB
// serial port (ttyUSB, ttyACM, or one with a /dev/serial/by-id name) or a
// LINDPROG_COM<N> mapping. A board's built-in UART (ttyS0) never holds one,
// and counting it would make every machine look as if it had two ports.
bool CanBeAdapter(const TPortEntry& port);

// -p COM<N>, key:K or a path; a path that exists wins over a COM<N> of the
// same spelling, so a file named com1 in the current folder is that file.
TPortSelection SelectPorts(const std::vector<std::string>& requested, TPortNames& names);

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
