#include "core/buffer/DumpCursor.h"

#include <algorithm>

namespace lindprog {

void TDumpCursor::SetLineCount(int lines)
{
    Lines = std::max(lines, 1);
    Row = std::min(Row, Lines - 1);
    UpdateMaximum();
    ScrollTo(Position);
}

void TDumpCursor::UseLayout(const TDumpLayout& layout)
{
    Column += layout.HexFirst() - Grid.HexFirst();
    Grid = layout;
}

void TDumpCursor::SetAddressBase(std::uint64_t base)
{
    UseLayout(TDumpLayout(DataSize, base));
}

void TDumpCursor::Reset(std::uint64_t dataSize)
{
    DataSize = dataSize;
    UseLayout(TDumpLayout(dataSize, Grid.AddressBase()));
    TotalLines = (dataSize + TDumpLayout::BytesPerLine - 1) / TDumpLayout::BytesPerLine;
    UpdateMaximum();
    Position = 0;
}

void TDumpCursor::UpdateMaximum()
{
    // A partial last line counts, so every byte can be scrolled into view.
    const auto lines = static_cast<std::int64_t>(TotalLines);
    Maximum = static_cast<std::int32_t>(std::max<std::int64_t>(lines - Lines, 0));
}

bool TDumpCursor::ScrollTo(std::int64_t position)
{
    const auto clamped = static_cast<std::int32_t>(std::clamp<std::int64_t>(position, 0, Maximum));
    const bool changed = clamped != Position;
    Position = clamped;
    return changed;
}

bool TDumpCursor::ScrollBy(std::int64_t lines)
{
    return ScrollTo(std::int64_t{Position} + lines);
}

bool TDumpCursor::Move(TDumpKey key, bool ctrl)
{
    switch (key) {
    case TDumpKey::PageUp: return PageUp();
    case TDumpKey::PageDown: return PageDown();
    case TDumpKey::Home: return Home(ctrl);
    case TDumpKey::End: return End(ctrl);
    case TDumpKey::Left: return MoveLeft();
    case TDumpKey::Right: return MoveRight();
    case TDumpKey::Up: return MoveUp();
    case TDumpKey::Down: return MoveDown();
    case TDumpKey::Escape:
    case TDumpKey::Other: break;
    }
    return false;
}

bool TDumpCursor::MoveLeft()
{
    if (Column > Grid.FirstColumn(Column)) {
        do
            --Column;
        while (Grid.IsGapColumn(Column));
        return false;
    }
    if (Row > 0) {
        Column = Grid.LastColumn(Column);
        --Row;
        return false;
    }
    if (Position > 0) {
        Column = Grid.LastColumn(Column);
        return ScrollBy(-1);
    }
    return false;
}

bool TDumpCursor::MoveRight()
{
    if (Column < Grid.LastColumn(Column)) {
        do
            ++Column;
        while (Grid.IsGapColumn(Column));
        return false;
    }
    if (Row < Lines - 1) {
        Column = Grid.FirstColumn(Column);
        ++Row;
        return false;
    }
    if (Position < Maximum) {
        Column = Grid.FirstColumn(Column);
        return ScrollBy(1);
    }
    return false;
}

bool TDumpCursor::MoveUp()
{
    if (Row > 0) {
        --Row;
        return false;
    }
    return ScrollBy(-1);
}

bool TDumpCursor::MoveDown()
{
    if (Row < Lines - 1) {
        ++Row;
        return false;
    }
    return ScrollBy(1);
}

bool TDumpCursor::PageUp()
{
    if (Position == 0) {
        Row = 0;
        return false;
    }
    return ScrollBy(-Lines);
}

bool TDumpCursor::PageDown()
{
    if (Position == Maximum) {
        Row = Lines - 1;
        return false;
    }
    return ScrollBy(Lines);
}

bool TDumpCursor::Home(bool ctrl)
{
    Column = Grid.FirstColumn(Column);
    if (!ctrl)
        return false;
    Row = 0;
    return ScrollTo(0);
}

bool TDumpCursor::End(bool ctrl)
{
    Column = Grid.LastColumn(Column);
    if (!ctrl)
        return false;
    Row = Lines - 1;
    return ScrollTo(Maximum);
}

void TDumpCursor::Place(int col, int row)
{
    Column = col;
    Row = row;
}

bool TDumpCursor::ShowIndex(std::uint64_t index)
{
    const auto line = static_cast<std::int64_t>(index / TDumpLayout::BytesPerLine);
    const auto byteInLine = static_cast<int>(index % TDumpLayout::BytesPerLine);
    bool scrolled = false;
    if (line < Position || line >= std::int64_t{Position} + Lines)
        scrolled = ScrollTo(line - Lines / 3);
    Row = static_cast<int>(line - Position);
    Column = Column >= Grid.CharFirst() ? Grid.CharColumn(byteInLine) : Grid.HexColumn(byteInLine);
    return scrolled;
}

std::int64_t TDumpCursor::CellToIndex(int col, int row) const
{
    return (std::int64_t{Position} + row) * TDumpLayout::BytesPerLine + Grid.ByteInLine(col);
}

} // namespace lindprog
