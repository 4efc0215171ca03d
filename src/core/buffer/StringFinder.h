#pragma once
// The string finder: the readable text in the buffer, as maximal runs of a
// narrow character set (letters, digits, space and ( ) - /) of at least a
// chosen length, with their offsets. It is no general printable-byte search:
// "." "," "_" ":" and everything from 0x7B up end a run.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog {

namespace detail {
constexpr std::array<bool, 256> MakeStringCharTable()
{
    std::array<bool, 256> table{};
    for (const char c : std::string_view(" ()-/"))
        table[static_cast<unsigned char>(c)] = true;
    for (int c = '0'; c <= '9'; ++c)
        table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = table[c + ('a' - 'A')] = true;
    return table;
}
inline constexpr std::array<bool, 256> StringCharTable = MakeStringCharTable();
} // namespace detail

// Whether `c` belongs to a string: 67 byte values.
constexpr bool IsStringChar(std::uint8_t c)
{
    return detail::StringCharTable[c];
}

// One run found: its bytes (plain ASCII) and the offset of its first byte.
struct TStringEntry {
    std::string Text;
    std::int64_t Offset = 0;
    bool operator==(const TStringEntry&) const = default;
};

// The runs of at least `minLength` characters in ascending offset order, a run
// that reaches the end of the data included. Empty when nothing is found. A
// minimum of 0 or below counts as 1: every run is listed.
std::vector<TStringEntry> FindStrings(std::span<const std::uint8_t> data, std::int32_t minLength);

inline constexpr std::int32_t DefaultMinStringLength = 4;

// The minimum the length prompt offers after `last` was entered: `last`, but
// never below 4.
constexpr std::int32_t OfferedMinStringLength(std::int32_t last)
{
    return last < DefaultMinStringLength ? DefaultMinStringLength : last;
}

// The typed minimum read leniently: leading spaces, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x". Anything else (empty
// text, trailing characters, a number beyond 32 bits) gives 4, with no message.
std::int32_t ReadMinStringLength(std::string_view text);

// The columns of the strings list and their orders, always ascending: by
// offset, by length, or by text ignoring the case of a-z and A-Z.
enum class TStringColumn { Address = 0, Len = 1, String = 2 };
bool EntryLess(const TStringEntry& a, const TStringEntry& b, TStringColumn column);

} // namespace lindprog
