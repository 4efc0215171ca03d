#include "core/production/SerialFormat.h"

#include "core/base/LittleEndian.h"

#include <charconv>
#include <limits>

namespace lindprog {

namespace {

struct TNamedKind {
    std::string_view Name;
    TSerialKind Kind;
    std::size_t Width; // 0: given after the colon
};

constexpr TNamedKind Kinds[] = {
    {"u32le", TSerialKind::U32Le, 4}, {"u32be", TSerialKind::U32Be, 4},        {"u64le", TSerialKind::U64Le, 8},
    {"u64be", TSerialKind::U64Be, 8}, {"ascii-dec", TSerialKind::AsciiDec, 0}, {"ascii-hex", TSerialKind::AsciiHex, 0},
};

std::optional<std::size_t> ParseWidth(std::string_view digits)
{
    std::size_t width = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), width);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || width == 0 ||
        width > TSerialFormat::MaxAsciiWidth)
        return std::nullopt;
    return width;
}

bool IsAscii(TSerialKind kind)
{
    return kind == TSerialKind::AsciiDec || kind == TSerialKind::AsciiHex;
}

std::string Digits(std::uint64_t number, int base)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, number, base);
    std::string digits(text, result.ptr);
    for (char& c : digits)
        c = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    return digits;
}

} // namespace

std::optional<TSerialFormat> TSerialFormat::Parse(std::string_view text)
{
    const auto colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const auto& entry : Kinds) {
        if (entry.Name != name)
            continue;
        if ((entry.Width == 0) != (colon != std::string_view::npos))
            return std::nullopt;
        TSerialFormat format{entry.Kind, entry.Width};
        if (entry.Width == 0) {
            const auto width = ParseWidth(text.substr(colon + 1));
            if (!width)
                return std::nullopt;
            format.Width = *width;
        }
        return format;
    }
    return std::nullopt;
}

std::string TSerialFormat::Text() const
{
    for (const auto& entry : Kinds)
        if (entry.Kind == Kind)
            return std::string(entry.Name) + (IsAscii(Kind) ? ":" + std::to_string(Width) : "");
    return {};
}

std::uint64_t TSerialFormat::Largest() const
{
    constexpr auto all = std::numeric_limits<std::uint64_t>::max();
    switch (Kind) {
    case TSerialKind::U32Le:
    case TSerialKind::U32Be: return std::numeric_limits<std::uint32_t>::max();
    case TSerialKind::U64Le:
    case TSerialKind::U64Be: return all;
    case TSerialKind::AsciiHex: return Width >= 16 ? all : (std::uint64_t{1} << (4 * Width)) - 1;
    case TSerialKind::AsciiDec: break;
    }
    std::uint64_t largest = 0;
    for (std::size_t k = 0; k < Width; ++k) {
        if (largest > (all - 9) / 10)
            return all;
        largest = largest * 10 + 9;
    }
    return largest;
}

std::string TSerialFormat::Show(std::uint64_t number) const
{
    return Digits(number, Kind == TSerialKind::AsciiHex ? 16 : 10);
}

bool TSerialFormat::Write(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t number) const
{
    if (offset > bytes.size() || bytes.size() - offset < Width || number > Largest())
        return false;
    switch (Kind) {
    case TSerialKind::U32Le: PutU32LE(bytes, offset, static_cast<std::uint32_t>(number)); break;
    case TSerialKind::U32Be: PutU32BE(bytes, offset, static_cast<std::uint32_t>(number)); break;
    case TSerialKind::U64Le: PutU64LE(bytes, offset, number); break;
    case TSerialKind::U64Be: PutU64BE(bytes, offset, number); break;
    case TSerialKind::AsciiDec:
    case TSerialKind::AsciiHex: {
        const std::string digits = Show(number);
        const std::size_t zeros = Width - digits.size();
        for (std::size_t k = 0; k < Width; ++k)
            bytes[offset + k] = static_cast<std::uint8_t>(k < zeros ? '0' : digits[k - zeros]);
        break;
    }
    }
    return true;
}

} // namespace lindprog
