#include "support/OpsHarness.h"

#include <gtest/gtest.h>

#include <string_view>

namespace lindprog {
namespace {

using nlohmann::json;
using test::TOpsRig;
using test::TPromptRecord;

json CatalogueScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3,
      "devices": [
        {"name": "SPC560B50", "voltages": 5, "regions": [
          {"name": "Code flash", "flags": 7, "size": 2048},
          {"name": "Data flash", "flags": 15, "size": 4096},
          {"name": "Shadow", "flags": 1, "size": 1024},
          {"name": "Six bytes", "flags": 6, "size": 6},
          {"name": "Lock bits", "flags": 24, "size": 16}
        ]},
        {"name": "MPC5554", "voltages": 6, "regions": [
          {"name": "Flash", "flags": 15, "size": 4096}
        ]},
        {"name": "NOREGIONS", "voltages": 0, "regions": []}
      ]
    })");
}

json WithFaults(json scenario, json faults)
{
    scenario["faults"] = std::move(faults);
    return scenario;
}

// The commands of an open port in application mode; letters name the device
// operations that are enabled besides: Read, Write, Verify, Erase, Blank
// check, Unlock, Program.
// What a state enables, as "FD:" (firmware update, detect) and one letter
// per operation in code order: R W V E B U P.
std::string Enabled(const TActionState& state)
{
    std::string text = std::string(state.FirmwareUpdate ? "F" : "") + (state.Detect ? "D" : "") + ":";
    for (const TOperation operation : AllOperations())
        if (state.Allows(operation))
            text += "RWVEBUP"[static_cast<int>(operation)];
    return text;
}

std::string OpenWith(std::string_view operations)
{
    return "FD:" + std::string(operations);
}

const std::string NothingEnabled = ":";
const std::vector<std::string> AllDevices{"SPC560B50", "MPC5554", "NOREGIONS"};

TEST(Connection, PortThatCannotBeOpenedClosesTheOldConnectionAndEnablesNothing)
{
    TOpsRig rig(CatalogueScenario());
    rig.Connect();
    ASSERT_TRUE(rig.View.Seen.empty());
    ASSERT_EQ(rig.View.Caption, "Corvane Programmer - [COM1]");
    ASSERT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP"));
    const std::size_t requestsBefore = rig.Link.Sim.RequestTotal();

    test::TEnvPort missing(2, (rig.Link.Dir.Path / "no-such-port").string());
    rig.Connection.Connect(2);
    EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"error", "Can't open serial port COM2"}}));
    EXPECT_EQ(rig.View.Log, std::vector<std::string>{}) << "a missing port is no matter of access rights";
    EXPECT_EQ(rig.View.Captions.back(), "Corvane Programmer");
    EXPECT_EQ(rig.View.Identity, "");
    EXPECT_EQ(rig.View.Version, "");
    EXPECT_EQ(Enabled(rig.View.Actions), NothingEnabled);
    EXPECT_FALSE(rig.View.FirmwareUpdate);
    EXPECT_EQ(rig.Connection.RegionFlags(), 0u);
    EXPECT_FALSE(rig.Port.IsOpen());
    EXPECT_TRUE(rig.Link.Sim.WaitForHostClosed(std::chrono::seconds(5)));
    EXPECT_EQ(rig.Link.Sim.RequestTotal(), requestsBefore);
}

TEST(Connection, ModeIsAskedTwiceBeforeTheAdapterIsReportedMissing)
{
    {
        TOpsRig rig(
            WithFaults(CatalogueScenario(), json::parse(R"([{"command": 1, "kind": "no_answer", "times": -1}])")));
        rig.ShortReplyWait();
        rig.Connect();
        EXPECT_EQ(rig.Count(Cmd::GetMode), 2);
        EXPECT_EQ(rig.Link.Sim.RequestTotal(), 2u) << "nothing else is asked of a silent adapter";
        EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"error", "No device found on port COM1"}}));
        EXPECT_EQ(rig.View.Caption, "Corvane Programmer - [COM1]");
        EXPECT_EQ(rig.View.HintPanel, "");
        EXPECT_TRUE(rig.Port.IsOpen());
        EXPECT_TRUE(rig.View.FirmwareUpdate);
        EXPECT_EQ(Enabled(rig.View.Actions), NothingEnabled);
        EXPECT_TRUE(rig.View.DeviceNames.empty());
    }
    {
        TOpsRig rig(
            WithFaults(CatalogueScenario(), json::parse(R"([{"command": 1, "kind": "no_answer", "times": 1}])")));
        rig.ShortReplyWait();
        rig.Connect();
        EXPECT_EQ(rig.Count(Cmd::GetMode), 2);
        EXPECT_TRUE(rig.View.Seen.empty()) << rig.View.Seen.front().Text;
        EXPECT_EQ(rig.View.DeviceNames, AllDevices);
        EXPECT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP"));
    }
}

TEST(Connection, FirmwareBelow118WarnsAndTheDevicesAreStillListed)
{
    struct TCase {
        json Version;
        std::string Shown;
        bool Warns;
    };
    const TCase cases[] = {
        {{1, 17}, "v1.17", true}, {{0, 200}, "v0.200", true}, {{1, 18}, "v1.18", false}, {{2, 0}, "v2.0", false}};
    for (const auto& [version, shown, warns] : cases) {
        json scenario = CatalogueScenario();
        scenario["version"] = version;
        TOpsRig rig(scenario);
        rig.Connect();
        const std::vector<TPromptRecord> expected =
            warns ? std::vector<TPromptRecord>{{"info", "Please update programmer's firmware to version 1.18 or above"}}
                  : std::vector<TPromptRecord>{};
        EXPECT_EQ(rig.View.Seen, expected) << shown;
        EXPECT_EQ(rig.View.Identity, "Corvane JTAG");
        EXPECT_EQ(rig.View.Version, shown);
        EXPECT_EQ(rig.View.DeviceNames, AllDevices) << shown;
        EXPECT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP")) << shown;
    }

    // An adapter that will not tell its name is still used, without a word.
    TOpsRig rig(WithFaults(CatalogueScenario(), json::parse(R"([{"command": 2, "kind": "status", "status": 1}])")));
    rig.Connect();
    EXPECT_TRUE(rig.View.Seen.empty());
    EXPECT_EQ(rig.View.Identity, "");
    EXPECT_EQ(rig.View.Version, "v1.18");
    EXPECT_EQ(rig.View.DeviceNames, AllDevices);
}

TEST(Connection, BootloaderModeInformsAndReadsNoCatalogue)
{
    json scenario = CatalogueScenario();
    scenario["mode"] = 1;
    TOpsRig rig(scenario);
    rig.Connect();
    EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"info", "Device is in bootloader mode"}}));
    EXPECT_EQ(rig.Count(Cmd::GetDeviceCount), 0);
    EXPECT_EQ(rig.Count(Cmd::GetDeviceRecord), 0);
    EXPECT_EQ(rig.View.Version, "v1.18");
    EXPECT_EQ(rig.View.Caption, "Corvane Programmer - [COM1]");
    EXPECT_EQ(Enabled(rig.View.Actions), NothingEnabled) << "not even Detect";
    EXPECT_TRUE(rig.View.FirmwareUpdate);
    EXPECT_TRUE(rig.View.DeviceNames.empty());
    EXPECT_TRUE(rig.View.Resizes.empty());
}

TEST(Connection, NoDevicesOrNoCountLeavesTheListEmptyWithOnlyDetect)
{
    json empty = CatalogueScenario();
    empty["devices"] = json::array();
    const json scenarios[] = {
        empty, WithFaults(CatalogueScenario(), json::parse(R"([{"command": 128, "kind": "status", "status": 1}])"))};
    for (const auto& scenario : scenarios) {
        TOpsRig rig(scenario);
        rig.Connect();
        EXPECT_TRUE(rig.View.Seen.empty());
        EXPECT_TRUE(rig.View.DeviceNames.empty());
        EXPECT_EQ(rig.View.DeviceSelected, -1);
        EXPECT_EQ(rig.Count(Cmd::GetDeviceRecord), 0);
        EXPECT_EQ(rig.Count(Cmd::GetRegionRecord), 0);
        EXPECT_TRUE(rig.View.Resizes.empty());
        EXPECT_EQ(Enabled(rig.View.Actions), OpenWith(""));
    }
}

TEST(Connection, RecordReadFailingPartWayKeepsWhatWasRead)
{
    TOpsRig rig(WithFaults(CatalogueScenario(), json::parse(R"([
        {"command": 178, "kind": "status", "status": 1, "skip": 1},
        {"command": 179, "kind": "no_answer", "skip": 2}])")));
    rig.ShortReplyWait();
    rig.Connect();
    EXPECT_TRUE(rig.View.Seen.empty());
    EXPECT_EQ(rig.View.DeviceNames, std::vector<std::string>{"SPC560B50"});
    EXPECT_EQ(rig.Count(Cmd::GetDeviceRecord), 2) << "the loop stops at the first failure";
    EXPECT_EQ(rig.View.RegionNames, (std::vector<std::string>{"Code flash", "Data flash"}));
    EXPECT_EQ(rig.Count(Cmd::GetRegionRecord), 3);
    EXPECT_EQ(rig.View.RegionSelected, 0);
    EXPECT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP"));
}

// An adapter that answers its mode and then goes silent is no connection: no
// panels or firmware advice from zeros, the port closed, the request logged.
TEST(Connection, SilenceAfterTheModeIsAFailedConnectionNamingTheRequest)
{
    const std::pair<std::uint8_t, std::string> cases[] = {{Cmd::GetIdentity, "Identity"},
                                                          {Cmd::GetVersion, "Version"},
                                                          {Cmd::GetDeviceCount, "Device count"},
                                                          {Cmd::GetDeviceRecord, "Device record"}};
    for (const auto& [command, request] : cases) {
        TOpsRig rig(WithFaults(CatalogueScenario(), json::array({{{"command", command}, {"kind", "no_answer"}}})));
        rig.ShortReplyWait();
        EXPECT_EQ(rig.Connection.Connect(rig.Link.Number), TConnectResult::RequestFailed) << request;
        EXPECT_EQ(rig.View.Log, std::vector<std::string>{request + " request failed: No answer"});
        EXPECT_EQ(rig.Connection.FailureStatus(), PortStatus::NoAnswer);
        EXPECT_TRUE(rig.View.Seen.empty()) << request;
        EXPECT_EQ(rig.View.Identity, "");
        EXPECT_EQ(rig.View.Caption, TConnection::ProductName);
        EXPECT_EQ(Enabled(rig.View.Actions), NothingEnabled);
    }
}

TEST(Connection, NamesEndAtTheirFirstNulOrAfter64CharactersAndAreWindows1252)
{
    json scenario = CatalogueScenario();
    // The simulator sends each of these characters as its one byte: E4, 80, FC.
    scenario["identity"] = "Pr\u00fcfger\u00e4t";
    scenario["devices"][2]["name"] = "M\u00e4rz \u0080";
    const std::string full64(64, 'N');
    scenario["devices"][0]["name"] = full64;
    scenario["devices"][1]["name"] = std::string("TENCHARSXY\0hidden", 17);
    scenario["devices"][0]["regions"][0]["name"] = std::string("Code\0flash", 10);
    scenario["devices"][0]["regions"][1]["name"] = std::string(64, 'R');
    TOpsRig rig(scenario);
    rig.Connect();
    EXPECT_EQ(rig.View.DeviceNames, (std::vector<std::string>{full64, "TENCHARSXY", "M\u00e4rz \u20ac"}));
    EXPECT_EQ(rig.View.Identity, "Pr\u00fcfger\u00e4t");
    EXPECT_EQ(rig.View.RegionNames[0], "Code");
    EXPECT_EQ(rig.View.RegionNames[1], std::string(64, 'R'));
    // The record is kept as the adapter sent it, the bytes after the NUL too.
    const auto& raw = rig.Connection.Devices()[1].Raw;
    EXPECT_EQ(std::string(raw.begin() + 11, raw.begin() + 17), "hidden");
    // A 64-character name runs straight into the voltage mask.
    EXPECT_EQ(rig.Connection.Devices()[0].Voltages(), 5u);
}

TEST(Connection, VoltageListCarriesTheFixedChoiceCodes)
{
    TOpsRig rig(CatalogueScenario());
    rig.Connect();
    EXPECT_EQ(rig.View.VoltageTexts, (std::vector<std::string>{"3.3 V", "3+5 V"}));
    EXPECT_EQ(rig.View.VoltageSelected, 0);
    EXPECT_EQ(rig.Connection.VoltageCode(), 1);
    rig.Connection.SelectVoltage(1);
    EXPECT_EQ(rig.Connection.VoltageCode(), 3);

    rig.Connection.SelectDevice(1);
    EXPECT_EQ(rig.View.VoltageTexts, (std::vector<std::string>{"5.0 V", "3+5 V"}));
    EXPECT_EQ(rig.View.VoltageSelected, 0);
    EXPECT_EQ(rig.Connection.VoltageCode(), 2);
    EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), (std::vector<std::uint8_t>{Cmd::GetRegionRecord, 1, 0}));
    EXPECT_EQ(rig.View.RegionNames, std::vector<std::string>{"Flash"});
    EXPECT_EQ(rig.View.Resizes.back(), 4096u);

    // No voltage and no region: nothing may start on the old region's buffer.
    const std::size_t resizes = rig.View.Resizes.size();
    rig.Connection.SelectDevice(2);
    EXPECT_TRUE(rig.View.VoltageTexts.empty());
    EXPECT_EQ(rig.View.VoltageSelected, -1);
    EXPECT_EQ(rig.Connection.VoltageCode(), 0);
    EXPECT_TRUE(rig.View.RegionNames.empty());
    EXPECT_EQ(rig.View.RegionSelected, -1);
    EXPECT_EQ(rig.View.Resizes.size(), resizes);
    EXPECT_EQ(Enabled(rig.View.Actions), OpenWith(""));
}

TEST(Connection, RegionFlagsEnableExactlyTheirOperationsAndEachChoiceResizesTheBuffer)
{
    TOpsRig rig(CatalogueScenario());
    rig.Connect();
    EXPECT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP"));
    EXPECT_EQ(rig.View.Resizes, std::vector<std::uint32_t>{2048});
    rig.View.Buffer[100] = 0x5A;
    rig.Connection.SelectRegion(0); // the same region again
    EXPECT_EQ(rig.View.Resizes, (std::vector<std::uint32_t>{2048, 2048}));
    EXPECT_EQ(rig.View.Buffer[100], 0);

    const std::pair<int, std::string> cases[] = {{1, OpenWith("RWVEBUP")}, // 15
                                                 {2, OpenWith("RVB")},     // 1
                                                 {3, OpenWith("WE")},      // 6
                                                 {4, OpenWith("U")}};      // 24: bit 4 means nothing
    for (const auto& [region, expected] : cases) {
        rig.Connection.SelectRegion(region);
        EXPECT_EQ(Enabled(rig.View.Actions), expected) << "region " << region;
        EXPECT_EQ(rig.Connection.SelectedRegion(), region);
    }
    EXPECT_EQ(rig.View.Resizes, (std::vector<std::uint32_t>{2048, 2048, 4096, 1024, 6, 16}));

    rig.Connection.Disconnect();
    EXPECT_EQ(Enabled(rig.View.Actions), NothingEnabled);
    EXPECT_EQ(rig.Connection.RegionFlags(), 0u);
    EXPECT_EQ(rig.View.Caption, "Corvane Programmer");
    EXPECT_EQ(rig.View.Identity, "");
    EXPECT_EQ(rig.View.Version, "");
    EXPECT_FALSE(rig.Port.IsOpen());
}

} // namespace
} // namespace lindprog

namespace lindprog {
namespace {

// A catalogue asking for regions no computer holds: the choice is refused by
// name and size before anything is allocated, nothing may start, and the
// previous buffer stays for the next choice.
TEST(Connection, RegionTooLargeToHoldIsRefusedAndThePreviousBufferStays)
{
    json scenario = CatalogueScenario();
    auto& regions = scenario["devices"][0]["regions"];
    regions[1]["reported_size"] = 0xFFFFFFFFu;
    regions[2]["reported_size"] = TConnection::MaxRegionSize + 1;
    test::TOpsRig rig(scenario);
    rig.Connect();
    rig.View.Buffer[7] = 0x5A;

    rig.Connection.SelectRegion(1);
    rig.Connection.SelectRegion(2);
    ASSERT_EQ(rig.View.Seen.size(), 2u);
    EXPECT_EQ(rig.View.Seen[0].Text,
              "Region \"Data flash\" of 4294967295 bytes (0xFFFFFFFF) is too large to be held in memory");
    EXPECT_EQ(rig.View.Seen[1].Text,
              "Region \"Shadow\" of 268435457 bytes (0x10000001) is too large to be held in memory");
    EXPECT_EQ(rig.Connection.RegionRefusal(), rig.View.Seen[1].Text) << "for the command line";
    EXPECT_EQ(rig.View.Resizes, std::vector<std::uint32_t>{2048}) << "nothing allocated for them";
    EXPECT_EQ(rig.View.Buffer[7], 0x5A);
    EXPECT_EQ(Enabled(rig.View.Actions), OpenWith(""));

    rig.Connection.SelectRegion(0);
    EXPECT_EQ(Enabled(rig.View.Actions), OpenWith("RWVEBP"));
    EXPECT_EQ(rig.Connection.RegionRefusal(), "");
    rig.View.Answers = {TAnswer::Yes};
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.Runner.Outcome().Last().Status, PortStatus::Ok) << rig.Runner.Outcome().Last().Line;
}

} // namespace
} // namespace lindprog
