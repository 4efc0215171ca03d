#include "core/production/SerialFormat.h"

#include <gtest/gtest.h>

#include <vector>

namespace lindprog {
namespace {

struct TLayoutCase {
    const char* Format;
    std::uint64_t Number;
    std::vector<std::uint8_t> Bytes;
};

TEST(SerialFormat, WritesEachLayoutAtItsOffset)
{
    const TLayoutCase cases[] = {
        {"u32le", 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {"u32be", 0x12345678, {0x12, 0x34, 0x56, 0x78}},
        {"u64le", 0x0102030405060708, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"u64be", 0x0102030405060708, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"ascii-dec:8", 100017, {'0', '0', '1', '0', '0', '0', '1', '7'}},
        {"ascii-hex:6", 0xBEEF, {'0', '0', 'B', 'E', 'E', 'F'}},
        {"ascii-dec:20", 18446744073709551615ull,
         std::vector<std::uint8_t>(
             {'1', '8', '4', '4', '6', '7', '4', '4', '0', '7', '3', '7', '0', '9', '5', '5', '1', '6', '1', '5'})},
    };
    for (const auto& c : cases) {
        const auto format = TSerialFormat::Parse(c.Format);
        ASSERT_TRUE(format) << c.Format;
        EXPECT_EQ(format->Text(), c.Format);
        std::vector<std::uint8_t> buffer(c.Bytes.size() + 3, 0xAA);
        ASSERT_TRUE(format->Write(buffer, 2, c.Number)) << c.Format;
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 2, buffer.end() - 1), c.Bytes) << c.Format;
        EXPECT_EQ(buffer.front(), 0xAA);
        EXPECT_EQ(buffer.back(), 0xAA);
        // One byte short of room, the buffer stays as it was.
        std::vector<std::uint8_t> tight(c.Bytes.size() + 1, 0xAA);
        EXPECT_FALSE(format->Write(tight, 2, c.Number)) << c.Format;
        EXPECT_EQ(tight, std::vector<std::uint8_t>(c.Bytes.size() + 1, 0xAA));
    }
}

TEST(SerialFormat, RefusesNumbersThatDoNotFitAndUnknownNames)
{
    std::vector<std::uint8_t> buffer(32);
    EXPECT_FALSE(TSerialFormat::Parse("u32le")->Write(buffer, 0, 0x100000000ull));
    EXPECT_FALSE(TSerialFormat::Parse("ascii-dec:3")->Write(buffer, 0, 1000));
    EXPECT_FALSE(TSerialFormat::Parse("ascii-hex:2")->Write(buffer, 0, 0x100));
    for (const char* bad : {"u24le", "U32LE", "u32le:4", "ascii-dec", "ascii-dec:0", "ascii-dec:21", "ascii-hex:x"})
        EXPECT_FALSE(TSerialFormat::Parse(bad)) << bad;
}

} // namespace
} // namespace lindprog
