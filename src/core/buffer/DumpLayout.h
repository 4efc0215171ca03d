#pragma once
// The hex view's column arithmetic and the text of one line, free of any
// drawing. A line is 16 bytes:
//
//   col 0      one space
//   1..6       the line's offset, upper-case hex
//   7..9       " | "
//   10..33     bytes 0..7 as "XX " (digits of byte i in 10+3i and 11+3i)
//   34         the gap between the two halves
//   35..58     bytes 8..15 as "XX " (digits of byte i in 11+3i and 12+3i)
//   59..60     "| "
//   61..76     one character per byte
//
// The hex area is columns 10..57, the character area 61..76. Buffers larger
// than 16 MiB need offsets of more than six digits; the layout then widens the
// offset column and shifts every other column by the extra digits, so clicks,
// the cursor and the drawn text keep agreeing. The column numbers above are
// those of the six-digit layout. The offset column can also show the target's
// address of each line (the offset plus the region's base address); its width
// then follows the highest address the same way, from eight digits on.
//
// The frame paints a line by drawing LinePieces() one after the other at the
// advancing drawing position, each in the colours of PieceColours (DumpEditor.h)
// or CellColours, and then spaces in light cyan up to the surface's width; a
// line past the end of the data has no pieces and is drawn blank.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

struct TRgb {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    bool operator==(const TRgb&) const = default;
};

struct TCellColours {
    TRgb Background;
    TRgb Text;
    bool operator==(const TCellColours&) const = default;
};

inline constexpr TRgb LightCyan{136, 255, 255};
inline constexpr TRgb Black{0, 0, 0};
inline constexpr TRgb Blue{0, 0, 255};
inline constexpr TRgb White{255, 255, 255};
inline constexpr TRgb Yellow{255, 255, 0};

// The offset column, the bars, the line ends and missing bytes of a partial last line.
inline constexpr TCellColours PlainColours{LightCyan, Black};

// A byte that differs from the device's copy after a compare: on light red,
// so the marks of a compare and the changed bytes' blue text show together.
inline constexpr TRgb LightRed{255, 176, 176};

// A byte's hex cell and character cell: selected bytes on blue, changed bytes
// in blue (unselected) or yellow (selected) text, unselected differing bytes
// on light red.
TCellColours CellColours(bool selected, bool changed, bool differs = false);

bool IsHexDigit(std::uint8_t ch);
// 0..15 for a hex digit, -1 otherwise.
int HexDigitValue(std::uint8_t ch);

// The character of an 8-bit code in the program's ANSI code page (Windows-1252).
char32_t AnsiToUnicode(std::uint8_t code);
// The 8-bit code a typed character has in that code page; '?' for a character
// the code page cannot hold, as the platform's conversion gives.
std::uint8_t UnicodeToAnsi(char32_t ch);
// What the character area shows for a byte: '.' below 0x20 and for 0xFF.
char32_t DisplayChar(std::uint8_t byte);

// One piece of a line's text, UTF-8. ByteIndex is the buffer index whose
// colours the piece takes, or -1 for text drawn in PlainColours.
struct TLinePiece {
    std::string Text;
    std::int64_t ByteIndex = -1;
    bool operator==(const TLinePiece&) const = default;
};

class TDumpLayout {
public:
    static constexpr int BytesPerLine = 16;
    static constexpr int MinOffsetDigits = 6;

    // The six-digit layout.
    TDumpLayout() = default;
    // The layout for `dataSize` bytes whose offset column shows each line's
    // offset plus `addressBase`: as many digits as the last line's address
    // needs, at least six, and at least eight for target addresses.
    explicit TDumpLayout(std::uint64_t dataSize, std::uint64_t addressBase = 0);

    int OffsetDigits() const { return MinOffsetDigits + Shift; }
    int HexFirst() const { return 10 + Shift; }
    int HexLast() const { return 57 + Shift; }
    int GapColumn() const { return 34 + Shift; }
    int CharFirst() const { return 61 + Shift; }
    int CharLast() const { return 76 + Shift; }

    bool IsHexArea(int col) const { return col >= HexFirst() && col <= HexLast(); }
    bool IsCharArea(int col) const { return col >= CharFirst() && col <= CharLast(); }
    // The hex-area columns that hold no digit: 12, 15, .., 33 and 34, 37, .., 55.
    bool IsGapColumn(int col) const;
    // True on the high digit of a byte in the hex area.
    bool IsHighDigit(int col) const;
    // The byte of the line that a column stands for: (col - 10) div 3 up to
    // column 57, else col - 61. A gap column belongs to the byte on its left
    // before the middle gap, from the middle gap on to the byte on its right.
    int ByteInLine(int col) const;
    // The high digit's column of byte `byteInLine` (0..15), and its character's column.
    int HexColumn(int byteInLine) const { return HexFirst() + 3 * byteInLine + (byteInLine >= 8 ? 1 : 0); }
    int CharColumn(int byteInLine) const { return CharFirst() + byteInLine; }
    std::uint64_t AddressBase() const { return Base; }
    // First and last column of the area a cursor column is in (hex or character).
    int FirstColumn(int col) const { return col >= CharFirst() ? CharFirst() : HexFirst(); }
    int LastColumn(int col) const { return col >= CharFirst() ? CharLast() : HexLast(); }

    // The pieces of the line at `lineOffset`; none when the line starts past
    // the end of `data`. Bytes missing from a partial last line are blanks.
    std::vector<TLinePiece> LinePieces(std::uint64_t lineOffset, std::span<const std::uint8_t> data) const;
    // The same line as one text, columns 0 to 76.
    std::string LineText(std::uint64_t lineOffset, std::span<const std::uint8_t> data) const;

private:
    int Shift = 0;
    std::uint64_t Base = 0;
};

} // namespace lindprog
