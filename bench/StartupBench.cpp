// Start-up to a connected window: from making the main window, as the program
// does, until its device list is filled, against the simulator on a
// pseudo-terminal without line pacing. A fresh window each run, each with the
// settings folder pointing SerialPort at the simulator. Prints the median and
// the worst run beside the target.

#include "SimProcess.h"
#include "WindowRig.h"
#include "core/base/Prompts.h"
#include "gui/main/Application.h"
#include "gui/main/Main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace lindprog;

namespace {

constexpr int Runs = 10;
constexpr int PortNumber = 7;
constexpr double TargetMs = 500.0;
// A window whose list has not filled by then counts as a failed start.
constexpr int FillBoundMs = 10000;

// A question at start-up means the start went wrong; it is reported rather
// than shown, so the run cannot wait on a box no one sees.
class TConsolePrompts final : public TPrompts {
public:
    int Shown = 0;
    void ShowError(const std::string& text) override { Report("error", text); }
    void ShowInfo(const std::string& text) override { Report("info", text); }
    bool AskConfirm(const std::string& text) override { return AskConfirmButton(text) == TAnswer::Yes; }
    TAnswer AskConfirmButton(const std::string& text) override
    {
        Report("confirm", text);
        return TAnswer::No;
    }
    TAnswer AskWarning(const std::string& text) override
    {
        Report("warning", text);
        return TAnswer::No;
    }

private:
    void Report(const char* kind, const std::string& text)
    {
        ++Shown;
        std::fprintf(stderr, "%s: %s\n", kind, text.c_str());
    }
};

// Milliseconds from making the window until its device list has entries, or
// a negative number when it never fills.
double TimeOneStart(TConsolePrompts& prompts)
{
    const auto start = std::chrono::steady_clock::now();
    auto form = std::make_unique<TMainForm>(&prompts);
    const bool filledIn = bench::WaitUntil([&] { return form->cbDevice->count() > 0; }, FillBoundMs);
    const auto filled = std::chrono::steady_clock::now();
    if (!filledIn)
        return -1;
    return std::chrono::duration<double, std::milli>(filled - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    bench::OffscreenUnlessChosen();
    TApplication application(argc, argv);

    const QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        std::fprintf(stderr, "cannot make a settings folder\n");
        return 1;
    }
    bench::UseSettingsIn(settingsFolder, PortNumber);

    const std::string scenario = R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [
        {"name": "SPC560B50", "voltages": 3, "regions": [
          {"name": "Code flash", "flags": 7, "size": 524288},
          {"name": "Data flash", "flags": 15, "size": 65536}]},
        {"name": "MPC5554", "voltages": 6, "regions": [{"name": "Flash", "flags": 15, "size": 2097152}]}]})";
    bench::TSimProcess sim(scenario, {});
    ::setenv(("LINDPROG_COM" + std::to_string(PortNumber)).c_str(), sim.SlavePath().c_str(), 1);

    TConsolePrompts prompts;
    std::vector<double> times;
    for (int run = 0; run < Runs; ++run) {
        const double ms = TimeOneStart(prompts);
        if (ms < 0 || prompts.Shown > 0) {
            std::fprintf(stderr, "run %d: the window did not connect\n", run + 1);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const double median = (times[Runs / 2 - 1] + times[Runs / 2]) / 2;
    std::printf("start-up to a connected window, simulator unpaced, %d fresh windows\n", Runs);
    std::printf("  median %7.1f ms, worst %7.1f ms (target < %.0f ms)\n", median, times.back(), TargetMs);
    return 0;
}
