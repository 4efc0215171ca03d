// The one resolver of targets: what each front end and job names, found in
// the adapter's catalogue or refused with what the adapter offers instead.

#include "support/OpsHarness.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace lindprog
