// The command line's pure rules as tables: ports, offsets, the progress block,
// the log lines the default output leaves to -v.

#include "cli/CliLogDetail.h"
#include "cli/CliOutput.h"
#include "cli/CliPorts.h"
#include "cli/CliSession.h"
#include "core/link/PortNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

namespace lindprog::cli {
namespace {

TEST(CliRulesTest, OnlyUsbPortsAndMappingsCanBeAdapters)
{
    const std::tuple<TPortEntry, bool> cases[] = {
        {{1, "/dev/ttyUSB0", "/dev/ttyUSB0", false}, true},
        {{2, "/dev/ttyACM3", "/dev/ttyACM3", false}, true},
        {{3, "/dev/serial/by-id/usb-Corvane_Programmer-if00", "/dev/ttyXRUSB0", false}, true},
        {{4, "LINDPROG_COM4", "/dev/pts/7", true}, true},
        {{5, "/dev/ttyS0", "/dev/ttyS0", false}, false},
        {{6, "/dev/ttyAMA0", "/dev/ttyAMA0", false}, false},
    };
    for (const auto& [port, expected] : cases)
        EXPECT_EQ(CanBeAdapter(port), expected) << port.DevicePath;
}

TEST(CliRulesTest, APathThatExistsWinsOverAComNumber)
{
    test::TScratchDir dir;
    test::TEnvPort mapped(1, "/dev/null");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path);
    std::ofstream("com1") << "";
    TPortNames names(dir.Path / "ports.conf", dir.Path / "dev", dir.Path / "sys");
    for (const std::string given : {"com1", "./com1", "COM1"}) {
        const TPortSelection selection = SelectPorts({given}, names);
        ASSERT_EQ(selection.Ports.size(), 1u) << selection.Error;
        EXPECT_EQ(selection.Ports[0].Path, given == "COM1" ? "/dev/null" : given);
    }
    std::filesystem::current_path(before);
}

TEST(CliRulesTest, ResultLinesPrintOffsetsInHex)
{
    const std::tuple<std::string, std::string> cases[] = {
        {"Verify failed at offset 4000 (Compare error)", "Verify failed at offset 0x00004000 (Compare error)"},
        {"Erase failed (Timeout)", "Erase failed (Timeout)"},
        {"Verification OK, 8192 bytes compared", "Verification OK, 8192 bytes compared"},
    };
    for (const auto& [line, shown] : cases)
        EXPECT_EQ(WithHexOffset(line), shown);
}

TEST(CliRulesTest, TheProgressBlockIsRedrawnInPlaceAndCutToTheTerminal)
{
    const std::tuple<std::size_t, std::vector<std::string>, int, std::string> cases[] = {
        {1, {"COM1: Writing 20%", "COM2: Reading 5%"}, 80, "\r\033[KCOM1: Writing 20%\nCOM2: Reading 5%"},
        {3, {"COM1: Writing 30%"}, 10, "\r\033[K\033[1A\033[K\033[1A\033[KCOM1: Wri"},
        {2, {}, 80, "\r\033[K\033[1A\033[K"},
        {0, {"\u00e4\u00e4\u00e4\u00e4"}, 4, "\u00e4\u00e4\u00e4"},
    };
    for (const auto& [shown, lines, columns, text] : cases)
        EXPECT_EQ(RedrawProgress(shown, lines, columns), text) << shown << " " << columns;
}

// Runs a port's log through the rules: "[plan]", "[start]", "[end]" (a
// stage that sent every block), "[end sparse]" (one that chose its blocks),
// "[end failed sparse]", "[refused]" and "[result TEXT]" are the events,
// anything else a log line. Gives the lines the default output shows.
std::vector<std::string> ShownLines(const std::vector<std::string>& script)
{
    std::vector<std::string> shown;
    std::size_t emitted = 0, logged = 0;
    {
        TLogDetail lines([&](const std::string& text, auto, bool detail) {
            ++emitted;
            if (!detail)
                shown.push_back(text);
        });
        for (const std::string& step : script) {
            TStageOutcome outcome;
            outcome.Started = step != "[refused]";
            outcome.Blocks = step.ends_with("sparse]") ? TBlockChoice::Data : TBlockChoice::All;
            outcome.Status = step.find("failed") != std::string::npos || !outcome.Started ? PortStatus::CompareError
                                                                                          : PortStatus::Ok;
            if (step == "[plan]") {
                lines.PlanStarted();
            } else if (step == "[start]") {
                lines.StageStarted();
            } else if (step.starts_with("[end") || step == "[refused]") {
                lines.StageEnded(outcome);
            } else if (step.starts_with("[result ")) {
                lines.Finished(step.substr(8, step.size() - 9));
            } else {
                lines.Line(step);
                ++logged;
            }
        }
    }
    EXPECT_EQ(emitted, logged) << "the log file and JSON get every line";
    return shown;
}

TEST(CliRulesTest, TheDefaultOutputShowsTheConnectionOnceAndEachStagesResult)
{
    using TLines = std::vector<std::string>;
    const std::tuple<const char*, TLines, TLines> cases[] = {
        {"later stages repeat the connection, headings and block counts are detail",
         {"Opening file", "[plan]", "Starting operation", "JTAG ID 1", "Erasing device...", "[start]", "Erase OK",
          "[end]", "Starting operation", "JTAG ID 1", "Writing device...", "[start]", "Programming OK",
          "1 blocks holding data", "[end sparse]", "Programming successfull",
          "[result Programming successfull: 1 blocks written]"},
         {"Opening file", "Starting operation", "JTAG ID 1", "Erase OK", "Programming OK"}},
        {"what a later stage says differently is shown",
         {"[plan]", "Starting operation", "Erasing device...", "[start]", "Erase OK", "[end]", "Starting operation",
          "WARNING: device is locked!", "Writing device...", "[start]", "Programming OK", "[end]"},
         {"Starting operation", "Erase OK", "WARNING: device is locked!", "Programming OK"}},
        {"a failed stage keeps its last line, a result that extends nothing keeps the one before",
         {"[plan]", "Starting operation", "Verifying device...", "[start]", "Verify failed at offset 0",
          "Read back, the block at 0x00000000", "[end failed sparse]", "Saved 4 bytes", "[result Programming OK]"},
         {"Starting operation", "Verify failed at offset 0", "Read back, the block at 0x00000000", "Saved 4 bytes"}},
        {"a refused start is told every time, an accepted connection once",
         {"[plan]", "Starting operation", "Reading device...", "[start]", "Successfully read", "[end]", "[plan]",
          "Starting operation", "Error: Device not found", "[refused]", "[plan]", "Starting operation",
          "Error: Device not found", "[refused]"},
         {"Starting operation", "Successfully read", "Error: Device not found", "Error: Device not found"}},
        {"the next board is compared with the one before",
         {"[plan]", "JTAG ID 1", "Reading device...", "[start]", "[end]",
          "[plan]", "JTAG ID 2", "Reading device...", "[start]", "[end]",
          "[plan]", "JTAG ID 1", "Reading device...", "[start]", "[end]",
          "[plan]", "JTAG ID 1", "Reading device...", "[start]", "[end]"},
         {"JTAG ID 1", "JTAG ID 2", "JTAG ID 1"}},
    };
    for (const auto& [what, script, shown] : cases)
        EXPECT_EQ(ShownLines(script), shown) << what;
}

} // namespace
} // namespace lindprog::cli
