#include "core/buffer/DumpLayout.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace lindprog {
namespace {

// Windows-1252 at 0x80..0x9F; the five codes it leaves undefined map to the
// control character of the same number, as the platform's conversion does.
constexpr std::array<char16_t, 32> Cp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& text, char32_t cp)
{
    if (cp < 0x80) {
        text += static_cast<char>(cp);
    } else if (cp < 0x800) {
        text += static_cast<char>(0xC0 | (cp >> 6));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (cp >> 12));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Upper-case hex, zero-padded to `digits`.
std::string HexNumber(std::uint64_t value, int digits)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (auto pos = text.rbegin(); pos != text.rend() && value != 0; ++pos, value >>= 4)
        *pos = Digits[value & 0x0F];
    return text;
}

int HexDigitsOf(std::uint64_t value)
{
    int digits = 1;
    while (value >>= 4)
        ++digits;
    return digits;
}

} // namespace

TCellColours CellColours(bool selected, bool changed, bool differs)
{
    if (selected)
        return {Blue, changed ? Yellow : White};
    return {differs ? LightRed : LightCyan, changed ? Blue : Black};
}

bool IsHexDigit(std::uint8_t ch)
{
    return HexDigitValue(ch) >= 0;
}

int HexDigitValue(std::uint8_t ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

char32_t AnsiToUnicode(std::uint8_t code)
{
    if (code >= 0x80 && code <= 0x9F)
        return Cp1252High[code - 0x80];
    return code;
}

std::uint8_t UnicodeToAnsi(char32_t ch)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return static_cast<std::uint8_t>(ch);
    for (std::size_t i = 0; i < Cp1252High.size(); ++i)
        if (Cp1252High[i] == ch)
            return static_cast<std::uint8_t>(0x80 + i);
    return '?';
}

char32_t DisplayChar(std::uint8_t byte)
{
    return byte < 0x20 || byte == 0xFF ? U'.' : AnsiToUnicode(byte);
}

TDumpLayout::TDumpLayout(std::uint64_t dataSize, std::uint64_t addressBase) : Base(addressBase)
{
    const std::uint64_t lastLine = dataSize == 0 ? 0 : (dataSize - 1) / BytesPerLine * BytesPerLine;
    // Target addresses take at least the eight digits of a 32-bit address.
    const int digits = std::max(HexDigitsOf(addressBase + lastLine), addressBase != 0 ? 8 : MinOffsetDigits);
    Shift = digits - MinOffsetDigits;
}

bool TDumpLayout::IsGapColumn(int col) const
{
    const int c = col - Shift;
    if (c >= 10 && c <= 33)
        return (c - 10) % 3 == 2;
    if (c >= 34 && c <= 57)
        return (c - 10) % 3 == 0;
    return false;
}

bool TDumpLayout::IsHighDigit(int col) const
{
    const int c = col - Shift;
    return c < 33 ? (c - 10) % 3 == 0 : (c - 10) % 3 == 1;
}

int TDumpLayout::ByteInLine(int col) const
{
    const int c = col - Shift;
    return c <= 57 ? (c - 10) / 3 : c - 61;
}

std::vector<TLinePiece> TDumpLayout::LinePieces(std::uint64_t lineOffset, std::span<const std::uint8_t> data) const
{
    std::vector<TLinePiece> pieces;
    if (lineOffset >= data.size())
        return pieces;
    pieces.push_back({" " + HexNumber(Base + lineOffset, OffsetDigits()) + " | ", -1});
    for (int i = 0; i < BytesPerLine; ++i) {
        const std::uint64_t index = lineOffset + static_cast<std::uint64_t>(i);
        const bool present = index < data.size();
        TLinePiece piece{present ? HexNumber(data[index], 2) + " " : "   ",
                         present ? static_cast<std::int64_t>(index) : -1};
        if (i == 7)
            piece.Text += ' '; // the gap takes byte 7's colours
        pieces.push_back(std::move(piece));
    }
    pieces.push_back({"| ", -1});
    for (int i = 0; i < BytesPerLine; ++i) {
        const std::uint64_t index = lineOffset + static_cast<std::uint64_t>(i);
        TLinePiece piece{" ", -1};
        if (index < data.size()) {
            piece.Text.clear();
            AppendUtf8(piece.Text, DisplayChar(data[index]));
            piece.ByteIndex = static_cast<std::int64_t>(index);
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

std::string TDumpLayout::LineText(std::uint64_t lineOffset, std::span<const std::uint8_t> data) const
{
    std::string text;
    for (const TLinePiece& piece : LinePieces(lineOffset, data))
        text += piece.Text;
    return text;
}

} // namespace lindprog
