// The one resolver of targets: what each front end and job names, found in
// the adapter's catalogue or refused with what the adapter offers instead.

#include "support/OpsHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace lindprog {
namespace {

using nlohmann::json;

TEntryChoice Named(const std::string& name)
{
    return {name, std::nullopt};
}

TEST(Target, ResolvesByNameOrIndexAndSaysWhatTheAdapterOffers)
{
    json scenario = test::BaseScenario();
    scenario["devices"][0]["regions"].push_back({{"name", "OTP"}, {"flags", 1}, {"size", 64}});
    scenario["devices"][0]["regions"].push_back({{"name", "Boot"}, {"flags", 3}, {"size", 64}});
    struct TCase {
        TTargetChoice Choice;
        TOperation Operation;
        const char* Place; // "" when it resolves
        const char* Text;  // the refusal, or the region it resolved to
        std::uint8_t VoltageCode = 1;
    };
    const TCase cases[] = {
        {{}, TOperation::Read, "", "Flash"},
        {{Named("0"), Named("OTP"), "3+5"}, TOperation::Read, "", "OTP", 3},
        {{Named("TESTCHIP"), Named("1"), {}}, TOperation::Verify, "", "OTP"},
        {{Named("NOPE"), {}, {}},
         TOperation::Read,
         "device",
         "the adapter offers no device 'NOPE'; it offers: 0 'TESTCHIP'"},
        {{{}, Named("3"), {}},
         TOperation::Read,
         "region",
         "device 'TESTCHIP' has no region '3'; its regions: 0 'Flash', 1 'OTP', 2 'Boot'"},
        {{{}, {}, "5.0"},
         TOperation::Read,
         "voltage",
         "the device offers no output voltage '5.0'; it offers: 3.3, 3+5"},
        {{{}, Named("OTP"), {}},
         TOperation::Write,
         "operation",
         "region 'OTP' does not allow write; it allows: read, verify, blank-check"},
        {{{}, Named("Boot"), {}}, TOperation::Program, "operation", ""}, // writable, not erasable: why, below
    };
    test::TOpsRig rig(scenario);
    rig.Connect();
    for (const TCase& c : cases) {
        try {
            const TResolvedTarget target =
                rig.Session.Resolve(c.Choice, c.Operation, OperationInfo(c.Operation).Command);
            EXPECT_STREQ(c.Place, "") << c.Text;
            EXPECT_EQ(target.Region().Name, c.Text);
            EXPECT_EQ(target.VoltageCode, c.VoltageCode) << c.Text;
        } catch (const TTargetError& error) {
            EXPECT_EQ(error.Place, c.Place) << error.what();
            if (*c.Text != '\0')
                EXPECT_EQ(std::string(error.what()), c.Text);
            else
                EXPECT_EQ(std::string(error.what()), EraseRefusal(c.Operation, "Boot", 3));
        }
    }
}

// Every text the core composes for a person from an adapter's names shows
// their control characters as escapes: a name must not reach a terminal as
// an escape sequence nor forge a line of its own.
TEST(Target, AdapterNamesInTextsForAPersonShowTheirControlCharacters)
{
    const std::string hostile = "\x1B[31mred\nX";
    const std::string shown = "\\x1B[31mred\\nX";
    const TDeviceTarget device{0, hostile, {{hostile, 64, 1}}, {}, 0};
    const auto refusal = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const TTargetError& error) {
            return std::string(error.what());
        }
        return std::string("no refusal");
    };
    const std::pair<std::string, int> texts[] = {
        // the text, and how many lines it has
        {refusal([&] { device.FindRegion(Named("nope")); }), 1},
        {refusal([&] { device.CheckAllows(0, TOperation::Erase, "erase"); }), 1},
        {ListedEntries({hostile}), 1},
        {RegionTooLarge(hostile, 1u << 30), 1},
        {EraseRefusal(TOperation::Program, hostile, 0x02), 1},
        {AdapterReportText({hostile, 1, 18, 3, "00ABCDEF", {device}}), 6}};
    for (const auto& [text, lines] : texts) {
        EXPECT_EQ(text.find('\x1B'), std::string::npos) << text;
        EXPECT_NE(text.find(shown), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines - 1) << text;
    }
}

} // namespace
} // namespace lindprog
