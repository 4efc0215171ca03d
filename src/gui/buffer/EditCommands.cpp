#include "gui/buffer/EditCommands.h"

#include "gui/buffer/DumpF.h"
#include "gui/buffer/GoToD.h"

#include <QAction>
#include <QMenu>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace lindprog {

TEditCommands::TEditCommands(QMenu* editMenu, TDumpFrame& dump, TEditCommandHooks hooks)
    : QObject(&dump), Dump(dump), Hooks(std::move(hooks))
{
    setObjectName("EditCommands");
    cmEditUndo = AddItem(editMenu, "cmEditUndo", "&Undo", {Qt::CTRL | Qt::Key_Z}, &TEditCommands::cmEditUndoClick);
    cmEditRedo = AddItem(editMenu, "cmEditRedo", "&Redo", {Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z},
                         &TEditCommands::cmEditRedoClick);
    editMenu->addSeparator();
    cmEditFind = AddItem(editMenu, "cmEditFind", "&Find...", {Qt::CTRL | Qt::Key_F}, &TEditCommands::cmEditFindClick);
    cmEditFindNext =
        AddItem(editMenu, "cmEditFindNext", "Find &next", {Qt::Key_F3}, &TEditCommands::cmEditFindNextClick);
    cmEditFindPrevious = AddItem(editMenu, "cmEditFindPrevious", "Find &previous", {Qt::SHIFT | Qt::Key_F3},
                                 &TEditCommands::cmEditFindPreviousClick);
    cmEditGoTo =
        AddItem(editMenu, "cmEditGoTo", "&Go to address...", {Qt::CTRL | Qt::Key_G}, &TEditCommands::cmEditGoToClick);
    editMenu->addSeparator();
    cmEditNextDifference = AddItem(editMenu, "cmEditNextDifference", "Next &difference", {Qt::Key_F8},
                                   &TEditCommands::cmEditNextDifferenceClick);
    cmEditPreviousDifference = AddItem(editMenu, "cmEditPreviousDifference", "Pre&vious difference",
                                       {Qt::SHIFT | Qt::Key_F8}, &TEditCommands::cmEditPreviousDifferenceClick);
    editMenu->addSeparator();
    cmEditShowAddresses = editMenu->addAction("Show &target addresses");
    cmEditShowAddresses->setObjectName("cmEditShowAddresses");
    cmEditShowAddresses->setCheckable(true);
    cmEditShowAddresses->setStatusTip("The address column shows offset + the region's base address on the target");
    connect(cmEditShowAddresses, &QAction::toggled, this, &TEditCommands::cmEditShowAddressesClick);

    if (Hooks.BaseAddress)
        Dump.SetBaseSource(Hooks.BaseAddress);
    connect(&Dump, &TDumpFrame::EditsChanged, this, &TEditCommands::DumpEditsChanged);
    DumpEditsChanged();
}

QAction* TEditCommands::AddItem(QMenu* menu, const char* name, const QString& text, const QList<QKeySequence>& keys,
                                void (TEditCommands::*handler)())
{
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
}

void TEditCommands::DumpEditsChanged()
{
    cmEditUndo->setEnabled(Dump.CanUndo());
    cmEditRedo->setEnabled(Dump.CanRedo());
}

void TEditCommands::Report(const QString& text) const
{
    if (Hooks.Report) {
        Hooks.Report(text);
        return;
    }
    const QRect caret = Dump.CaretRect();
    QToolTip::showText(Dump.Surface()->mapToGlobal(caret.bottomLeft()), text, Dump.Surface());
}

void TEditCommands::cmEditUndoClick()
{
    Dump.Undo();
}

void TEditCommands::cmEditRedoClick()
{
    Dump.Redo();
}

void TEditCommands::cmEditFindClick()
{
    const std::optional<TFindRequest> request = AskFindRequest(Dump.window(), LastFind);
    if (!request)
        return;
    LastFind = *request;
    LastPattern = ParseFindRequest(LastFind).Bytes;
    FindFrom(TFindFrom::Cursor);
}

void TEditCommands::cmEditFindNextClick()
{
    if (LastPattern.empty())
        cmEditFindClick();
    else
        FindFrom(TFindFrom::AfterCursor);
}

void TEditCommands::cmEditFindPreviousClick()
{
    if (LastPattern.empty())
        cmEditFindClick();
    else
        FindFrom(TFindFrom::BeforeCursor);
}

void TEditCommands::FindFrom(TFindFrom from)
{
    const std::optional<TFoundAt> found = Dump.Find(LastPattern, from);
    if (!found)
        Report(QString("%1 was not found.").arg(LastFind.Text.trimmed()));
    else if (found->Wrapped)
        Report(from == TFindFrom::BeforeCursor ? "The search went on from the end of the buffer."
                                               : "The search went on from the start of the buffer.");
}

void TEditCommands::cmEditGoToClick()
{
    const std::uint32_t size = Dump.DataSize();
    const auto cursor =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(Dump.CursorIndex(), 0, size > 0 ? size - 1 : 0));
    if (const std::optional<std::uint32_t> offset =
            AskGoToOffset(Dump.window(), size, Dump.BaseAddress(), cursor, GoToKind))
        Dump.GoToOffset(*offset);
}

void TEditCommands::cmEditNextDifferenceClick()
{
    if (!Dump.GoToNextDifference())
        Report("No differences are marked.");
}

void TEditCommands::cmEditPreviousDifferenceClick()
{
    if (!Dump.GoToPreviousDifference())
        Report("No differences are marked.");
}

void TEditCommands::cmEditShowAddressesClick(bool checked)
{
    Dump.SetShowTargetAddresses(checked);
    if (checked && !Dump.BaseAddress())
        Report("No base address is known for the region yet: it is chosen when an image file is opened or saved. "
               "The column shows offsets until then.");
}

TEditCommands& AddEditCommands(QMenu* editMenu, TDumpFrame& dump, TEditCommandHooks hooks)
{
    return *new TEditCommands(editMenu, dump, std::move(hooks)); // owned by the view
}

} // namespace lindprog
