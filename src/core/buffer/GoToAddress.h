#pragma once
// What the user types into "Go to address": a number read as an offset into
// the region's buffer or, when the base of the region on the target is known
// (the address chosen when an image file was opened or saved), as the
// target's address. Anything outside the buffer is refused with the range
// that would have been accepted, so the user sees at once which of the two
// was meant.
//
// Numbers are hexadecimal, as every address the program shows: "1F00" or
// "0x1F00". A leading "#" makes a number decimal ("#7936"): a decimal suffix
// would be ambiguous, since "d" and "b" are hex digits themselves.

#include <cstdint>
#include <string>
#include <string_view>

namespace lindprog {

enum class TAddressKind { Offset, Target };

struct TGoToTarget {
    std::uint32_t Offset = 0; // into the buffer
    std::string Error;        // why the text is refused; empty when Offset holds

    bool Valid() const { return Error.empty(); }
};

// `base` is used only for TAddressKind::Target.
TGoToTarget ResolveGoToAddress(std::string_view text, TAddressKind kind, std::uint64_t base, std::uint32_t size);

} // namespace lindprog
