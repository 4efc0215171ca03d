#include "core/buffer/DumpEditor.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int CharW = 8;
constexpr int CharH = 12;
constexpr int Lines = 18;

// The high-digit column of byte i (0..15) of a line.
int HexCol(int i)
{
    return i < 8 ? 10 + 3 * i : 11 + 3 * i;
}

class DumpEditorTest : public ::testing::Test {
protected:
    void Attach(std::size_t size, std::uint8_t value = 0)
    {
        Block.assign(size, 0);
        View.SetMetrics(CharW, CharH, Lines * CharH + 7);
        View.SetData(Block);
        std::ranges::fill(Block, value);
        View.UpdateChanges();
        View.ShowCursor();
    }

    TDumpEffect PressCell(int col, int row, TMouseButton button = TMouseButton::Left)
    {
        return View.MouseDown(button, col * CharW + 3, row * CharH + 5);
    }
    TDumpEffect DragTo(int col, int row) { return View.MouseMove(col * CharW + 3, row * CharH + 5); }
    // Drag over the hex area from byte `from` to byte `to` of the first lines.
    void DragBytes(int from, std::initializer_list<int> path)
    {
        PressCell(HexCol(from % 16), from / 16);
        for (const int to : path)
            DragTo(HexCol(to % 16) + 1, to / 16);
    }
    TDumpEffect Key(TDumpKey key, bool ctrl = false) { return View.KeyDown(key, ctrl); }
    void Type(std::string_view text)
    {
        for (const char c : text)
            View.KeyPress(static_cast<std::uint8_t>(c));
    }
    std::pair<int, int> Cell() const { return {View.Cursor().CursorCol(), View.Cursor().CursorRow()}; }

    Bytes Block;
    TDumpEditor View;
};

TEST_F(DumpEditorTest, LargeBufferScrollsToItsLastLine)
{
    Attach(0x80000);
    EXPECT_EQ(View.LineCount(), Lines);
    EXPECT_EQ(View.ScrollMax(), 0x8000 - 18);
    EXPECT_TRUE(View.ScrollEnabled());
    EXPECT_EQ(View.ScrollTo(0x1A4), (TDumpEffect{.Repaint = true, .Scrolled = true}));
    EXPECT_EQ(View.LinePieces(0)[0].Text, " 001A40 | ");
    View.ScrollTo(1 << 30);
    EXPECT_EQ(View.ScrollPosition(), 0x8000 - 18);
    EXPECT_EQ(View.LinePieces(Lines - 1)[0].Text, " 07FFF0 | ");
    EXPECT_EQ(View.ScrollTo(-5).Scrolled, true);
    EXPECT_EQ(View.ScrollPosition(), 0);
}

TEST_F(DumpEditorTest, SmallBufferDrawsFourLines)
{
    Attach(64);
    for (int row = 0; row < Lines; ++row)
        EXPECT_EQ(View.LinePieces(row).empty(), row >= 4) << row;
    EXPECT_EQ(View.ScrollMax(), 0);
    EXPECT_FALSE(View.ScrollEnabled());
    EXPECT_EQ(View.Wheel(-120), (TDumpEffect{.Handled = true}));
}

TEST_F(DumpEditorTest, PartialLastLineCanBeScrolledIntoView)
{
    Attach(16 * 20 + 5);
    EXPECT_EQ(View.ScrollMax(), 3);
    View.ScrollTo(3);
    EXPECT_EQ(View.LinePieces(Lines - 1)[0].Text, " 000140 | ");
}

TEST_F(DumpEditorTest, TypingHexDigits)
{
    Attach(64);
    ASSERT_EQ(Cell(), std::make_pair(10, 0));
    Type("4");
    EXPECT_EQ(Cell(), std::make_pair(11, 0));
    const TDumpEffect effect = View.KeyPress('2');
    EXPECT_EQ(effect, (TDumpEffect{.Repaint = true, .CaretMoved = true, .Handled = true}));
    EXPECT_EQ(Block[0], 0x42);
    EXPECT_EQ(Cell(), std::make_pair(13, 0));
    EXPECT_EQ(View.KeyPress('g'), (TDumpEffect{.Handled = true}));
    EXPECT_EQ(Block[1], 0x00);
    EXPECT_EQ(Cell(), std::make_pair(13, 0));

    // Right half: byte 8's digits are in columns 35 and 36; the low digit alone.
    PressCell(36, 1);
    Type("c");
    EXPECT_EQ(Block[24], 0x0C);
    Type("D");
    EXPECT_EQ(Block[25], 0xD0);
    EXPECT_TRUE(View.Data().IsChanged(0));
}

TEST_F(DumpEditorTest, TypingTheOldValueBackLeavesNothingChanged)
{
    Attach(64, 0x5A);
    Type("00");
    EXPECT_TRUE(View.Data().IsChanged(0));
    View.KeyDown(TDumpKey::Home, false);
    Type("5a");
    for (std::int64_t i = 0; i < 64; ++i)
        EXPECT_FALSE(View.Data().IsChanged(i));
    const TDumpPopupState popup = View.PopupState();
    EXPECT_TRUE(popup.RevertChanges);
    EXPECT_TRUE(popup.UpdateChanges);
    EXPECT_FALSE(popup.FillSelected);
    EXPECT_TRUE(popup.Font && popup.FindStrings);
}

TEST_F(DumpEditorTest, TypingInTheCharacterArea)
{
    Attach(64);
    PressCell(61 + 15, 0);
    Type("\b");
    EXPECT_EQ(Block[15], 0x08);
    EXPECT_EQ(Cell(), std::make_pair(61, 1));
    View.KeyPress(0xE9);
    EXPECT_EQ(Block[16], 0xE9);
    EXPECT_EQ(View.LinePieces(1)[18].Text, "\xC3\xA9");
}

TEST_F(DumpEditorTest, TypingOnTheLastCellOverwritesIt)
{
    Attach(0x400);
    Key(TDumpKey::End, true);
    EXPECT_EQ(Cell(), std::make_pair(57, Lines - 1));
    Type("1");
    EXPECT_EQ(Cell(), std::make_pair(57, Lines - 1));
    Type("2");
    EXPECT_EQ(Block[0x3FF], 0x02);
}

TEST_F(DumpEditorTest, TypingPastTheEndTouchesNothing)
{
    Attach(64);
    PressCell(HexCol(3), 6); // a blank line past the end
    EXPECT_EQ(View.Cursor().Index(), 99);
    EXPECT_EQ(View.KeyPress('7'), (TDumpEffect{.Handled = true}));
    EXPECT_EQ(Cell(), std::make_pair(HexCol(3), 6));
    EXPECT_FALSE(View.Data().Modified());
}

TEST_F(DumpEditorTest, LeftAndRightSkipTheGap)
{
    Attach(0x400);
    PressCell(32, 0);
    Key(TDumpKey::Right);
    EXPECT_EQ(Cell(), std::make_pair(35, 0));
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(32, 0));
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(31, 0));
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(29, 0));
}

TEST_F(DumpEditorTest, RightAtTheBottomScrolls)
{
    Attach(0x400);
    PressCell(57, Lines - 1);
    const TDumpEffect effect = Key(TDumpKey::Right);
    EXPECT_EQ(effect, (TDumpEffect{.Repaint = true, .Scrolled = true, .CaretMoved = true, .Handled = true}));
    EXPECT_EQ(View.ScrollPosition(), 1);
    EXPECT_EQ(Cell(), std::make_pair(10, Lines - 1));

    Key(TDumpKey::End, true);
    EXPECT_FALSE(Key(TDumpKey::Right).Scrolled);
    EXPECT_EQ(Cell(), std::make_pair(57, Lines - 1));
}

TEST_F(DumpEditorTest, LeftAtTheTop)
{
    Attach(0x400);
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(10, 0));
    Key(TDumpKey::Down);
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(57, 0));
    View.ScrollTo(2);
    Key(TDumpKey::Home);
    EXPECT_TRUE(Key(TDumpKey::Left).Scrolled);
    EXPECT_EQ(Cell(), std::make_pair(57, 0));
    EXPECT_EQ(View.ScrollPosition(), 1);
}

TEST_F(DumpEditorTest, CharacterAreaHasItsOwnEnds)
{
    Attach(0x400);
    PressCell(70, 3);
    Key(TDumpKey::Home);
    EXPECT_EQ(Cell(), std::make_pair(61, 3));
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(76, 2));
    Key(TDumpKey::Right);
    EXPECT_EQ(Cell(), std::make_pair(61, 3));
    Key(TDumpKey::End);
    EXPECT_EQ(Cell(), std::make_pair(76, 3));
}

TEST_F(DumpEditorTest, UpDownAndPages)
{
    Attach(0x1000); // 256 lines, maximum 238
    EXPECT_FALSE(Key(TDumpKey::Up).Scrolled);
    Key(TDumpKey::PageDown);
    EXPECT_EQ(View.ScrollPosition(), Lines);
    PressCell(20, 5);
    Key(TDumpKey::PageUp);
    EXPECT_EQ(View.ScrollPosition(), 0);
    EXPECT_EQ(Cell(), std::make_pair(20, 5));
    Key(TDumpKey::PageUp);
    EXPECT_EQ(Cell(), std::make_pair(20, 0));
    Key(TDumpKey::Up);
    EXPECT_EQ(View.ScrollPosition(), 0);

    for (int i = 0; i < Lines - 1; ++i)
        EXPECT_FALSE(Key(TDumpKey::Down).Scrolled);
    EXPECT_TRUE(Key(TDumpKey::Down).Scrolled);
    EXPECT_EQ(View.ScrollPosition(), 1);

    View.ScrollTo(230);
    PressCell(20, 2);
    Key(TDumpKey::PageDown);
    EXPECT_EQ(View.ScrollPosition(), 238);
    EXPECT_EQ(Cell(), std::make_pair(20, 2));
    Key(TDumpKey::PageDown);
    EXPECT_EQ(Cell(), std::make_pair(20, Lines - 1));

    Key(TDumpKey::End);
    EXPECT_EQ(View.ScrollPosition(), 238);
    Key(TDumpKey::Home, true);
    EXPECT_EQ(View.ScrollPosition(), 0);
    EXPECT_EQ(Cell(), std::make_pair(10, 0));
}

TEST_F(DumpEditorTest, KeysNeedTheCursor)
{
    Attach(64);
    View.HideCursor();
    EXPECT_EQ(Key(TDumpKey::Right), TDumpEffect{});
    EXPECT_EQ(View.KeyPress('1').Repaint, false);
    EXPECT_EQ(Block[0], 0);
    View.ShowCursor();
    EXPECT_EQ(Key(TDumpKey::Other), (TDumpEffect{.CaretMoved = true, .Handled = true}));
}

TEST_F(DumpEditorTest, ClickWithoutDragSelectsNothing)
{
    Attach(64);
    const TDumpEffect effect = PressCell(HexCol(5), 0);
    EXPECT_EQ(effect, (TDumpEffect{.Repaint = true, .CaretMoved = true}));
    View.MouseUp(TMouseButton::Left);
    EXPECT_EQ(View.SelStart(), View.SelEnd());
    EXPECT_FALSE(View.IsSelected(5));
    EXPECT_FALSE(View.PopupState().FillSelected);
    EXPECT_EQ(View.FillSelected("00"), TDumpEffect{});

    DragBytes(5, {6, 7, 8, 9});
    EXPECT_EQ(View.SelStart(), 5);
    EXPECT_EQ(View.SelEnd(), 9);
    for (std::int64_t i = 0; i < 16; ++i)
        EXPECT_EQ(View.IsSelected(i), i >= 5 && i <= 9) << i;
    EXPECT_TRUE(View.PopupState().FillSelected);
    EXPECT_EQ(Cell(), std::make_pair(HexCol(5), 0)); // the cursor stays where the press was
}

TEST_F(DumpEditorTest, DragBackMovesTheStart)
{
    Attach(64);
    DragBytes(10, {14, 20});
    DragTo(HexCol(4), 1); // byte 20 again, on its high digit: the end stays
    EXPECT_EQ(View.SelStart(), 10);
    EXPECT_EQ(View.SelEnd(), 20);
    DragTo(HexCol(1), 1);
    DragTo(HexCol(15), 0);
    EXPECT_EQ(View.SelStart(), 15);
    EXPECT_EQ(View.SelEnd(), 20);
    DragTo(63, 0); // over the character area: nothing
    EXPECT_EQ(View.SelStart(), 15);
    View.MouseUp(TMouseButton::Left);
    EXPECT_FALSE(View.Dragging());
    DragTo(HexCol(2), 0);
    EXPECT_EQ(View.SelStart(), 15);
    Key(TDumpKey::Escape);
    EXPECT_EQ(View.SelStart(), 0);
    EXPECT_EQ(View.SelEnd(), 0);
}

TEST_F(DumpEditorTest, PressesThatSelectNothing)
{
    Attach(64);
    PressCell(HexCol(2), 1);
    View.MouseUp(TMouseButton::Left);
    for (const int col : {5, 9, 58, 60, 77})
        EXPECT_EQ(PressCell(col, 0), TDumpEffect{}) << col;
    EXPECT_EQ(PressCell(HexCol(4), 0, TMouseButton::Right), TDumpEffect{});
    EXPECT_EQ(PressCell(HexCol(4), Lines), TDumpEffect{}); // the strip below the last whole line
    EXPECT_EQ(Cell(), std::make_pair(HexCol(2), 1));
    EXPECT_FALSE(View.Dragging());

    TDumpEditor empty;
    empty.SetMetrics(CharW, CharH, Lines * CharH);
    EXPECT_FALSE(empty.ShowCursor());
    EXPECT_EQ(empty.MouseDown(TMouseButton::Left, 100, 5), TDumpEffect{});
}

TEST_F(DumpEditorTest, PressOnAGapLandsOnTheDigitToItsLeft)
{
    Attach(64);
    PressCell(34, 0);
    EXPECT_EQ(Cell(), std::make_pair(32, 0));
    EXPECT_EQ(View.SelStart(), 8); // the middle gap belongs to byte 8
    PressCell(15, 1);
    EXPECT_EQ(Cell(), std::make_pair(14, 1));
    PressCell(61 + 4, 2);
    EXPECT_EQ(Cell(), std::make_pair(65, 2));
    EXPECT_EQ(View.Cursor().Index(), 36);
    EXPECT_EQ(View.CaretX(), 65 * CharW);
    EXPECT_EQ(View.CaretY(), 2 * CharH);
}

TEST_F(DumpEditorTest, SelectionColoursFollowTheFocus)
{
    Attach(64);
    DragBytes(2, {6});
    PressCell(HexCol(3), 0);
    DragTo(HexCol(6), 0); // a second drag keeps 3..6 selected
    View.MouseUp(TMouseButton::Left);
    Type("77");
    EXPECT_EQ(View.ByteColours(3), (TCellColours{Blue, Yellow}));
    EXPECT_EQ(View.ByteColours(4), (TCellColours{Blue, White}));
    EXPECT_EQ(View.ByteColours(7), (TCellColours{LightCyan, Black}));
    View.HideCursor();
    EXPECT_EQ(View.ByteColours(3), (TCellColours{LightCyan, Blue}));
    EXPECT_EQ(View.PieceColours(View.LinePieces(0)[0]), PlainColours);
    View.ShowCursor();
    EXPECT_EQ(View.PieceColours(View.LinePieces(0)[4]), (TCellColours{Blue, Yellow}));
}

TEST_F(DumpEditorTest, FillSelectedThroughTheView)
{
    Attach(64, 0x11);
    Block[5] = 0xA5;
    View.UpdateChanges();
    DragBytes(4, {7});
    EXPECT_EQ(View.Data().FillValueText(), "FF");
    EXPECT_EQ(View.FillSelected("a5"), (TDumpEffect{.Repaint = true}));
    EXPECT_EQ((Bytes(Block.begin() + 3, Block.begin() + 9)), (Bytes{0x11, 0xA5, 0xA5, 0xA5, 0xA5, 0x11}));
    EXPECT_EQ(View.ByteColours(4), (TCellColours{Blue, Yellow}));
    EXPECT_EQ(View.ByteColours(5), (TCellColours{Blue, White}));
    EXPECT_EQ(View.Data().FillValueText(), "A5");
    EXPECT_TRUE(View.PopupState().RevertChanges);
}

TEST_F(DumpEditorTest, WheelScrollsFourLinesPerMessage)
{
    Attach(0x1000);
    EXPECT_EQ(View.Wheel(-120), (TDumpEffect{.Repaint = true, .Scrolled = true, .Handled = true}));
    EXPECT_EQ(View.ScrollPosition(), 4);
    View.Wheel(-1);
    EXPECT_EQ(View.ScrollPosition(), 8);
    View.ScrollTo(2);
    View.Wheel(360);
    EXPECT_EQ(View.ScrollPosition(), 0);
    EXPECT_EQ(View.Wheel(120), (TDumpEffect{.Handled = true}));
}

TEST_F(DumpEditorTest, SetDataKeepsCursorAndSelection)
{
    Attach(0x1000);
    DragBytes(40, {60});
    View.ScrollTo(100);
    Bytes smaller(32);
    EXPECT_TRUE(View.SetData(smaller));
    EXPECT_EQ(View.ScrollPosition(), 0);
    EXPECT_EQ(View.SelStart(), 40);
    EXPECT_EQ(View.SelEnd(), 60);
    EXPECT_EQ(Cell(), std::make_pair(HexCol(8), 2));
    // The selection left from the larger buffer fills nothing outside the data.
    EXPECT_EQ(View.FillSelected("33"), TDumpEffect{});
    EXPECT_EQ(smaller, Bytes(32, 0));
}

TEST_F(DumpEditorTest, WideOffsetsMoveTheCursorWithTheColumns)
{
    Attach(64);
    PressCell(HexCol(1), 0);
    Bytes large(0x1000010);
    View.SetData(large);
    EXPECT_EQ(Cell(), std::make_pair(HexCol(1) + 1, 0));
    Key(TDumpKey::End, true);
    Key(TDumpKey::Left);
    EXPECT_EQ(Cell(), std::make_pair(HexCol(15) + 1, Lines - 1));
    Type("A5");
    EXPECT_EQ(large.back(), 0xA5);
}

TEST_F(DumpEditorTest, DifferenceMarksArePaintedAndVisitedInOrder)
{
    Attach(0x1000);
    View.ShowDifferences({{0x10, 0x12}, {0x400, 0x401}, {0xF00, 0xF08}});
    EXPECT_EQ(View.ByteColours(0x11), (TCellColours{LightRed, Black}));
    EXPECT_EQ(View.ByteColours(0x12), (TCellColours{LightCyan, Black}));
    std::vector<std::int64_t> visited;
    for (int k = 0; k < 4; ++k) {
        View.GoToNextDifference();
        visited.push_back(View.Cursor().Index());
    }
    View.GoToPreviousDifference();
    visited.push_back(View.Cursor().Index());
    EXPECT_EQ(visited, (std::vector<std::int64_t>{0x10, 0x400, 0xF00, 0x10, 0xF00}));
    EXPECT_EQ(View.ScrollPosition(), 0xF0 - Lines / 3) << "a far byte comes into the upper third";
    View.UpdateChanges();
    EXPECT_TRUE(View.Differences().empty()) << "a new reference drops the marks";
}

TEST_F(DumpEditorTest, FindSelectsTheMatchAndTheOffsetColumnCanShowAddresses)
{
    Attach(0x400);
    Block[0x200] = 0xDE;
    Block[0x201] = 0xAD;
    const std::optional<TFoundAt> found = View.Find(Bytes{0xDE, 0xAD}, TFindFrom::Cursor);
    ASSERT_TRUE(found);
    EXPECT_EQ(std::make_tuple(found->Offset, View.SelStart(), View.SelEnd(), View.Cursor().Index()),
              std::make_tuple(0x200u, 0x200, 0x201, 0x200));
    View.SetAddressBase(0x08000000);
    EXPECT_EQ(View.LinePieces(0)[0].Text, " 080001A0 | ");
    EXPECT_EQ(View.Cursor().Index(), 0x200) << "the cursor stays on its byte as the columns move";
}

} // namespace
} // namespace lindprog
