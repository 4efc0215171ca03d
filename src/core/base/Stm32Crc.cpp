#include "core/base/Stm32Crc.h"

#include <array>
#include <cstddef>

namespace lindprog {
namespace {

using TCrcTable = std::array<std::uint32_t, 256>;

// Table k gives, for a byte b, the register that b in the top byte leaves after
// 8 + 8k bits have been shifted through the register. Shifting a whole word
// through 32 bits is then the XOR of tables 3, 2, 1, 0 taken at the word's
// bytes from the top one down; tables 4 to 7 carry a word through 64 bits.
constexpr std::array<TCrcTable, 8> MakeTables()
{
    std::array<TCrcTable, 8> tables{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t reg = b << 24;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80000000u) != 0 ? (reg << 1) ^ CrcPolynomial : reg << 1;
        tables[0][b] = reg;
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (std::size_t b = 0; b < 256; ++b) {
            const std::uint32_t prev = tables[k - 1][b];
            tables[k][b] = (prev << 8) ^ tables[0][prev >> 24];
        }
    return tables;
}

constexpr std::array<TCrcTable, 8> Tables = MakeTables();

// The register `value` shifted through 32 zero bits (first) plus 32 more bits
// for each step of `depth` (0 or 1).
inline std::uint32_t ShiftWord(std::uint32_t value, std::size_t depth)
{
    const std::size_t t = 4 * depth;
    return Tables[t + 3][value >> 24] ^ Tables[t + 2][(value >> 16) & 0xFF] ^ Tables[t + 1][(value >> 8) & 0xFF] ^
           Tables[t][value & 0xFF];
}

inline std::uint32_t ReadWordLE(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Two words per step: the first goes through 64 bits, the second through 32.
inline std::uint32_t FoldPair(std::uint32_t reg, std::uint32_t first, std::uint32_t second)
{
    return ShiftWord(reg ^ first, 1) ^ ShiftWord(second, 0);
}

} // namespace

std::uint32_t CrcUpdateWord(std::uint32_t reg, std::uint32_t word)
{
    return ShiftWord(reg ^ word, 0);
}

std::uint32_t CrcUpdateBuffer(std::uint32_t reg, const std::uint32_t* words, std::int32_t count)
{
    if (count <= 0)
        return reg;
    const std::span<const std::uint32_t> all(words, static_cast<std::size_t>(count));
    std::size_t i = 0;
    for (; i + 2 <= all.size(); i += 2)
        reg = FoldPair(reg, all[i], all[i + 1]);
    if (i < all.size())
        reg = CrcUpdateWord(reg, all[i]);
    return reg;
}

std::uint32_t CrcUpdateBytes(std::uint32_t reg, std::span<const std::uint8_t> bytes)
{
    const std::size_t words = bytes.size() / 4;
    const std::uint8_t* p = bytes.data();
    std::size_t i = 0;
    for (; i + 2 <= words; i += 2, p += 8)
        reg = FoldPair(reg, ReadWordLE(p), ReadWordLE(p + 4));
    if (i < words)
        reg = CrcUpdateWord(reg, ReadWordLE(p));
    return reg;
}

} // namespace lindprog
