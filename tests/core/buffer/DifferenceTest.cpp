#include "core/buffer/Difference.h"

#include <gtest/gtest.h>

#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Ranges = std::vector<TDifferenceRange>;

TEST(Difference, RangesMergeAdjacentBytesAndTheHintNeedsEveryByteToOnlySetBits)
{
    struct TCase {
        Bytes Expected, Read;
        std::uint64_t Count;
        Ranges Merged;
        bool OnlySetsBits;
    };
    const TCase cases[] = {
        {{1, 2, 3}, {1, 2, 3}, 0, {}, false},
        {{0x00, 0x12, 0x12, 0x34}, {0x00, 0xFF, 0x13, 0x34}, 2, {{1, 3}}, true},          // bits only added
        {{0x00, 0x12, 0x00, 0x34}, {0xFF, 0x12, 0xFF, 0x30}, 3, {{0, 1}, {2, 4}}, false}, // 0x34 -> 0x30 clears a bit
        {{1, 2}, {1, 2, 3}, 1, {{2, 3}}, false}, // longer read: its tail differs
    };
    for (const auto& c : cases) {
        const TDifferences differences = FindDifferences(c.Expected, c.Read);
        EXPECT_EQ(differences.Count, c.Count);
        EXPECT_EQ(differences.Ranges, c.Merged);
        EXPECT_EQ(differences.OnlySetsBits, c.OnlySetsBits);
    }
}

TEST(Difference, NavigationWrapsAndTheReportNamesBothValues)
{
    const Ranges ranges{{0x10, 0x12}, {0x40, 0x41}, {0x90, 0x98}};
    EXPECT_EQ(NextDifference(ranges, 0x00), 0u);
    EXPECT_EQ(NextDifference(ranges, 0x10), 1u);
    EXPECT_EQ(NextDifference(ranges, 0x11, true), 0u) << "inside a range, inclusive stays on it";
    EXPECT_EQ(NextDifference(ranges, 0x90), 0u) << "past the last wraps to the first";
    EXPECT_EQ(PreviousDifference(ranges, 0x40), 0u);
    EXPECT_EQ(PreviousDifference(ranges, 0x10), 2u) << "before the first wraps to the last";

    const Bytes expected{0xAA, 0x00, 0x00, 0x00};
    const Bytes read{0xAA, 0xFF, 0x00, 0xFF};
    EXPECT_EQ(DifferenceReport(FindDifferences(expected, read), expected, read, 1, 1),
              (std::vector<std::string>{"2 bytes differ in 2 ranges", "  0x00000001..0x00000001 (1 bytes)",
                                        "  ... and 1 more ranges", "  at 0x00000001: expected 00, read FF",
                                        "Every difference only sets bits: looks not erased/not written"}));
}

} // namespace
} // namespace lindprog
