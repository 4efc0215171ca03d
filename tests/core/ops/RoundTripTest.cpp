// Program then Read gives back exactly what was programmed, for regions of
// every awkward size (empty, below, at and just past a block, odd sizes up to
// 64 KiB) with read errors planted at random: the block arithmetic, the cut
// last block, the fall back to small blocks and the CRC all meet here.

#include "core/base/Stm32Crc.h"
#include "support/OpsHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace lindprog {
namespace {

using nlohmann::json;

constexpr int RegionCount = 200;

std::vector<std::uint32_t> RegionSizes(std::mt19937& random)
{
    std::vector<std::uint32_t> sizes{0, 1, 3, 4, 5, 511, 512, 513, 1023, 1024, 1025, 65536};
    // Spread evenly over the orders of magnitude, so small regions and their
    // edge cases are as frequent as large ones and the run stays short.
    std::uniform_real_distribution<double> magnitude(0.0, std::log2(65535.0));
    while (sizes.size() < RegionCount)
        sizes.push_back(static_cast<std::uint32_t>(std::exp2(magnitude(random))) | 1);
    return sizes;
}

TEST(RoundTrip, ProgramThenReadGivesBackTheBufferForEverySize)
{
    std::mt19937 random(20261208);
    const auto sizes = RegionSizes(random);
    json regions = json::array();
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        json region = {{"name", "R" + std::to_string(k)}, {"flags", 7}, {"size", sizes[k]}, {"fill", 0}};
        // A failing read the driver must get past: each fails once, so the
        // small blocks that follow read it.
        if (sizes[k] > 8 && k % 3 == 0) {
            std::uniform_int_distribution<std::uint32_t> at(0, sizes[k] - 1);
            region["read_errors"] = json::array({{{"offset", at(random)}, {"times", 1}, {"status", 13}}});
        }
        regions.push_back(region);
    }
    json scenario = test::BaseScenario();
    scenario["devices"][0]["regions"] = regions;
    test::TOpsRig rig(scenario);
    rig.Connect();
    ASSERT_EQ(rig.View.RegionNames.size(), sizes.size());

    for (std::size_t k = 0; k < sizes.size(); ++k) {
        SCOPED_TRACE("region " + std::to_string(k) + " of " + std::to_string(sizes[k]) + " bytes");
        rig.Connection.SelectRegion(static_cast<int>(k));
        ASSERT_EQ(rig.View.Buffer.size(), sizes[k]);
        std::vector<std::uint8_t> image(sizes[k]);
        for (auto& byte : image)
            byte = static_cast<std::uint8_t>(random());
        std::copy(image.begin(), image.end(), rig.View.Buffer.begin());

        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Program);
        ASSERT_EQ(rig.Runner.Outcome().Last().Stage, TOperation::Verify);
        ASSERT_EQ(rig.Runner.Outcome().Last().Status, PortStatus::Ok) << rig.Runner.Outcome().Last().Line;

        std::fill(rig.View.Buffer.begin(), rig.View.Buffer.end(), std::uint8_t{0x5A});
        rig.View.Answers = {TAnswer::Yes}; // ignore the planted read error
        rig.Click(TOperation::Read);
        ASSERT_EQ(rig.Runner.Outcome().Last().Status, PortStatus::Ok) << rig.Runner.Outcome().Last().Line;
        EXPECT_EQ(rig.View.Buffer, image);
        EXPECT_EQ(rig.Runner.Outcome().Last().Bytes, sizes[k]);
    }
}

} // namespace
} // namespace lindprog
