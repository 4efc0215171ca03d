// The window's operations against a simulator pacing the 921600-baud line,
// driven offscreen as a user's clicks would: the speed of a 512 KiB Read
// against the line's ceiling (the figure the command line reaches), and the
// time of a 512 KiB Program.

#include "LineCeiling.h"
#include "SimProcess.h"
#include "WindowRig.h"
#include "core/base/Prompts.h"
#include "gui/main/Application.h"
#include "gui/main/LogView.h"
#include "gui/main/Main.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace lindprog;

namespace {

constexpr int PortNumber = 8;
constexpr int RegionSize = 512 * 1024;

// Says yes to the questions a user would; the rest is printed.

// The speed the window's log gives for the last Read, in kB/s.
double LoggedReadSpeed(TMainForm& form)
{
    for (int row = form.Log().topLevelItemCount() - 1; row >= 0; --row) {
        const std::string line = form.Log().MessageAt(row).toStdString();
        if (const auto at = line.find(", speed "); line.starts_with("Successfully read") && at != std::string::npos)
            return std::atof(line.c_str() + at + 8);
    }
    return -1.0;
}

double SecondsOf(QAction* action)
{
    const auto start = std::chrono::steady_clock::now();
    action->trigger(); // returns when the operation's dialog has closed
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    bench::OffscreenUnlessChosen();
    TApplication application(argc, argv);
    const QTemporaryDir settingsFolder;
    bench::UseSettingsIn(settingsFolder, PortNumber);

    const std::string scenario = R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "BENCH", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": )" +
                                 std::to_string(RegionSize) + R"(, "fill": 90}]}]})";
    bench::TSimProcess sim(scenario, {"--pace"});
    ::setenv(("LINDPROG_COM" + std::to_string(PortNumber)).c_str(), sim.SlavePath().c_str(), 1);

    bench::TYesPrompts prompts;
    TMainForm form(&prompts);
    if (!bench::WaitUntil([&] { return form.cmDeviceRead->isEnabled(); }, 10000)) {
        std::fprintf(stderr, "the window did not connect\n");
        return 1;
    }
    const double readSeconds = SecondsOf(form.cmDeviceRead);
    const double speed = LoggedReadSpeed(form);
    const double ceiling = bench::ReadCeilingKBps();
    const double programSeconds = SecondsOf(form.cmDeviceProgram);
    std::printf("the window, offscreen, 512 KiB, line paced at 921600 baud\n");
    std::printf("  read     %6.1f kB/s (%.2f s), ceiling %6.1f kB/s, ratio %.3f (target >= 0.9)\n", speed, readSeconds,
                ceiling, speed / ceiling);
    std::printf("  program  %6.2f s\n", programSeconds);
    return speed > 0 ? 0 : 1;
}
