#pragma once
// How a unit's serial number is laid into its image: a binary integer of 4 or
// 8 bytes in either byte order, or ASCII digits of a fixed width (decimal or
// upper-case hex, zero-padded). The width is fixed so that every unit's image
// has the same size and layout, and the target's firmware reads the number
// from a known place without a terminator.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lindprog {

enum class TSerialKind { U32Le, U32Be, U64Le, U64Be, AsciiDec, AsciiHex };

struct TSerialFormat {
    // The widest ASCII field taken: 20 decimal digits hold every 64-bit number.
    static constexpr std::size_t MaxAsciiWidth = 20;

    TSerialKind Kind = TSerialKind::U32Le;
    std::size_t Width = 4; // bytes the number takes in the image

    // "u32le", "ascii-dec:8", ...; nothing for any other text.
    static std::optional<TSerialFormat> Parse(std::string_view text);
    // The text Parse reads.
    std::string Text() const;
    // The largest number the field holds.
    std::uint64_t Largest() const;
    // The number as it reads to a person: decimal, or hex digits for ascii-hex.
    std::string Show(std::uint64_t number) const;
    // Writes `number` at `offset`. False, with nothing written, when the field
    // runs past the end of `bytes` or the number does not fit the field.
    bool Write(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t number) const;
};

} // namespace lindprog
