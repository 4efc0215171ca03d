#include "gui/buffer/StringFinderCommand.h"

#include "gui/buffer/DumpF.h"
#include "gui/buffer/StringsD.h"

#include <QInputDialog>

#include <utility>

namespace lindprog {

std::optional<QString> AskMinStringLength(QWidget* parent, std::int32_t current)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, "Find strings", "Enter minimal string length", QLineEdit::Normal,
                                               QString::number(current), &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

void ShowStringsDialog(TDumpFrame& view, const std::vector<TStringEntry>& found)
{
    TStringDialog dialog(view);
    dialog.ShowStrings(found);
}

TStringFinderCommand::TStringFinderCommand(TDumpFrame& view, TStringFinderDialogs dialogs)
    : QObject(&view), View(view), Dialogs(std::move(dialogs))
{
    setObjectName("StringFinder");
}

void TStringFinderCommand::cmFindStringClick()
{
    MinLength = OfferedMinStringLength(MinLength);
    const std::optional<QString> text = Dialogs.AskMinLength(View.window(), MinLength);
    if (!text)
        return;
    MinLength = ReadMinStringLength(text->toStdString());
    const std::vector<TStringEntry> found = FindStrings(View.Editor().Data().Bytes(), MinLength);
    if (!found.empty())
        Dialogs.ShowStrings(View, found);
}

} // namespace lindprog
