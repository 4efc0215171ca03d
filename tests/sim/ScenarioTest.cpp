#include "sim/Scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace lindprog::sim {
namespace {

using nlohmann::json;

// The message of the error a scenario raises, or "" when it parses.
std::string ErrorOf(const json& document)
{
    try {
        ParseScenario(document);
    } catch (const TScenarioError& error) {
        return error.what();
    }
    return "";
}

json OneRegion(json region)
{
    return json{{"devices", json::array({json{{"name", "D"}, {"regions", json::array({region})}}})}};
}

TEST(SimScenario, EmptyDocumentGivesAWorkingDefaultAdapter)
{
    const auto scenario = ParseScenario(json::object());
    EXPECT_EQ(scenario.Identity, "Corvane JTAG/Nexus Programmer");
    EXPECT_EQ(scenario.Mode, ModeApplication);
    EXPECT_TRUE(scenario.Devices.empty());
    EXPECT_FALSE(scenario.VanishAfter);
}

TEST(SimScenario, DemoScenarioLoads)
{
    const auto scenario = LoadScenarioFile(std::string(LINDPROG_SIM_SCENARIOS) + "/demo.json");
    EXPECT_EQ(scenario.VersionMajor, 1);
    EXPECT_EQ(scenario.VersionMinor, 18);
    EXPECT_EQ(scenario.Key, 0x5A17C3E9u);
    ASSERT_GE(scenario.Devices.size(), 3u);
    EXPECT_EQ(scenario.Devices[0].Name, "SPC560B50");
    EXPECT_EQ(scenario.Devices[0].Regions[0].Size, 512u * 1024);
    EXPECT_EQ(scenario.Jtag.Ids.at(0), 0x0AE4201Du);
    EXPECT_EQ(scenario.Bootloader.AppEnd, 0x0803FFFFu);
    const bool hasUnlock = std::any_of(scenario.Devices.begin(), scenario.Devices.end(), [](const auto& d) {
        return std::any_of(d.Regions.begin(), d.Regions.end(), [](const auto& r) { return r.Flags == 15; });
    });
    EXPECT_TRUE(hasUnlock);
}

TEST(SimScenario, NamesAreEightBitAndAtMost64Characters)
{
    const std::string exact(64, 'N');
    const auto scenario = ParseScenario(OneRegion({{"name", exact}, {"flags", 7}, {"size", 16}}));
    EXPECT_EQ(scenario.Devices[0].Regions[0].Name, exact);
    EXPECT_EQ(ErrorOf(OneRegion({{"name", exact + "X"}, {"flags", 7}, {"size", 16}})),
              "devices[0].regions[0].name: longer than 64 characters (65)");

    // JSON text is UTF-8; names go out as one byte per character.
    const std::string tail("B\0C", 3);
    const auto latin = ParseScenario(json{{"devices", json::array({{{"name", std::string("A\xC2\xB5") + tail}}})}});
    EXPECT_EQ(latin.Devices[0].Name, std::string("A\xB5") + tail);
    EXPECT_NE(ErrorOf(json{{"devices", json::array({{{"name", "\xC4\x80"}}})}}).find("devices[0].name: character"),
              std::string::npos);
}

TEST(SimScenario, ErrorsNameTheField)
{
    EXPECT_EQ(ErrorOf(OneRegion({{"name", "R"}, {"flag", 7}, {"size", 16}})), "devices[0].regions[0].flags: missing");
    EXPECT_EQ(ErrorOf(OneRegion({{"name", "R"}, {"flags", 7}, {"size", 16}, {"flag", 7}})),
              "devices[0].regions[0].flag: unknown key");
    EXPECT_NE(
        ErrorOf(OneRegion({{"name", "R"}, {"flags", 7}, {"size", -1}})).find("devices[0].regions[0].size: expected"),
        std::string::npos);
    EXPECT_NE(ErrorOf(OneRegion({{"name", "R"}, {"flags", 7}, {"size", 300000000}})).find("size"), std::string::npos);
    EXPECT_EQ(ErrorOf(json{{"mode", 2}}), "mode: must be 3 (application) or 1 (bootloader)");
    EXPECT_EQ(ErrorOf(json{{"version", {1}}}), "version: expected [major, minor]");
    EXPECT_EQ(ErrorOf(json{{"vanish_after", 0}}), "vanish_after: must be at least 1");
    EXPECT_EQ(ErrorOf(json{{"identity", 5}}), "identity: expected a string, got 5");
    EXPECT_EQ(ErrorOf(json{{"colour", "red"}}), "colour: unknown key");
}

TEST(SimScenario, ContentsMustFitAndBeEitherHexOrText)
{
    const json base{{"name", "R"}, {"flags", 7}, {"size", 16}};
    auto with = [&](json content) {
        json region = base;
        region["contents"] = json::array({content});
        return OneRegion(region);
    };
    const auto ok = ParseScenario(with({{"offset", "0x0E"}, {"hex", "A1 B2"}}));
    EXPECT_EQ(ok.Devices[0].Regions[0].Contents[0].Offset, 14u);
    EXPECT_EQ(ok.Devices[0].Regions[0].Contents[0].Bytes, (std::vector<std::uint8_t>{0xA1, 0xB2}));
    EXPECT_EQ(ErrorOf(with({{"offset", 15}, {"hex", "A1B2"}})),
              "devices[0].regions[0].contents[0]: runs past the end of the region (size 16)");
    EXPECT_EQ(ErrorOf(with({{"offset", 0}, {"hex", "A1"}, {"text", "x"}})),
              "devices[0].regions[0].contents[0]: needs exactly one of \"hex\" or \"text\"");
    EXPECT_EQ(ErrorOf(with({{"offset", 0}, {"hex", "A1B"}})),
              "devices[0].regions[0].contents[0].hex: expected pairs of hex digits (spaces allowed)");
}

TEST(SimScenario, ReadErrorsAndFaultsAreChecked)
{
    json region{{"name", "R"}, {"flags", 7}, {"size", 16}};
    region["read_errors"] = json::array({{{"offset", 16}}});
    EXPECT_EQ(ErrorOf(OneRegion(region)), "devices[0].regions[0].read_errors[0].offset: outside the region");
    region["read_errors"] = json::array({{{"offset", 3}, {"times", -1}, {"no_answer", true}}});
    const auto error = ParseScenario(OneRegion(region)).Devices[0].Regions[0].ReadErrors[0];
    EXPECT_EQ(error.Times, -1);
    EXPECT_EQ(error.Status, 13);
    EXPECT_TRUE(error.NoAnswer);

    EXPECT_NE(ErrorOf(json{{"faults", {{{"kind", "explode"}}}}})
                  .find("faults[0].kind: unknown fault kind \"explode\" (known: no_answer,"),
              std::string::npos);
    EXPECT_EQ(ErrorOf(json{{"faults", {{{"kind", "status"}}}}}), "faults[0].status: missing");
    EXPECT_EQ(ErrorOf(json{{"faults", {{{"kind", "delay"}, {"command", 1}}}}}), "faults[0].delay_ms: missing");
    EXPECT_EQ(ErrorOf(json{{"faults", {{{"kind", "no_answer"}, {"status", 3}}}}}), "faults[0].status: unknown key");
    EXPECT_EQ(ErrorOf(json{{"faults", {{{"kind", "no_answer"}, {"times", 0}}}}}),
              "faults[0].times: must be -1 (all) or at least 1");
    const auto garbage = ParseScenario(json{{"faults", {{{"kind", "garbage"}, {"bytes", 20}}}}});
    EXPECT_EQ(garbage.Faults[0].Garbage.size(), 20u);
    EXPECT_EQ(std::count(garbage.Faults[0].Garbage.begin(), garbage.Faults[0].Garbage.end(), 27), 0);
}

TEST(SimScenario, JtagNeedsAnIdForEveryReportedDevice)
{
    EXPECT_EQ(ErrorOf(json{{"jtag", {{"count", 25}, {"ids", {1, 2, 3}}}}}),
              "jtag.ids: has 3 ids but the scan reports 10");
    EXPECT_EQ(ErrorOf(json{{"jtag", {{"count", 2}, {"ids", {1, 2}}}}}), "");
}

TEST(SimScenario, StatusMapsTakeNumericKeys)
{
    const auto scenario = ParseScenario(json{{"start_operation", {{"status_by_operation", {{"3", 12}}}}},
                                             {"bootloader", {{"page_status", {{"2", 6}}}}}});
    EXPECT_EQ(scenario.StartOperation.StatusByOperation.at(3), 12);
    EXPECT_EQ(scenario.Bootloader.PageStatus.at(2), 6);
    EXPECT_EQ(ErrorOf(json{{"start_operation", {{"status_by_operation", {{"erase", 12}}}}}}),
              "start_operation.status_by_operation.erase: key must be a decimal number from 0 to 5");
}

TEST(SimScenario, TextAndFileErrors)
{
    // Truncated, and a number too large for any JSON reader to hold.
    for (const char* text : {"{ \"mode\": ", "{\"key\": 4E800020}"}) {
        try {
            ParseScenarioText(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const TScenarioError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("not valid JSON", 0), 0u) << error.what();
        }
    }
    EXPECT_THROW(LoadScenarioFile("/nonexistent/lindprog.json"), TScenarioError);
}

} // namespace
} // namespace lindprog::sim
