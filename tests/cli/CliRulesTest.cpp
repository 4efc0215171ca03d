// The command line's pure rules as tables: ports, offsets, the progress block.

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

} // namespace
} // namespace lindprog::cli
