// The command line and the window put the same requests on the wire for a
// read and a program: the window's run and lindprog-cli's run of the same
// operations against the same scenario, compared request by request.

#include "core/link/AdapterCommands.h"
#include "support/CliProcess.h"
#include "support/MainHarness.h"

#include <QTest>
#include <QToolButton>

#include <fstream>

namespace lindprog {
namespace {

using nlohmann::json;
using Requests = std::vector<std::vector<std::uint8_t>>;

json WireScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "SPC560B50", "voltages": 5, "regions": [
        {"name": "Flash", "flags": 7, "size": 3000, "fill": 17}]}],
      "start_operation": {"values": [1, 2, 3, 4], "info": "Nexus OK", "status": 0}
    })");
}

bool IsConnectRequest(const std::vector<std::uint8_t>& request)
{
    switch (request.at(0)) {
    case Cmd::GetMode:
    case Cmd::GetIdentity:
    case Cmd::GetVersion:
    case Cmd::GetDeviceCount:
    case Cmd::GetDeviceRecord:
    case Cmd::GetRegionRecord: return true;
    default: return false;
    }
}

// The requests of the operations alone: the window connects once, the
// command line once per command, with the same requests each time.
Requests OperationRequests(const Requests& all)
{
    Requests operations;
    std::copy_if(all.begin(), all.end(), std::back_inserter(operations),
                 [](const auto& request) { return !IsConnectRequest(request); });
    return operations;
}

std::vector<std::uint8_t> Image()
{
    std::vector<std::uint8_t> image(3000);
    for (std::size_t k = 0; k < image.size(); ++k)
        image[k] = static_cast<std::uint8_t>(k * 13 + 1);
    return image;
}

TEST(CliWire, ReadAndProgramSendWhatTheWindowSends)
{
    Requests window;
    Requests windowConnect;
    {
        test::TMainHarness harness(WireScenario());
        TMainForm& form = harness.Start();
        windowConnect = harness.Sim.RequestPayloads();
        form.btnRead->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Sim.RequestCount(Cmd::PowerOff) == 1; }, 20000));
        const auto image = Image();
        std::copy(image.begin(), image.end(), form.Buffer().Bytes().begin());
        harness.Prompts.Answers = {TAnswer::Yes};
        form.btnProgram->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Sim.RequestCount(Cmd::PowerOff) == 2; }, 20000));
        window = harness.Sim.RequestPayloads();
    }

    test::TEnvPort::ClearAll();
    test::TScratchDir dir;
    test::TSimPty sim(WireScenario(), 1);
    const auto image = Image();
    const auto file = dir.Path / "image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    test::TCliProcess read(dir.Path, {"read", (dir.Path / "read.bin").string()});
    ASSERT_EQ(read.Wait(), 0) << read.Err();
    const Requests cliConnect = sim.Sim.RequestPayloads();
    test::TCliProcess program(dir.Path, {"program", file.string()});
    ASSERT_EQ(program.Wait(), 0) << program.Err();
    const Requests cli = sim.Sim.RequestPayloads();

    const auto connectPart = [](const Requests& all) {
        Requests part;
        for (const auto& request : all) {
            if (!IsConnectRequest(request))
                break;
            part.push_back(request);
        }
        return part;
    };
    ASSERT_FALSE(windowConnect.empty());
    // Read 6 blocks, then erase, blank check, write, verify: dozens of requests.
    ASSERT_GE(OperationRequests(window).size(), 30u);
    EXPECT_EQ(connectPart(cliConnect), windowConnect);
    EXPECT_EQ(OperationRequests(cli), OperationRequests(window));
    EXPECT_EQ(sim.Sim.RegionContents(0, 0), image);
}

} // namespace
} // namespace lindprog
