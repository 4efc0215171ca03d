#include "core/base/Stm32Crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The hardware's loop, bit by bit, over little-endian words: the reference the
// table-driven routines must match.
std::uint32_t ReferenceCrc(const Bytes& bytes)
{
    std::uint32_t reg = 0xFFFFFFFF;
    for (std::size_t k = 0; k + 4 <= bytes.size(); k += 4) {
        reg ^= static_cast<std::uint32_t>(bytes[k]) | (static_cast<std::uint32_t>(bytes[k + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes[k + 2]) << 16) | (static_cast<std::uint32_t>(bytes[k + 3]) << 24);
        for (int bit = 0; bit < 32; ++bit)
            reg = (reg & 0x80000000u) != 0 ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    }
    return reg;
}

Bytes RandomBytes(std::mt19937& random, std::size_t size)
{
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST(Stm32Crc, CheckValues)
{
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes{0x12, 0x34, 0x56}), 0xFFFFFFFFu);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes{}), 0xFFFFFFFFu);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes(4, 0xFF)), 0x00000000u);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes(4, 0x00)), 0xC704DD7Bu);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes(16, 0x00)), 0x552D22C8u);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes(16, 0xFF)), 0xA79C3203u);
    EXPECT_EQ(CrcUpdateBytes(CrcStart, Bytes{'1', '2', '3', '4', '5', '6', '7', '8'}), 0xFEFC54F9u);
    EXPECT_EQ(CrcUpdateWord(CrcStart, 0xFFFFFFFF), 0x00000000u);
    EXPECT_EQ(CrcUpdateWord(CrcStart, 0x00000000), 0xC704DD7Bu);
}

TEST(Stm32Crc, TableFormsMatchTheBitLoop)
{
    std::mt19937 random(20240611);
    for (std::size_t size = 0; size <= 37; ++size) {
        const Bytes bytes = RandomBytes(random, size);
        const std::uint32_t expected = ReferenceCrc(bytes);
        EXPECT_EQ(CrcUpdateBytes(CrcStart, bytes), expected) << "size " << size;

        std::vector<std::uint32_t> words(size / 4);
        for (std::size_t k = 0; k < words.size(); ++k)
            words[k] = bytes[4 * k] | (bytes[4 * k + 1] << 8) | (bytes[4 * k + 2] << 16) |
                       (static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24);
        const auto count = static_cast<std::int32_t>(words.size());
        EXPECT_EQ(CrcUpdateBuffer(CrcStart, words.data(), count), expected) << "size " << size;

        std::uint32_t oneByOne = CrcStart;
        for (const std::uint32_t word : words)
            oneByOne = CrcUpdateWord(oneByOne, word);
        EXPECT_EQ(oneByOne, expected) << "size " << size;
    }
}

TEST(Stm32Crc, RegisterCarriesFromBlockToBlock)
{
    // A device read folds 512-byte blocks, a 4-byte block after a failed one,
    // and a last block with a tail of 3 bytes that is never included.
    std::mt19937 random(7);
    const Bytes bytes = RandomBytes(random, 512 + 4 + 512 + 19);
    std::uint32_t reg = CrcStart;
    std::size_t offset = 0;
    for (const std::size_t length : {512u, 4u, 512u, 19u}) {
        reg = CrcUpdateBytes(reg, std::span(bytes).subspan(offset, length));
        offset += length;
    }
    EXPECT_EQ(reg, ReferenceCrc(bytes));
    EXPECT_EQ(reg, CrcUpdateBytes(CrcStart, bytes));
}

TEST(Stm32Crc, CountOfZeroOrLessLeavesTheRegister)
{
    const std::uint32_t words[2] = {1, 2};
    EXPECT_EQ(CrcUpdateBuffer(0x12345678, words, 0), 0x12345678u);
    EXPECT_EQ(CrcUpdateBuffer(0x12345678, words, -5), 0x12345678u);
    EXPECT_EQ(CrcUpdateBuffer(0x12345678, nullptr, 0), 0x12345678u);
}

TEST(Stm32Crc, RegisterCarriesAcrossSplitBuffers)
{
    // A device read folds block after block into one register; the result
    // must equal one pass over the whole image.
    std::mt19937 random(99);
    const Bytes bytes = RandomBytes(random, 1u << 20);
    const std::uint32_t whole = CrcUpdateBytes(CrcStart, bytes);
    std::uint32_t carried = CrcStart;
    for (std::size_t offset = 0; offset < bytes.size(); offset += 512)
        carried = CrcUpdateBytes(carried, std::span(bytes).subspan(offset, 512));
    EXPECT_EQ(carried, whole);
}

} // namespace
} // namespace lindprog
