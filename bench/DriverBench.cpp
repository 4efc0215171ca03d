// A full Read and a full Verify of a 512 KiB region through the operation
// runner, paced as the progress dialog paces it (10 ms between steps),
// against the simulator pacing the 921600-baud line. Prints the speed as the
// log computes it, the design ceiling and their ratio.

#include "SimProcess.h"
#include "core/base/UiDispatcher.h"
#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/AdapterSession.h"
#include "core/settings/Settings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace lindprog;

namespace {

constexpr std::uint32_t RegionSize = 512 * 1024;
constexpr double StepPauseMs = 10.0;

class TConsole final : public TLogSink, public TPrompts, public TNullView {
public:
    std::string LastLine;
    void AddLogLine(const std::string& text) override { LastLine = text; }
    void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void ShowInfo(const std::string&) override {}
    bool AskConfirm(const std::string&) override { return true; }
    TAnswer AskConfirmButton(const std::string&) override { return TAnswer::No; }
    TAnswer AskWarning(const std::string&) override { return TAnswer::No; }
};

// Runs one operation paced as the progress dialog paces it; returns its log speed.
double Run(TOperationRunner& runner, TConsole& console, TOperation operation, const TOperationTarget& target)
{
    TRunPacing pacing;
    pacing.AfterStep = [](bool more) {
        if (more)
            std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(StepPauseMs)));
    };
    if (!runner.Run(PlanFor(operation, target), pacing).Succeeded())
        return -1;
    const std::size_t at = console.LastLine.find("speed ");
    std::printf("  %s\n", console.LastLine.c_str());
    return at == std::string::npos ? -1 : std::atof(console.LastLine.c_str() + at + 6);
}

double CeilingKBps(double requestBytes, double replyBytes)
{
    const double lineMs = (requestBytes + replyBytes) * TCom::BitsPerByte * 1000.0 / TCom::BaudRate;
    return 512.0 / (lineMs + StepPauseMs) * 1000.0 / 1024.0;
}

void Report(const char* name, double speed, double ceiling)
{
    std::printf("  %-7s %6.1f kB/s, ceiling %6.1f kB/s, ratio %.3f (target >= 0.9)\n", name, speed, ceiling,
                speed / ceiling);
}

} // namespace

int main()
{
    const std::string scenario = R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "BENCH", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": )" +
                                 std::to_string(RegionSize) + R"(, "fill": 90}]}]})";
    bench::TSimProcess sim(scenario, {"--pace"});
    ::setenv("LINDPROG_COM1", sim.SlavePath().c_str(), 1);
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    TQueueDispatcher dispatcher;
    TSettings settings;
    settings.TurnOffPower = false;
    TConsole console;
    TAdapterSession session(names, dispatcher, settings, {console, console, console, console});
    if (session.Connect(1) != TConnectResult::Application) {
        std::fprintf(stderr, "no adapter answers on the simulator's port\n");
        return 1;
    }
    TOperationRunner& runner = session.Runner();
    std::vector<std::uint8_t> buffer(RegionSize);
    const TOperationTarget target{0, 0, 1, buffer};

    std::printf("driver over 512 KiB, 10 ms between steps, line paced at 921600 baud\n");
    const double read = Run(runner, console, TOperation::Read, target);
    const double verify = Run(runner, console, TOperation::Verify, target);
    // Read: 13-byte request, 520-byte reply; Verify: 525-byte request, 8-byte reply.
    Report("Read", read, CeilingKBps(5 + 7 + 1, 5 + 2 + 512 + 1));
    Report("Verify", verify, CeilingKBps(5 + 7 + 512 + 1, 5 + 2 + 1));
    return read > 0 && verify > 0 ? 0 : 1;
}
