#pragma once
// The hex view's scroll position and text cursor, and how the cursor keys move
// them. The cursor stands on a column of the hex area (one digit of a byte,
// never a gap) or of the character area; its row counts from the top visible
// line, so scrolling moves the byte under it. No key moves between the areas.
//
// The scroll position is the index of the line at the top. It is kept within 0
// and ScrollMax(): the number of lines the data needs (a partial last line
// counts) less LineCount(), at least 0. The frame's scroll bar mirrors it:
// range 0..ScrollMax(), enabled only when ScrollMax() > 0, and a user's move of
// the bar comes back through ScrollTo. TDumpEditor (DumpEditor.h) owns one.

#include "core/buffer/DumpLayout.h"

#include <cstdint>

namespace lindprog {

// The keys the view acts on; everything else is Other.
enum class TDumpKey { Escape, PageUp, PageDown, Home, End, Left, Right, Up, Down, Other };

class TDumpCursor {
public:
    // The number of whole lines the surface holds, at least 1.
    void SetLineCount(int lines);
    // New data: the layout for its size, scroll position 0 and the new maximum.
    // The cursor keeps its cell (moved with the columns if the offset column
    // changed width).
    void Reset(std::uint64_t dataSize);
    // The offset column shows offset + `base` (0: the offsets); the columns
    // move with its width as they do in Reset.
    void SetAddressBase(std::uint64_t base);

    // Both clamp to 0..ScrollMax() and return true when the position changed.
    bool ScrollTo(std::int64_t position);
    bool ScrollBy(std::int64_t lines);

    // Applies one key (Escape does not move the cursor). Returns true when the
    // scroll position changed.
    bool Move(TDumpKey key, bool ctrl);
    // Right without modifiers: also the step after a typed digit or character.
    bool MoveRight();
    void Place(int col, int row);
    // Puts the cursor on byte `index` (in the area it is in) and, when that
    // line is out of sight, scrolls it to the upper third of the view. Returns
    // true when the scroll position changed.
    bool ShowIndex(std::uint64_t index);

    // The buffer index of a cell of the visible lines; it may lie outside the data.
    std::int64_t CellToIndex(int col, int row) const;
    std::int64_t Index() const { return CellToIndex(Column, Row); }

    const TDumpLayout& Layout() const { return Grid; }
    int CursorCol() const { return Column; }
    int CursorRow() const { return Row; }
    int LineCount() const { return Lines; }
    std::int32_t ScrollPosition() const { return Position; }
    std::int32_t ScrollMax() const { return Maximum; }

private:
    bool MoveLeft();
    bool MoveUp();
    bool MoveDown();
    bool PageUp();
    bool PageDown();
    bool Home(bool ctrl);
    bool End(bool ctrl);
    void UpdateMaximum();
    void UseLayout(const TDumpLayout& layout);

    TDumpLayout Grid;
    std::uint64_t DataSize = 0;
    std::uint64_t TotalLines = 0;
    int Lines = 1;
    std::int32_t Position = 0;
    std::int32_t Maximum = 0;
    int Column = 10;
    int Row = 0;
};

} // namespace lindprog
