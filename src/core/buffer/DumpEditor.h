#pragma once
// Everything the hex view decides, without a window: the shown data with its
// change tracking, the cursor and scroll position, the mouse selection, typing,
// the wheel and what the popup menu enables. The Qt frame TDumpFrame owns one
// TDumpEditor and only paints and routes input to it:
//
//   attach          SetMetrics(width and height of "A", surface height)
//   focus in / out  ShowCursor() / HideCursor(); show or hide the block caret
//                   by CursorShown(), repaint after HideCursor
//   key press       KeyDown(key, ctrl) for keys, KeyPress(8-bit code) for typed
//                   characters (control characters such as Backspace included)
//   mouse           MouseDown(button, x, y) after taking the focus (any button),
//                   MouseMove(x, y), MouseUp(button); Wheel(delta) per message
//   scroll bar      ScrollTo(value) when the user moves it
//   popup           PopupState() when it opens; "Fill selected..." shows
//                   Data().FillValueText() and on OK calls FillSelected(text)
//   painting        LinePieces(row) for each of the LineCount() lines, each piece
//                   in PieceColours(piece); the caret at (CaretX(), CaretY()),
//                   CharWidth() by CharHeight()
//   commands        Undo, Redo, GoToOffset, Find, the difference marks and
//                   their navigation, SetAddressBase for the offset column
//
// Every input returns a TDumpEffect saying what the frame must do. SetData,
// Clear, UpdateChanges and RevertChanges always change what is shown: the frame
// repaints after them, and after SetData also sets the scroll bar from
// ScrollPosition(), ScrollMax() and ScrollEnabled() and shows or hides the
// caret by CursorShown() (the view has data only while it has a buffer).

#include "core/buffer/Buffer.h"
#include "core/buffer/ByteSearch.h"
#include "core/buffer/Difference.h"
#include "core/buffer/DumpCursor.h"
#include "core/buffer/DumpData.h"
#include "core/buffer/DumpLayout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace lindprog {

enum class TMouseButton { Left, Right, Middle };

struct TDumpEffect {
    bool Repaint = false;    // draw the surface again
    bool Scrolled = false;   // the scroll position changed: move the scroll bar
    bool CaretMoved = false; // place the block caret at (CaretX(), CaretY())
    bool Handled = false;    // the key or wheel event is consumed
    bool operator==(const TDumpEffect&) const = default;
};

// Where a search starts: on the cursor's byte (a new search), after it (F3)
// or before it (Shift+F3).
enum class TFindFrom { Cursor, AfterCursor, BeforeCursor };

struct TDumpPopupState {
    bool FillSelected = false;
    bool RevertChanges = false;
    bool UpdateChanges = false;
    bool Font = true;
    bool FindStrings = true;
    bool operator==(const TDumpPopupState&) const = default;
};

class TDumpEditor {
public:
    // The cell size measured on the surface and the surface's height; measured
    // once when the view is attached. LineCount() = height div charHeight.
    void SetMetrics(int charWidth, int charHeight, int surfaceHeight);

    // Change tracking; SetData also resets the scroll position to 0. The cursor
    // and the selection are left as they were. Each of them drops the
    // difference marks: a new reference means new bytes (a load, a read,
    // Fill, Swap bytes), and marks left over from a compare of the old ones
    // would point at the wrong bytes.
    bool SetData(std::span<std::uint8_t> block);
    void Clear();
    void UpdateChanges();
    void RevertChanges();

    // Focus in and out. The cursor shows only while the view has the focus and
    // data; ShowCursor returns CursorShown().
    bool ShowCursor();
    void HideCursor() { Focused = false; }

    TDumpEffect KeyDown(TDumpKey key, bool ctrl);
    TDumpEffect KeyPress(std::uint8_t ch);
    TDumpEffect MouseDown(TMouseButton button, int x, int y);
    TDumpEffect MouseMove(int x, int y);
    void MouseUp(TMouseButton button);
    TDumpEffect Wheel(int delta);
    TDumpEffect ScrollTo(std::int64_t position);
    // "Fill selected..." after OK; does nothing without a selection.
    TDumpEffect FillSelected(std::string_view text);
    TDumpPopupState PopupState() const;

    // The last edit taken back or done again; the cursor goes to its first byte.
    TDumpEffect Undo();
    TDumpEffect Redo();
    // The cursor on byte `index`, scrolled into sight; nothing outside the data.
    TDumpEffect GoToOffset(std::int64_t index);
    // Looks for `pattern` from the cursor, going on at the other end; a match
    // is selected and the cursor put on its first byte.
    std::optional<TFoundAt> Find(std::span<const std::uint8_t> pattern, TFindFrom from);

    // The bytes that differ from another copy (a compare's read), painted in
    // their own colour until cleared or the reference changes (see SetData).
    void ShowDifferences(std::vector<TDifferenceRange> ranges);
    void ClearDifferences() { DifferenceRanges.clear(); }
    const std::vector<TDifferenceRange>& Differences() const { return DifferenceRanges; }
    bool Differs(std::int64_t index) const;
    // The cursor to the first byte of the next (previous) differing range
    // from the cursor, wrapping; nothing when there are no marks.
    TDumpEffect GoToNextDifference();
    TDumpEffect GoToPreviousDifference();

    // The offset column shows offset + `base`; 0 shows the offsets.
    void SetAddressBase(std::uint64_t base) { CursorModel.SetAddressBase(base); }

    std::vector<TLinePiece> LinePieces(int row) const;
    TCellColours PieceColours(const TLinePiece& piece) const;
    TCellColours ByteColours(std::int64_t index) const;
    bool IsSelected(std::int64_t index) const;

    const TDumpData& Data() const { return Tracking; }
    const TDumpCursor& Cursor() const { return CursorModel; }
    std::int64_t CellToIndex(int col, int row) const { return CursorModel.CellToIndex(col, row); }
    std::int64_t SelStart() const { return SelectionStart; }
    std::int64_t SelEnd() const { return SelectionEnd; }
    bool Dragging() const { return IsDragging; }
    bool CursorShown() const { return Focused && Tracking.HasData(); }
    int CharWidth() const { return CellWidth; }
    int CharHeight() const { return CellHeight; }
    int LineCount() const { return CursorModel.LineCount(); }
    int CaretX() const { return CellWidth * CursorModel.CursorCol(); }
    int CaretY() const { return CellHeight * CursorModel.CursorRow(); }
    std::int32_t ScrollPosition() const { return CursorModel.ScrollPosition(); }
    std::int32_t ScrollMax() const { return CursorModel.ScrollMax(); }
    bool ScrollEnabled() const { return CursorModel.ScrollMax() > 0; }

private:
    bool TypeHexDigit(std::int64_t index, std::uint8_t ch);
    std::uint32_t CursorOffset() const;
    TDumpEffect ShowStep(const TEdit* step);

    TDumpData Tracking;
    TDumpCursor CursorModel;
    std::vector<TDifferenceRange> DifferenceRanges;
    int CellWidth = 1;
    int CellHeight = 1;
    std::int64_t SelectionStart = 0;
    std::int64_t SelectionEnd = 0;
    bool IsDragging = false;
    bool Focused = false;
};

} // namespace lindprog
