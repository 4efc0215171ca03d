#pragma once
// A production job and the adapter it runs against, shared by the command
// line's and the window's job tests: a code flash the job programs with a
// serial number, a data flash it verifies, and the operator's hand that
// places and takes away boards on a simulator.

#include "core/link/AdapterCommands.h"
#include "support/SimLink.h"
#include "support/SimPty.h"
#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace lindprog::test {

inline nlohmann::json TwoRegions(const std::string& target = "attached")
{
    auto scenario = BaseScenario();
    scenario["target"] = target;
    scenario["devices"][0]["regions"] = nlohmann::json::parse(R"([
      {"name": "Code", "flags": 15, "size": 1024},
      {"name": "Data", "flags": 15, "size": 256, "contents": [{"offset": 0, "hex": "CA1B0001"}]}])");
    return scenario;
}

inline std::vector<std::uint8_t> DataFlash()
{
    std::vector<std::uint8_t> bytes(256, 0xFF);
    std::copy_n(std::begin({0xCA, 0x1B, 0x00, 0x01}), 4, bytes.begin());
    return bytes;
}

inline std::string JobText()
{
    return "name = \"line\"\ndevice = \"TESTCHIP\"\n"
           "[[step]]\nregion = \"Code\"\noperation = \"program\"\n"
           "image = \"fw.hex\"\nbase = 0\n"
           "[[step]]\nregion = \"Data\"\noperation = \"verify\"\nimage = \"data.bin\"\n"
           "[serial]\nregion = \"Code\"\noffset = 0x100\nformat = \"u32le\"\nstart = 1000\n";
}

// job.toml with its two images in folder.
inline void WriteJobFiles(const std::filesystem::path& folder)
{
    std::ofstream(folder / "fw.hex") << ":04000000DEADBEEFC4\n:00000001FF\n";
    const auto data = DataFlash();
    std::ofstream(folder / "data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    std::ofstream(folder / "job.toml") << JobText();
}

// Waits until the requests from `from` on hold `commands` in that order.
inline void WaitForRequests(const TSimPty& sim, std::size_t from, const std::vector<std::uint8_t>& commands)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::size_t seen = 0;
    while (seen < commands.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto payloads = sim.Sim.RequestPayloads();
        for (; from < payloads.size() && seen < commands.size(); ++from)
            if (payloads[from][0] == commands[seen])
                ++seen;
    }
}

// The operator's hand: places a board, takes it away once the loop has run a
// unit on it (an operation started, then the chain scanned again), and
// places the next once the loop has seen the chain empty. The last board
// stays.
inline void PlaceBoards(TSimPty& sim, int units)
{
    for (int unit = 1; unit <= units; ++unit) {
        const std::size_t placed = sim.Sim.RequestTotal();
        sim.Sim.AttachTarget(false);
        if (unit == units)
            return;
        WaitForRequests(sim, placed, {Cmd::StartOperation, Cmd::JtagScan});
        sim.Sim.DetachTarget();
        const std::size_t removed = sim.Sim.RequestTotal();
        WaitForRequests(sim, removed, {Cmd::JtagScan});
    }
}

} // namespace lindprog::test
