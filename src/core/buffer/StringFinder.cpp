#include "core/buffer/StringFinder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

namespace lindprog {
namespace {

int DigitValue(char c, int base)
{
    int value = base;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

// The base the digits are in, with the prefix taken off `digits`.
int TakeBase(std::string_view& digits)
{
    if (digits.starts_with('$')) {
        digits.remove_prefix(1);
        return 16;
    }
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        return 16;
    }
    return 10;
}

// The scan classifies 64 bytes at a time into a bit mask (bit k for byte k)
// and then walks the edges of the runs, so that its time depends on the number
// of runs, not on a branch per byte: random bytes would mispredict half of them.
constexpr std::size_t BlockSize = 64;
constexpr std::uint64_t Ones = 0x0101010101010101u;
constexpr std::uint64_t HighBits = Ones * 0x80;
constexpr std::uint64_t LowBits = Ones * 0x7F;

// For each byte of `y` (all below 0x80, so no sum carries into the next
// byte): its high bit set where lo <= byte <= hi.
constexpr std::uint64_t BytesInRange(std::uint64_t y, std::uint8_t lo, std::uint8_t hi)
{
    return (y + Ones * (0x80u - lo)) & ~(y + Ones * (0x7Fu - hi)) & HighBits;
}

constexpr std::uint64_t BytesEqual(std::uint64_t y, std::uint8_t value)
{
    return ~((y ^ (Ones * value)) + LowBits) & HighBits;
}

// The high bit of every byte of `x` that belongs to a string.
constexpr std::uint64_t StringCharFlags(std::uint64_t x)
{
    const std::uint64_t y = x & LowBits;
    const std::uint64_t member = BytesInRange(y | (Ones * 0x20), 'a', 'z') | BytesInRange(y, '0', '9') |
                                 BytesInRange(y, '(', ')') | (BytesInRange(y, '-', '/') & ~BytesEqual(y, '.')) |
                                 BytesEqual(y, ' ');
    return member & ~x; // bytes from 0x80 up never belong
}

// Bit k of the result is the high bit of byte k of `flags`.
constexpr std::uint64_t GatherHighBits(std::uint64_t flags)
{
    return ((flags >> 7) * 0x0102040810204080u) >> 56;
}

// Every byte value, in every byte of a word, between neighbours of both kinds.
constexpr bool FlagsMatchTheTable()
{
    for (unsigned value = 0; value < 256; ++value)
        for (unsigned lane = 0; lane < 8; ++lane)
            for (const std::uint64_t around : {Ones * 'Z', Ones * 0x80, Ones * '.'}) {
                const std::uint64_t word =
                    (around & ~(std::uint64_t{0xFF} << (8 * lane))) | (std::uint64_t{value} << (8 * lane));
                const bool flagged = (GatherHighBits(StringCharFlags(word)) >> lane) & 1;
                if (flagged != IsStringChar(static_cast<std::uint8_t>(value)))
                    return false;
            }
    return true;
}
static_assert(FlagsMatchTheTable());

std::uint64_t MemberBits(std::span<const std::uint8_t> block)
{
    std::uint64_t bits = 0;
    if (std::endian::native == std::endian::little && block.size() == BlockSize) {
        for (std::size_t word = 0; word < BlockSize / 8; ++word) {
            std::uint64_t x = 0;
            std::memcpy(&x, block.data() + 8 * word, sizeof x);
            bits |= GatherHighBits(StringCharFlags(x)) << (8 * word);
        }
        return bits;
    }
    for (std::size_t k = 0; k < block.size(); ++k)
        bits |= std::uint64_t{IsStringChar(block[k])} << k;
    return bits;
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

bool TextLessIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::lexicographical_compare(a, b, [](char x, char y) {
        return static_cast<unsigned char>(UpperAscii(x)) < static_cast<unsigned char>(UpperAscii(y));
    });
}

} // namespace

std::vector<TStringEntry> FindStrings(std::span<const std::uint8_t> data, std::int32_t minLength)
{
    const std::size_t least = minLength < 1 ? 1 : static_cast<std::size_t>(minLength);
    std::vector<TStringEntry> found;
    const auto add = [&](std::size_t start, std::size_t end) {
        if (end - start >= least)
            found.push_back({std::string(reinterpret_cast<const char*>(data.data()) + start, end - start),
                             static_cast<std::int64_t>(start)});
    };
    // Runs are found from the block's bit mask: a run starts at a member bit
    // whose predecessor is clear and ends before a clear bit whose predecessor
    // is set; `carry` is the last bit of the block before.
    std::size_t start = 0;
    std::uint64_t carry = 0;
    for (std::size_t base = 0; base < data.size(); base += BlockSize) {
        const std::span<const std::uint8_t> block = data.subspan(base, std::min(BlockSize, data.size() - base));
        const std::uint64_t bits = MemberBits(block);
        const std::uint64_t before = (bits << 1) | carry;
        std::uint64_t starts = bits & ~before;
        // Past a short last block the bits are clear, which ends a run there.
        std::uint64_t ends = ~bits & before;
        carry = block.size() == BlockSize ? bits >> 63 : 0;
        for (; ends != 0; ends &= ends - 1) {
            const int end = std::countr_zero(ends);
            // The run ending here started in this block, or before it.
            if (starts != 0 && std::countr_zero(starts) < end) {
                start = base + static_cast<std::size_t>(std::countr_zero(starts));
                starts &= starts - 1;
            }
            add(start, base + static_cast<std::size_t>(end));
        }
        if (starts != 0)
            start = base + static_cast<std::size_t>(std::countr_zero(starts));
    }
    if (carry != 0)
        add(start, data.size());
    return found;
}

std::int32_t ReadMinStringLength(std::string_view text)
{
    while (text.starts_with(' '))
        text.remove_prefix(1);
    bool negative = false;
    if (text.starts_with('+') || text.starts_with('-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const int base = TakeBase(text);
    if (text.empty())
        return DefaultMinStringLength;
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + (negative ? 1 : 0);
    std::int64_t value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0)
            return DefaultMinStringLength;
        value = value * base + digit;
        if (value > limit)
            return DefaultMinStringLength;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

bool EntryLess(const TStringEntry& a, const TStringEntry& b, TStringColumn column)
{
    switch (column) {
    case TStringColumn::Address: return a.Offset < b.Offset;
    case TStringColumn::Len: return a.Text.size() < b.Text.size();
    default: return TextLessIgnoringCase(a.Text, b.Text);
    }
}

} // namespace lindprog
