#include "core/buffer/DumpLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DumpLayout, ExampleLine)
{
    Bytes data(0x30, 0);
    const Bytes line{0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x00, 0xFF, 0x20, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};
    std::ranges::copy(line, data.begin() + 0x10);
    const TDumpLayout layout;
    EXPECT_EQ(layout.LineText(0x10, data),
              " 000010 | 48 65 6C 6C 6F 00 FF 20  41 42 43 44 45 46 47 48 | Hello.. ABCDEFGH");

    const auto pieces = layout.LinePieces(0x10, data);
    ASSERT_EQ(pieces.size(), 34u);
    EXPECT_EQ(pieces[0], (TLinePiece{" 000010 | ", -1}));
    EXPECT_EQ(pieces[8], (TLinePiece{"20  ", 0x17})); // the gap takes byte 7's colours
    EXPECT_EQ(pieces[9], (TLinePiece{"41 ", 0x18}));
    EXPECT_EQ(pieces[17], (TLinePiece{"| ", -1}));
    EXPECT_EQ(pieces[18], (TLinePiece{"H", 0x10}));
    EXPECT_EQ(pieces[33], (TLinePiece{"H", 0x1F}));
}

TEST(DumpLayout, CharacterColumn)
{
    EXPECT_EQ(DisplayChar(0x00), U'.');
    EXPECT_EQ(DisplayChar(0x7F), U'\x7F');
    EXPECT_EQ(DisplayChar(0x9F), U'\u0178');
    EXPECT_EQ(DisplayChar(0xFE), U'\u00FE');

    const Bytes data{0x1F, 0xFF, 0x20, 0x7F, 0x80, 0xE9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::string text = TDumpLayout().LineText(0, data);
    EXPECT_EQ(text.substr(61), ".. \x7F\xE2\x82\xAC\xC3\xA9..........");
}

TEST(DumpLayout, TypedCharactersToAnsi)
{
    EXPECT_EQ(UnicodeToAnsi(U'A'), 0x41);
    EXPECT_EQ(UnicodeToAnsi(U'\b'), 0x08);
    EXPECT_EQ(UnicodeToAnsi(U'\u20AC'), 0x80);
    EXPECT_EQ(UnicodeToAnsi(U'\u0178'), 0x9F);
    EXPECT_EQ(UnicodeToAnsi(U'\u0081'), 0x81);
    EXPECT_EQ(UnicodeToAnsi(U'\u00E9'), 0xE9);
    EXPECT_EQ(UnicodeToAnsi(U'\u0098'), '?'); // 0x98 is the tilde's code, not U+0098
    EXPECT_EQ(UnicodeToAnsi(U'\u0416'), '?');
    EXPECT_EQ(UnicodeToAnsi(U'\U0001F600'), '?');
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(UnicodeToAnsi(AnsiToUnicode(static_cast<std::uint8_t>(code))), code) << code;
}

TEST(DumpLayout, PartialLastLineShowsBlanks)
{
    const Bytes data(0x13, 0xAB);
    const TDumpLayout layout(data.size());
    EXPECT_EQ(layout.LineText(0x10, data),
              " 000010 | AB AB AB" + std::string(41, ' ') + "| " + "\xC2\xAB\xC2\xAB\xC2\xAB" + std::string(13, ' '));
    EXPECT_TRUE(layout.LinePieces(0x20, data).empty());
    EXPECT_EQ(layout.LinePieces(0x10, data)[4].ByteIndex, -1);
}

TEST(DumpLayout, GapColumns)
{
    const TDumpLayout layout;
    std::vector<int> gaps;
    for (int col = 0; col < 90; ++col)
        if (layout.IsGapColumn(col))
            gaps.push_back(col);
    EXPECT_EQ(gaps, (std::vector<int>{12, 15, 18, 21, 24, 27, 30, 33, 34, 37, 40, 43, 46, 49, 52, 55}));
}

TEST(DumpLayout, ColumnsToBytesAndDigits)
{
    const TDumpLayout layout;
    EXPECT_EQ(layout.ByteInLine(10), 0);
    EXPECT_EQ(layout.ByteInLine(12), 0); // left half: a gap belongs to the byte on its left
    EXPECT_EQ(layout.ByteInLine(32), 7);
    EXPECT_EQ(layout.ByteInLine(33), 7);
    EXPECT_EQ(layout.ByteInLine(34), 8); // from 34 on: to the byte on its right
    EXPECT_EQ(layout.ByteInLine(35), 8);
    EXPECT_EQ(layout.ByteInLine(37), 9);
    EXPECT_EQ(layout.ByteInLine(57), 15);
    EXPECT_EQ(layout.ByteInLine(61), 0);
    EXPECT_EQ(layout.ByteInLine(76), 15);
    for (int col : {10, 13, 31, 35, 38, 56})
        EXPECT_TRUE(layout.IsHighDigit(col)) << col;
    for (int col : {11, 14, 32, 36, 39, 57})
        EXPECT_FALSE(layout.IsHighDigit(col)) << col;
    EXPECT_TRUE(layout.IsHexArea(10) && layout.IsHexArea(57) && !layout.IsHexArea(58) && !layout.IsHexArea(9));
    EXPECT_TRUE(layout.IsCharArea(61) && layout.IsCharArea(76) && !layout.IsCharArea(60) && !layout.IsCharArea(77));
}

TEST(DumpLayout, LargeBuffersWidenTheOffsetColumn)
{
    EXPECT_EQ(TDumpLayout(0x1000000).OffsetDigits(), 6); // last line 0xFFFFF0
    const std::uint64_t size = 0x1000010;
    const TDumpLayout layout(size);
    ASSERT_EQ(layout.OffsetDigits(), 7);
    EXPECT_EQ(layout.HexFirst(), 11);
    EXPECT_EQ(layout.GapColumn(), 35);
    EXPECT_EQ(layout.CharLast(), 77);
    EXPECT_TRUE(layout.IsGapColumn(34) && layout.IsGapColumn(35) && !layout.IsGapColumn(33));
    EXPECT_EQ(layout.ByteInLine(36), 8);

    Bytes data(size, 0);
    data[0x1000000] = 0x41;
    const std::string line = layout.LineText(0x1000000, data);
    EXPECT_EQ(line.substr(0, 14), " 1000000 | 41 ");
    EXPECT_EQ(line[static_cast<std::size_t>(layout.CharFirst())], 'A');
    EXPECT_EQ(layout.LineText(0, data).substr(0, 11), " 0000000 | ");
}

TEST(DumpLayout, Colours)
{
    EXPECT_EQ(CellColours(false, false), (TCellColours{LightCyan, Black}));
    EXPECT_EQ(CellColours(false, true), (TCellColours{LightCyan, Blue}));
    EXPECT_EQ(CellColours(true, false), (TCellColours{Blue, White}));
    EXPECT_EQ(CellColours(true, true), (TCellColours{Blue, Yellow}));
    EXPECT_EQ(CellColours(false, true, true), (TCellColours{LightRed, Blue}));
    EXPECT_EQ(CellColours(true, false, true), (TCellColours{Blue, White})) << "the selection hides the mark";
    EXPECT_EQ(LightCyan, (TRgb{136, 255, 255}));
}

TEST(DumpLayout, HexDigits)
{
    for (const char c : std::string("0123456789abcdefABCDEF"))
        EXPECT_TRUE(IsHexDigit(static_cast<std::uint8_t>(c))) << c;
    for (const char c : std::string("gG/:@`x \x7F"))
        EXPECT_FALSE(IsHexDigit(static_cast<std::uint8_t>(c))) << c;
    EXPECT_EQ(HexDigitValue('b'), 11);
    EXPECT_EQ(HexDigitValue('F'), 15);
}

} // namespace
} // namespace lindprog
