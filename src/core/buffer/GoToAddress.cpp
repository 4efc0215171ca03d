#include "core/buffer/GoToAddress.h"

#include "core/base/TextFormat.h"
#include "core/buffer/DumpLayout.h"

#include <optional>

namespace lindprog {
namespace {

constexpr const char* NotANumber = "Type the address in hex (1F00 or 0x1F00), or # and a decimal number (#7936).";

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Digits of `radix` only; nothing for an empty text or a value past 64 bits.
std::optional<std::uint64_t> ParseDigits(std::string_view digits, unsigned radix, bool& overflow)
{
    overflow = false;
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = HexDigitValue(static_cast<std::uint8_t>(c));
        if (digit < 0 || static_cast<unsigned>(digit) >= radix)
            return std::nullopt;
        if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / radix) {
            overflow = true;
            return std::nullopt;
        }
        value = value * radix + static_cast<unsigned>(digit);
    }
    return value;
}

TGoToTarget Refuse(std::string error)
{
    return {0, std::move(error)};
}

} // namespace

TGoToTarget ResolveGoToAddress(std::string_view text, TAddressKind kind, std::uint64_t base, std::uint32_t size)
{
    text = Trimmed(text);
    if (text.empty())
        return Refuse("Enter an address.");
    unsigned radix = 16;
    if (text.front() == '#') {
        radix = 10;
        text.remove_prefix(1);
    } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    bool overflow = false;
    const std::optional<std::uint64_t> value = ParseDigits(text, radix, overflow);
    if (!value)
        return Refuse(overflow ? "The number is too large for an address." : NotANumber);
    if (size == 0)
        return Refuse("The buffer is empty: there is nothing to go to.");
    const auto last = static_cast<unsigned long long>(size - 1);
    if (kind == TAddressKind::Offset) {
        if (*value > last)
            return Refuse(Format("Offset 0x%llX lies outside the buffer (0x0..0x%llX).",
                                 static_cast<unsigned long long>(*value), last));
        return {static_cast<std::uint32_t>(*value), {}};
    }
    if (*value < base || *value - base > last)
        return Refuse(Format("Address 0x%llX lies outside the region (0x%llX..0x%llX).",
                             static_cast<unsigned long long>(*value), static_cast<unsigned long long>(base),
                             static_cast<unsigned long long>(base + last)));
    return {static_cast<std::uint32_t>(*value - base), {}};
}

} // namespace lindprog
