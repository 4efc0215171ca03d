#pragma once
// Finding a run of bytes in the buffer: what the user typed read as the bytes
// to look for, and the search forward or backward from the cursor that goes
// on at the other end of the buffer when it runs out (F3, Shift+F3).
//
// The pattern is read as hex bytes ("DE AD be ef", "deadbeef") or as text.
// Hex digits pair up within each group between spaces, so a group with an odd
// count is refused rather than guessed at; text in double quotes is taken as
// text even when hex is chosen, so one field serves both. Text becomes the
// bytes the view's character column shows for it (Windows-1252); a character
// without such a byte is refused, since no byte in the buffer could match it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog {

enum class TPatternKind { Hex, Text };

struct TSearchPattern {
    std::vector<std::uint8_t> Bytes;
    std::string Error; // why the text is no pattern, for the user; empty when it is one

    bool Valid() const { return Error.empty(); }
};

TSearchPattern ParseSearchPattern(std::u32string_view text, TPatternKind kind);

struct TFoundAt {
    std::uint32_t Offset = 0;
    bool Wrapped = false; // found only after going on at the other end of the buffer
    bool operator==(const TFoundAt&) const = default;
};

// The first match that starts at `from` or after it, else the first from the
// start. A match never runs over the end of the buffer.
std::optional<TFoundAt> FindForward(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
                                    std::uint32_t from);
// The last match that starts before `before`, else the last one in the buffer.
std::optional<TFoundAt> FindBackward(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
                                     std::uint32_t before);

} // namespace lindprog
