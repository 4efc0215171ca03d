#pragma once
// One simulator on its own pseudo-terminal, mapped to COM<N> for this test
// only, with an endpoint that talks to it. Every test makes its own, so
// `ctest -j` is safe.

#include "sim/AdapterSim.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "support/TestSupport.h"
#include "core/base/UiDispatcher.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lindprog::test {

// A small adapter: one device with one 8 KiB region that supports everything.
inline nlohmann::json BaseScenario()
{
    return nlohmann::json::parse(R"({
      "identity": "Test Adapter 7",
      "version": [1, 18],
      "mode": 3,
      "key": 11259375,
      "devices": [
        {"name": "TESTCHIP", "voltages": 5, "reserved": 0, "regions": [
          {"name": "Flash", "flags": 15, "size": 8192, "fill": 255,
           "contents": [{"offset": 0, "hex": "0011223344556677"},
                        {"offset": 100, "hex": "1B0E1B1B0E0E001B"}]}
        ]}
      ],
      "jtag": {"count": 1, "ir_length": 5, "ids": [305419896]},
      "start_operation": {"values": [1, 2, 3, 4], "info": "", "status": 0},
      "erase_not_ready": 2,
      "unlock_not_ready": 1
    })");
}

class TSimLink {
public:
    explicit TSimLink(const nlohmann::json& scenario = BaseScenario(), int portNumber = 1)
        : Sim(sim::ParseScenario(scenario), Options()),
          Started(Sim.Start()),
          Env(portNumber, Sim.SlavePath()),
          Names(Dir.Path / "ports.conf", Dir.Path / "dev"),
          Port(Names, Dispatcher),
          Number(portNumber)
    {
    }

    bool Open() { return Port.Open(Number); }

    // Block commands refer to the device, region and operation of the last
    // start request, as on the real adapter.
    bool Start(TOperation operation)
    {
        return Port.SendRequest(BuildStartOperation(0, 0, operation, 4, 1));
    }

    // The frames of the transcript in one direction ("H>A" or "A>H"), as hex text.
    std::vector<std::string> Frames(const std::string& direction) const
    {
        std::vector<std::string> frames;
        std::ifstream in(TranscriptPath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string time, seen;
            fields >> time >> seen;
            if (seen != direction)
                continue;
            std::string rest;
            std::getline(fields >> std::ws, rest);
            frames.push_back(rest);
        }
        return frames;
    }

    TScratchDir Dir;
    std::string TranscriptPath = (Dir.Path / "transcript.txt").string();
    sim::TAdapterSim Sim;
    bool Started;
    TEnvPort Env;
    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TDevicePort Port;
    int Number;

private:
    sim::TSimOptions Options() const
    {
        sim::TSimOptions options;
        options.transcript_path = TranscriptPath;
        return options;
    }
};

} // namespace lindprog::test
