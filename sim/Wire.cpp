#include "Wire.h"

#include <cctype>

namespace lindprog::sim {

std::uint8_t XorCheck(std::span<const std::uint8_t> bytes)
{
    std::uint8_t check = 0;
    for (const std::uint8_t b : bytes)
        check ^= b;
    return check;
}

std::vector<std::uint8_t> EncodeFrameWithMark(std::uint8_t sequence, std::uint8_t mark,
                                              std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + FrameOverhead);
    const auto length = static_cast<std::uint16_t>(payload.size());
    frame.push_back(FrameStart);
    frame.push_back(sequence);
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
    frame.push_back(mark);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(XorCheck(frame));
    return frame;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t sequence, std::span<const std::uint8_t> payload)
{
    return EncodeFrameWithMark(sequence, HeaderMark, payload);
}

void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

void AppendText(std::vector<std::uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!text.empty())
            text.push_back(' ');
        text.push_back(Digits[b >> 4]);
        text.push_back(Digits[b & 0x0F]);
    }
    return text;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

} // namespace

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (const char c : text) {
        if (c == ' ')
            continue;
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>((high << 4) | digit));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

} // namespace lindprog::sim
