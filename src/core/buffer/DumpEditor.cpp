#include "core/buffer/DumpEditor.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace lindprog {

void TDumpEditor::SetMetrics(int charWidth, int charHeight, int surfaceHeight)
{
    CellWidth = std::max(charWidth, 1);
    CellHeight = std::max(charHeight, 1);
    CursorModel.SetLineCount(surfaceHeight / CellHeight);
}

bool TDumpEditor::SetData(std::span<std::uint8_t> block)
{
    const bool hasData = Tracking.SetData(block);
    CursorModel.Reset(block.size());
    DifferenceRanges.clear();
    return hasData;
}

void TDumpEditor::Clear()
{
    Tracking.Clear();
    DifferenceRanges.clear();
}

void TDumpEditor::UpdateChanges()
{
    Tracking.UpdateChanges();
    DifferenceRanges.clear();
}

void TDumpEditor::RevertChanges()
{
    Tracking.RevertChanges();
    DifferenceRanges.clear();
}

bool TDumpEditor::ShowCursor()
{
    Focused = true;
    return CursorShown();
}

TDumpEffect TDumpEditor::KeyDown(TDumpKey key, bool ctrl)
{
    if (!CursorShown())
        return {};
    if (key != TDumpKey::Other)
        Tracking.SealEdits(); // typing elsewhere after a cursor key is a new step
    if (key == TDumpKey::Escape) {
        SelectionStart = SelectionEnd = 0;
        return {.Repaint = true, .Handled = true};
    }
    const bool scrolled = CursorModel.Move(key, ctrl);
    return {.Repaint = scrolled, .Scrolled = scrolled, .CaretMoved = true, .Handled = true};
}

bool TDumpEditor::TypeHexDigit(std::int64_t index, std::uint8_t ch)
{
    const int digit = HexDigitValue(ch);
    if (digit < 0 || !Tracking.Contains(index))
        return false;
    const std::uint8_t old = Tracking.Byte(index);
    const auto value = static_cast<std::uint8_t>(digit);
    const bool high = CursorModel.Layout().IsHighDigit(CursorModel.CursorCol());
    return Tracking.SetByte(index, high ? static_cast<std::uint8_t>((old & 0x0F) | (value << 4))
                                        : static_cast<std::uint8_t>((old & 0xF0) | value));
}

TDumpEffect TDumpEditor::KeyPress(std::uint8_t ch)
{
    TDumpEffect effect{.Handled = true};
    if (!CursorShown())
        return effect;
    const std::int64_t index = CursorModel.Index();
    const bool inHexArea = CursorModel.CursorCol() < CursorModel.Layout().CharFirst();
    // A byte outside the data (a cursor on a blank line past the end) is never touched.
    const bool stored = inHexArea ? TypeHexDigit(index, ch) : Tracking.SetByte(index, ch);
    if (!stored)
        return effect;
    effect.Repaint = true;
    effect.Scrolled = CursorModel.MoveRight();
    effect.CaretMoved = true;
    return effect;
}

TDumpEffect TDumpEditor::MouseDown(TMouseButton button, int x, int y)
{
    if (button != TMouseButton::Left || !Tracking.HasData() || x < 0 || y < 0)
        return {};
    int col = x / CellWidth;
    const int row = y / CellHeight;
    const TDumpLayout& layout = CursorModel.Layout();
    // Below the last whole line nothing is drawn, so nothing can be hit there.
    if (row >= CursorModel.LineCount() || !(layout.IsHexArea(col) || layout.IsCharArea(col)))
        return {};
    IsDragging = true;
    Tracking.SealEdits();
    SelectionStart = SelectionEnd = CursorModel.CellToIndex(col, row);
    // A click on a gap lands on the digit to its left (column 34 on byte 7's low digit).
    if (layout.IsGapColumn(col))
        --col;
    if (layout.IsGapColumn(col))
        --col;
    CursorModel.Place(col, row);
    return {.Repaint = true, .CaretMoved = true};
}

TDumpEffect TDumpEditor::MouseMove(int x, int y)
{
    if (!IsDragging)
        return {};
    const int col = x / CellWidth;
    if (!CursorModel.Layout().IsHexArea(col))
        return {};
    const std::int64_t index = CursorModel.CellToIndex(col, y / CellHeight);
    // No fixed anchor: left of the current end moves the start, else the end moves.
    std::int64_t& edge = index < SelectionEnd ? SelectionStart : SelectionEnd;
    if (edge == index)
        return {};
    edge = index;
    return {.Repaint = true};
}

void TDumpEditor::MouseUp(TMouseButton button)
{
    if (button == TMouseButton::Left)
        IsDragging = false;
}

TDumpEffect TDumpEditor::Wheel(int delta)
{
    constexpr int LinesPerNotch = 4;
    TDumpEffect effect{.Handled = true};
    if (delta != 0)
        effect.Scrolled = effect.Repaint = CursorModel.ScrollBy(delta > 0 ? -LinesPerNotch : LinesPerNotch);
    return effect;
}

TDumpEffect TDumpEditor::ScrollTo(std::int64_t position)
{
    const bool changed = CursorModel.ScrollTo(position);
    return {.Repaint = changed, .Scrolled = changed};
}

TDumpEffect TDumpEditor::FillSelected(std::string_view text)
{
    if (SelectionStart == SelectionEnd)
        return {};
    return {.Repaint = Tracking.FillSelected(SelectionStart, SelectionEnd, text)};
}

TDumpPopupState TDumpEditor::PopupState() const
{
    return {.FillSelected = SelectionStart != SelectionEnd,
            .RevertChanges = Tracking.Modified(),
            .UpdateChanges = Tracking.Modified()};
}

std::vector<TLinePiece> TDumpEditor::LinePieces(int row) const
{
    const std::int64_t line = std::int64_t{CursorModel.ScrollPosition()} + row;
    if (row < 0 || line < 0)
        return {};
    return CursorModel.Layout().LinePieces(static_cast<std::uint64_t>(line) * TDumpLayout::BytesPerLine,
                                           Tracking.Bytes());
}

TCellColours TDumpEditor::PieceColours(const TLinePiece& piece) const
{
    return piece.ByteIndex < 0 ? PlainColours : ByteColours(piece.ByteIndex);
}

TCellColours TDumpEditor::ByteColours(std::int64_t index) const
{
    return CellColours(IsSelected(index), Tracking.IsChanged(index), Differs(index));
}

TDumpEffect TDumpEditor::ShowStep(const TEdit* step)
{
    if (!step)
        return {};
    TDumpEffect effect = GoToOffset(step->Offset);
    effect.Repaint = true;
    return effect;
}

TDumpEffect TDumpEditor::Undo()
{
    return ShowStep(Tracking.Undo());
}

TDumpEffect TDumpEditor::Redo()
{
    return ShowStep(Tracking.Redo());
}

TDumpEffect TDumpEditor::GoToOffset(std::int64_t index)
{
    if (!Tracking.Contains(index))
        return {};
    Tracking.SealEdits();
    const bool scrolled = CursorModel.ShowIndex(static_cast<std::uint64_t>(index));
    return {.Repaint = true, .Scrolled = scrolled, .CaretMoved = true};
}

std::uint32_t TDumpEditor::CursorOffset() const
{
    const std::int64_t last = static_cast<std::int64_t>(Tracking.DataSize()) - 1;
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(CursorModel.Index(), 0, std::max<std::int64_t>(last, 0)));
}

std::optional<TFoundAt> TDumpEditor::Find(std::span<const std::uint8_t> pattern, TFindFrom from)
{
    const std::uint32_t cursor = CursorOffset();
    const std::optional<TFoundAt> found =
        from == TFindFrom::BeforeCursor
            ? FindBackward(Tracking.Bytes(), pattern, cursor)
            : FindForward(Tracking.Bytes(), pattern, from == TFindFrom::Cursor ? cursor : cursor + 1);
    if (found) {
        SelectionStart = found->Offset;
        SelectionEnd = std::int64_t{found->Offset} + static_cast<std::int64_t>(pattern.size()) - 1;
        GoToOffset(found->Offset);
    }
    return found;
}

void TDumpEditor::ShowDifferences(std::vector<TDifferenceRange> ranges)
{
    DifferenceRanges = std::move(ranges);
}

bool TDumpEditor::Differs(std::int64_t index) const
{
    if (index < 0 || DifferenceRanges.empty())
        return false;
    const auto at = static_cast<std::uint64_t>(index);
    const auto after =
        std::upper_bound(DifferenceRanges.begin(), DifferenceRanges.end(), at,
                         [](std::uint64_t offset, const TDifferenceRange& range) { return offset < range.Start; });
    return after != DifferenceRanges.begin() && at < std::prev(after)->End;
}

TDumpEffect TDumpEditor::GoToNextDifference()
{
    if (DifferenceRanges.empty())
        return {};
    return GoToOffset(DifferenceRanges[NextDifference(DifferenceRanges, CursorOffset())].Start);
}

TDumpEffect TDumpEditor::GoToPreviousDifference()
{
    if (DifferenceRanges.empty())
        return {};
    return GoToOffset(DifferenceRanges[PreviousDifference(DifferenceRanges, CursorOffset())].Start);
}

bool TDumpEditor::IsSelected(std::int64_t index) const
{
    return CursorShown() && SelectionStart != SelectionEnd && SelectionStart <= index && index <= SelectionEnd;
}

} // namespace lindprog
