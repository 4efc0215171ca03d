#pragma once
// "Find strings..." of the hex view's popup menu: asks for the minimal string
// length, scans the view's data and lists the runs found in a strings dialog of
// their own. A scan that finds nothing ends silently, with no dialog.
//
// One command object lives as long as the view (a child of it) and keeps the
// minimum last entered; it is offered again next time, but never below 4.

#include "core/buffer/StringFinder.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace lindprog {

class TDumpFrame;

// The modal parts of the command. The defaults show the platform's text input
// box and TStringDialog; tests put their own in their place.
struct TStringFinderDialogs {
    // Offers `current`; the text entered on OK, or nothing on Cancel.
    std::function<std::optional<QString>(QWidget* parent, std::int32_t current)> AskMinLength;
    // Lists `found` in a new dialog owned by `view` until the user closes it.
    std::function<void(TDumpFrame& view, const std::vector<TStringEntry>& found)> ShowStrings;
};

// The input box "Find strings" / "Enter minimal string length".
std::optional<QString> AskMinStringLength(QWidget* parent, std::int32_t current);
// A new TStringDialog over `view`, shown modally and discarded when it closes.
void ShowStringsDialog(TDumpFrame& view, const std::vector<TStringEntry>& found);

class TStringFinderCommand final : public QObject {
public:
    explicit TStringFinderCommand(TDumpFrame& view,
                                  TStringFinderDialogs dialogs = {AskMinStringLength, ShowStringsDialog});

    void cmFindStringClick();
    std::int32_t MinStringLen() const { return MinLength; }

private:
    TDumpFrame& View;
    TStringFinderDialogs Dialogs;
    std::int32_t MinLength = 0;
};

} // namespace lindprog
