#pragma once
// The hex dump view: a focusable frame with a drawing surface (pbDump), a
// vertical scroll bar (sb) and a popup menu (pmDump). Everything it decides
// lives in TDumpEditor (DumpEditor.h); the frame paints the editor's lines,
// turns Qt's keys, mouse, wheel and scroll bar into editor calls and carries out
// the TDumpEffect each call returns.
//
// The main window creates one view, places it in its dump panel with AttachTo,
// hands it the buffer with SetData and routes wheel events over the panel to
// WheelFromParent. The view shows the buffer in place; it does not own it.
//
// The window's commands reach the rest through it: undo and redo of edits,
// go to an offset, search, the difference marks of a compare and their
// navigation, and the offset column's target addresses. EditCommands.h puts
// them into a menu with their shortcuts. EditsChanged() tells when Undo,
// Redo or Modified() may have changed, for the menu and the window's title.

#include "core/buffer/DumpEditor.h"

#include <QBasicTimer>
#include <QFont>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class QAction;
class QMenu;
class QPainter;
class QScrollBar;

namespace lindprog {

class TDumpSurface;

// The modal questions the view asks. The defaults show the platform's font
// dialog and TFillDialog; tests put answers in their place.
struct TDumpDialogs {
    // Starts with `current`; the chosen font, or nothing on Cancel.
    std::function<std::optional<QFont>(QWidget* parent, const QFont& current)> ChooseFont;
    // Offers `current`; the text entered on OK, or nothing on Cancel.
    std::function<std::optional<QString>(QWidget* parent, std::uint8_t current)> AskFillValue;
};

class TDumpFrame final : public QWidget {
    Q_OBJECT

public:
    explicit TDumpFrame(QWidget* parent = nullptr);

    // Makes `panel` the parent and fills it; no data until SetData.
    void AttachTo(QWidget* panel);

    // Shows `block` from offset 0, clears it to 0x00 and takes that as the
    // reference; returns whether there is data. Cursor and selection stay.
    bool SetData(std::span<std::uint8_t> block);
    void Clear();
    void UpdateChanges();
    void RevertChanges();
    void Repaint();
    // The block caret (and the selection) show again once the view has data;
    // called after a dialog of the view has taken the focus.
    void ShowCursor();
    void HideCursor();
    // A wheel event that reached the main window over the dump panel. Returns
    // whether it was used (then the event is accepted).
    bool WheelFromParent(QWheelEvent* event);
    // Puts `line` at the top, kept within 0 and the scroll maximum.
    void SetScrollPosition(std::int64_t line);

    // Typed bytes and "Fill selected..." taken back or done again; the cursor
    // goes to the edit. False when there was nothing to take back (do again).
    bool Undo();
    bool Redo();
    bool CanUndo() const { return Model.Data().CanUndo(); }
    bool CanRedo() const { return Model.Data().CanRedo(); }
    // The cursor on byte `offset`, scrolled into sight, and the focus on the
    // view. False (and nothing moves) outside the data.
    bool GoToOffset(std::uint32_t offset);
    // Looks for `pattern` from the cursor, going on at the other end; a match
    // is selected, the cursor put on it and the view focused.
    std::optional<TFoundAt> Find(std::span<const std::uint8_t> pattern, TFindFrom from);

    // Paints the bytes of `ranges` (a compare's merged differences, in order)
    // in their own colour until ClearDifferences or a new reference (SetData,
    // Clear, UpdateChanges, RevertChanges: so call it after the read that
    // brought the other copy has ended). The cursor stays; GoToNextDifference
    // takes it to the first mark after it.
    void ShowDifferences(std::vector<TDifferenceRange> ranges);
    void ClearDifferences();
    const std::vector<TDifferenceRange>& Differences() const { return Model.Differences(); }
    // The cursor to the next (previous) marked range, wrapping at the ends;
    // false when nothing is marked.
    bool GoToNextDifference();
    bool GoToPreviousDifference();

    // Where the region's base on the target comes from (the address the
    // window remembers for the device and region, once an image file was
    // opened or saved). Asked again on new data, Clear, UpdateChanges and
    // when the offset column changes.
    void SetBaseSource(std::function<std::optional<std::uint64_t>()> source);
    std::optional<std::uint64_t> BaseAddress();
    // The offset column shows offset + base while `show` and a base is known,
    // else the offsets.
    void SetShowTargetAddresses(bool show);
    bool ShowsTargetAddresses() const { return ShowTargets; }
    std::uint32_t DataSize() const { return static_cast<std::uint32_t>(Model.Data().DataSize()); }

    void SetDialogs(TDumpDialogs dialogs);
    // What "Find strings..." runs.
    void SetFindStringsHandler(std::function<void()> handler);

    const TDumpEditor& Editor() const { return Model; }
    std::int32_t ScrollPosition() const { return Model.ScrollPosition(); }
    std::int32_t ScrollMax() const { return Model.ScrollMax(); }
    std::int64_t SelStart() const { return Model.SelStart(); }
    std::int64_t SelEnd() const { return Model.SelEnd(); }
    std::int64_t CursorIndex() const { return Model.Cursor().Index(); }
    bool Modified() const { return Model.Data().Modified(); }
    bool CursorShown() const { return Model.CursorShown(); }

    QWidget* Surface() const;
    QScrollBar* ScrollBar() const { return sb; }
    QMenu* PopupMenu() const { return pmDump; }
    // The block caret on the surface, CharWidth by CharHeight at the cursor cell.
    QRect CaretRect() const;
    // Whether the caret is drawn now: shown, the view has the focus, blink phase on.
    bool CaretVisible() const;

signals:
    void EditsChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TDumpSurface;

    void CreateMenu();
    QAction* AddMenuItem(const char* name, const QString& text, void (TDumpFrame::*handler)());
    void Measure();
    void SyncScrollBar();
    void Apply(const TDumpEffect& effect);
    void ApplyMove(const TDumpEffect& effect);
    // Emits EditsChanged when Undo, Redo or Modified() differ from last time.
    void NotifyEdits();
    void ApplyAddressBase();
    void RestartBlink();
    bool Wheel(QWheelEvent* event);

    void PaintSurface(QPainter& painter, const QRect& dirty) const;
    void PaintLine(QPainter& painter, int row) const;
    void SurfaceMousePress(QMouseEvent* event);
    void SurfaceMouseMove(QMouseEvent* event);
    void SurfaceMouseRelease(QMouseEvent* event);

    void pmDumpPopup();
    void cmFillSelectedClick();
    void cmRevertChangesClick();
    void cmUpdateChangesClick();
    void cmFontClick();
    void cmFindStringClick();

    TDumpEditor Model;
    TDumpDialogs Dialogs;
    std::function<void()> FindStringsHandler;
    std::function<std::optional<std::uint64_t>()> BaseSource;
    std::optional<std::uint64_t> Base;
    bool ShowTargets = false;
    std::array<bool, 3> EditState{}; // CanUndo, CanRedo, Modified as last told
    TDumpSurface* pbDump = nullptr;
    QScrollBar* sb = nullptr;
    QMenu* pmDump = nullptr;
    QAction* cmFillSelected = nullptr;
    QAction* cmRevertChanges = nullptr;
    QAction* cmUpdateChanges = nullptr;
    QAction* cmFont = nullptr;
    QAction* cmFindString = nullptr;
    QBasicTimer BlinkTimer;
    bool CaretOn = true;
};

} // namespace lindprog
