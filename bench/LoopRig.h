#pragma once
// The production loop's rig for benchmarks: simulators pacing the 921600-baud
// line, a hand per simulator that places a board, takes it away once its unit
// is done and places the next once the loop has seen the chain empty, and a
// `lindprog-cli run --loop` whose verdict lines are read as they come.

#include "core/link/AdapterCommands.h"
#include "sim/AdapterSim.h"
#include "sim/Scenario.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lindprog::bench {

using TClock = std::chrono::steady_clock;

constexpr std::uint32_t RegionSize = 256 * 1024;

inline std::string Scenario()
{
    return R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1, "target": "detached",
      "devices": [{"name": "BENCH", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 15, "size": )" +
           std::to_string(RegionSize) + R"(, "fill": 255}]}],
      "jtag": {"count": 1, "ir_length": 5, "ids": [305419896]},
      "start_operation": {"values": [1, 2, 3, 4], "info": "", "status": 0}, "erase_not_ready": 0})";
}

// One adapter: the simulator, the times of its requests by command, and the
// hand that places its boards.
class TStation {
public:
    explicit TStation(int number)
        : Name("COM" + std::to_string(20 + number)), Sim(sim::ParseScenarioText(Scenario()), Options())
    {
        if (!Sim.Start())
            std::fprintf(stderr, "simulator: %s\n", Sim.LastError().c_str());
        ::setenv(("LINDPROG_" + Name).c_str(), Sim.SlavePath().c_str(), 1);
    }

    sim::TSimOptions Options()
    {
        sim::TSimOptions options;
        options.Pace = true;
        options.Log = [this](const std::string& line) { Note(line); };
        return options;
    }

    // The arrival of each board, the first block after it, and the last request.
    std::vector<TClock::time_point> Arrivals, FirstBlocks;
    TClock::time_point LastRequest() const
    {
        const std::lock_guard lock(Mutex);
        return Last;
    }

    void PlaceBoards(int units)
    {
        for (int unit = 1; unit <= units; ++unit) {
            const std::size_t placed = RequestsSeen();
            Arrivals.push_back(TClock::now());
            Sim.AttachTarget(false);
            WaitFor(placed, {Cmd::StartOperation, Cmd::JtagScan});
            FirstBlocks.push_back(FirstBlockSince(Arrivals.back()));
            if (unit == units)
                return;
            Sim.DetachTarget();
            WaitFor(RequestsSeen(), {Cmd::JtagScan});
        }
    }

    const std::string Name;

private:
    // A transcript line: "   12.345 H>A 1B 01 00 01 0E A0 ...": the command is
    // the payload's first byte, after the five header bytes.
    void Note(const std::string& line)
    {
        std::istringstream words(line);
        std::string seconds, direction;
        words >> seconds >> direction;
        if (direction != "H>A")
            return;
        std::string byte;
        for (int k = 0; k < 6 && words >> byte; ++k) {
        }
        const auto code = static_cast<std::uint8_t>(std::strtoul(byte.c_str(), nullptr, 16));
        const std::lock_guard lock(Mutex);
        Last = TClock::now();
        Codes.push_back(code);
        const bool block = code == Cmd::ReadBlock || code == Cmd::WriteBlock || code == Cmd::VerifyBlock ||
                           code == Cmd::BlankCheckBlock;
        if (block)
            Blocks.push_back(Last);
    }

    TClock::time_point FirstBlockSince(TClock::time_point since) const
    {
        const std::lock_guard lock(Mutex);
        const auto first = std::lower_bound(Blocks.begin(), Blocks.end(), since);
        return first == Blocks.end() ? since : *first;
    }

    std::size_t RequestsSeen() const
    {
        const std::lock_guard lock(Mutex);
        return Codes.size();
    }

    // Waits until the requests from `from` on hold `codes` in that order.
    void WaitFor(std::size_t from, std::deque<std::uint8_t> codes)
    {
        const auto deadline = TClock::now() + std::chrono::seconds(60);
        while (!codes.empty() && TClock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::lock_guard lock(Mutex);
            for (; from < Codes.size() && !codes.empty(); ++from)
                if (Codes[from] == codes.front())
                    codes.pop_front();
        }
    }

    mutable std::mutex Mutex;
    TClock::time_point Last{};
    std::vector<TClock::time_point> Blocks;
    std::vector<std::uint8_t> Codes; // of every request, in order
    // Last, so that it stops serving (and noting) before the rest goes.
    sim::TAdapterSim Sim;
};

struct TLoopRun {
    double Seconds = 0.0;
    int Passed = 0;
    std::vector<double> ToFirstBlock, ToVerdict; // seconds, per unit
    std::vector<double> UnitSeconds;             // as the verdict lines give them
};

// Runs `lindprog-cli run` on the stations, `units` each, with `more` after
// the job, and reads its verdict lines as they come.
inline TLoopRun RunLoop(const std::string& job, std::vector<std::unique_ptr<TStation>>& stations, int units,
                        const std::vector<std::string>& more = {})
{
    std::vector<std::string> args{LINDPROG_CLI_PATH, "run", job, "--loop", "--count", std::to_string(units)};
    args.insert(args.end(), more.begin(), more.end());
    for (const auto& station : stations)
        args.insert(args.end(), {"-p", station->Name});
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    const auto start = TClock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::vector<std::thread> hands;
    for (auto& station : stations)
        hands.emplace_back([&station, units] { station->PlaceBoards(units); });

    TLoopRun run;
    std::string pending;
    char chunk[4096];
    for (ssize_t got; spawned == 0 && (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
        pending.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            // With several ports each line starts with its port's name.
            const bool passed = line.find("PASS unit ") != std::string::npos;
            if (line.find("FAIL unit ") != std::string::npos || line.starts_with("lindprog-cli"))
                std::fprintf(stderr, "%s\n", line.c_str());
            else if (!passed)
                continue;
            const auto now = TClock::now();
            run.Passed += passed;
            // The verdict ends with the unit's own time: "... 4.2 s".
            if (const std::size_t end = line.rfind(" s"); end != std::string::npos && end > 0)
                run.UnitSeconds.push_back(std::atof(line.c_str() + line.rfind(' ', end - 1) + 1));
            for (const auto& station : stations)
                if (line.find(" " + station->Name + " ") != std::string::npos)
                    run.ToVerdict.push_back(std::chrono::duration<double>(now - station->LastRequest()).count());
        }
    }
    ::close(pipeEnds[0]);
    for (auto& hand : hands)
        hand.join();
    if (spawned == 0)
        ::waitpid(pid, nullptr, 0);
    run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    for (const auto& station : stations)
        for (std::size_t k = 0; k < station->FirstBlocks.size(); ++k)
            run.ToFirstBlock.push_back(
                std::chrono::duration<double>(station->FirstBlocks[k] - station->Arrivals[k]).count());
    return run;
}

inline std::pair<double, double> MedianAndMax(std::vector<double> values)
{
    if (values.empty())
        return {0.0, 0.0};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

inline std::string WriteJob(const std::string& folder)
{
    // A 123-byte firmware at 0 as Intel HEX, one record per 16 bytes.
    std::ofstream hex(folder + "/fw.hex");
    for (unsigned at = 0; at < 123; at += 16) {
        const unsigned count = std::min(16u, 123 - at);
        unsigned sum = count + (at >> 8) + (at & 0xFF);
        char text[16];
        std::snprintf(text, sizeof text, ":%02X%04X00", count, at);
        hex << text;
        for (unsigned k = 0; k < count; ++k) {
            const unsigned byte = ((at + k) * 3 + 1) & 0xFF;
            sum += byte;
            std::snprintf(text, sizeof text, "%02X", byte);
            hex << text;
        }
        std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        hex << text;
    }
    hex << ":00000001FF\n";
    const std::string job = folder + "/job.toml";
    std::ofstream(job) << "name = \"bench\"\ndevice = \"BENCH\"\n"
                          "[[step]]\nregion = \"Flash\"\noperation = \"program\"\nimage = \"fw.hex\"\n"
                          "[serial]\nregion = \"Flash\"\noffset = 0x1000\nformat = \"u32le\"\nstart = 1\n";
    return job;
}

} // namespace lindprog::bench
