#include "core/ops/JtagScan.h"

#include "support/OpsHarness.h"

#include <gtest/gtest.h>

namespace lindprog {
namespace {

using nlohmann::json;
using Lines = std::vector<std::string>;

json Chain(int count, int irLength, int ids)
{
    json chain = {{"count", count}, {"ir_length", irLength}, {"ids", json::array()}};
    for (int k = 0; k < ids; ++k)
        chain["ids"].push_back(0x00A0000 + k);
    return chain;
}

// The scan logs the count and at most ten IDs; a refused scan one line.
TEST(JtagScan, LogsTheCountAndAtMostTenIdsOrWhyItFailed)
{
    struct TCase {
        json Chain;
        json Faults;
        Lines First; // the log's first lines
        std::size_t Count;
    };
    const TCase cases[] = {
        {Chain(25, 125, 25), json::array(), {"Device count: 25, total IR length: 125", "Device 1 ID: 000A0000"}, 11},
        {Chain(0, 0, 0), json::array(), {"Device count: 0, total IR length: 0"}, 1},
        {Chain(1, 5, 1),
         json::parse(R"([{"command": 176, "kind": "status", "status": 23}])"),
         {"JTAG scan failed (Incorrect JTAG ID)"},
         1},
    };
    for (const auto& [chain, faults, first, count] : cases) {
        json scenario = test::BaseScenario();
        scenario["jtag"] = chain;
        scenario["faults"] = faults;
        test::TOpsRig rig(scenario);
        ASSERT_TRUE(rig.Port.Open(rig.Link.Number));
        RunJtagScan(rig.Port, rig.View);
        ASSERT_EQ(rig.View.Log.size(), count);
        EXPECT_EQ(Lines(rig.View.Log.begin(), rig.View.Log.begin() + static_cast<long>(first.size())), first);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 0);
    }
}

} // namespace
} // namespace lindprog
