#pragma once
// The strings dialog: the runs the string finder found, one row each with its
// address, length and text. A click on a column header sorts the rows by that
// column, always ascending; a double click on a row scrolls the hex view so
// that the run's line comes to the top, while the dialog stays open.

#include "core/buffer/StringFinder.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace lindprog {

class TDumpFrame;

class TStringDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 361;
    static constexpr int ClientHeight = 303;

    // Owned by the view it scrolls, centred on the view's window.
    explicit TStringDialog(TDumpFrame& view);

    // Fills the list, shows the dialog modally and returns the offset of the
    // entry last double-clicked, -1 when there was none.
    std::int64_t ShowStrings(const std::vector<TStringEntry>& list);
    // The rows of ShowStrings, in list order; SelectedAddress starts at -1.
    void FillList(const std::vector<TStringEntry>& list);

    // A click on header `column`: sorts every row by it, ascending.
    void lvColumnClick(int column);
    // Scrolls the view to the selected row's line; without a selection nothing.
    void lvDblClick();

    int SortColumnIndex() const { return SortColumn; }
    std::int64_t SelectedOffset() const { return SelectedAddress; }
    QTreeWidget* List() const { return lv; }
    QPushButton* CloseButton() const { return btnClose; }

private:
    TDumpFrame& View;
    QTreeWidget* lv = nullptr;
    QPushButton* btnClose = nullptr;
    int SortColumn = 0;
    std::int64_t SelectedAddress = -1;
};

} // namespace lindprog
