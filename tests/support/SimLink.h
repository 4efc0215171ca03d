#pragma once
// One simulator on its own pseudo-terminal, mapped to COM<N> for this test
// only, with an endpoint that talks to it. Every test makes its own, so
// `ctest -j` is safe.

#include "core/base/UiDispatcher.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "support/SimPty.h"
#include "support/TestSupport.h"

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

// The folder a link test keeps its files in, made before the simulator starts
// so that the transcript can go there.
struct TLinkFolder {
    TScratchDir Dir;
    std::string TranscriptPath = (Dir.Path / "transcript.txt").string();
};

class TSimLink : public TLinkFolder, public TSimPty {
public:
    explicit TSimLink(const nlohmann::json& scenario = BaseScenario(), int portNumber = 1)
        : TSimPty(scenario, portNumber, WithTranscript(TranscriptPath)),
          Names(Dir.Path / "ports.conf", Dir.Path / "dev"), Port(Names, Dispatcher), Number(portNumber)
    {
    }

    bool Open() { return Port.Open(Number); }

    // Block commands refer to the device, region and operation of the last
    // start request, as on the real adapter.
    bool Start(TOperation operation) { return Port.SendRequest(BuildStartOperation(0, 0, operation, 4, 1)); }

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

    TPortNames Names;
    TQueueDispatcher Dispatcher;
    TDevicePort Port;
    int Number;

private:
    static sim::TSimOptions WithTranscript(const std::string& path)
    {
        sim::TSimOptions options;
        options.TranscriptPath = path;
        return options;
    }
};

} // namespace lindprog::test
