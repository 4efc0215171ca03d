#pragma once
// The hex view's commands as the window's menu items with their shortcuts:
// Undo (Ctrl+Z), Redo (Ctrl+Y, Ctrl+Shift+Z), Find... (Ctrl+F), Find next
// (F3), Find previous (Shift+F3), Go to address... (Ctrl+G), Next and
// Previous difference (F8, Shift+F8) and "Show target addresses". The window
// makes the menu and calls AddEditCommands once; the items act on the view,
// which holds the rules (DumpF.h, and the core behind it). Being the menu's
// actions, the shortcuts work wherever the focus is in the window and show
// beside the items.

#include "core/buffer/DumpEditor.h"
#include "core/buffer/GoToAddress.h"
#include "gui/buffer/FindD.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QMenu;

namespace lindprog {

class TDumpFrame;

// What the commands need from the window.
struct TEditCommandHooks {
    // The region's base address on the target, when one is known: the address
    // remembered for the device and region when an image file was opened or
    // saved. Unset or nothing: only offsets.
    std::function<std::optional<std::uint64_t>()> BaseAddress;
    // Where short notices go ("not found", a search that went on at the other
    // end); unset: a tooltip at the view's caret.
    std::function<void(const QString&)> Report;
};

class TEditCommands final : public QObject {
    Q_OBJECT

public:
    // Adds the items to `editMenu`; owned by `dump`.
    TEditCommands(QMenu* editMenu, TDumpFrame& dump, TEditCommandHooks hooks);

    QAction *cmEditUndo, *cmEditRedo, *cmEditFind, *cmEditFindNext, *cmEditFindPrevious, *cmEditGoTo;
    QAction *cmEditNextDifference, *cmEditPreviousDifference, *cmEditShowAddresses;

    void cmEditUndoClick();
    void cmEditRedoClick();
    void cmEditFindClick();
    void cmEditFindNextClick();
    void cmEditFindPreviousClick();
    void cmEditGoToClick();
    void cmEditNextDifferenceClick();
    void cmEditPreviousDifferenceClick();
    void cmEditShowAddressesClick(bool checked);

private:
    QAction* AddItem(QMenu* menu, const char* name, const QString& text, const QList<QKeySequence>& keys,
                     void (TEditCommands::*handler)());
    void FindFrom(TFindFrom from);
    void Report(const QString& text) const;
    void DumpEditsChanged();

    TDumpFrame& Dump;
    TEditCommandHooks Hooks;
    TFindRequest LastFind;
    std::vector<std::uint8_t> LastPattern;
    TAddressKind GoToKind = TAddressKind::Target;
};

// The one call the window makes: the items in `editMenu`, acting on `dump`.
TEditCommands& AddEditCommands(QMenu* editMenu, TDumpFrame& dump, TEditCommandHooks hooks = {});

} // namespace lindprog
