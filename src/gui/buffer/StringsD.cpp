#include "gui/buffer/StringsD.h"

#include "gui/buffer/DumpF.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lindprog {
namespace {

constexpr int ColumnWidths[] = {70, 35, 200};
constexpr int BytesPerLine = 16;

// A row keeps the entry it shows, so that sorting compares numbers and text
// instead of reading them back from the cells.
class TStringItem final : public QTreeWidgetItem {
public:
    explicit TStringItem(const TStringEntry& entry) : Entry(entry)
    {
        setText(0, QString::asprintf("%07llX", static_cast<unsigned long long>(entry.Offset)));
        setText(1, QString::number(entry.Text.size()));
        setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        setText(2, QString::fromLatin1(entry.Text.data(), static_cast<qsizetype>(entry.Text.size())));
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const auto column = static_cast<TStringColumn>(treeWidget() ? treeWidget()->sortColumn() : 0);
        return EntryLess(Entry, static_cast<const TStringItem&>(other).Entry, column);
    }

    const TStringEntry Entry;
};

QTreeWidget* MakeList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName("lv");
    list->setColumnCount(3);
    list->setHeaderLabels({"Address:", "Len:", "String:"});
    list->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    for (int column = 0; column < 3; ++column)
        list->setColumnWidth(column, ColumnWidths[column]);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The header sorts on click, always ascending; no arrow shows a direction.
    list->setSortingEnabled(false);
    list->header()->setSectionsClickable(true);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSortIndicatorShown(false);
    return list;
}

} // namespace

TStringDialog::TStringDialog(TDumpFrame& view)
    : QDialog(&view, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      View(view)
{
    setObjectName("StringDialog");
    setWindowTitle("Strings");

    auto* group = new QGroupBox(this);
    lv = MakeList(group);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(lv);

    // Default and cancel button at once: Enter and Esc both close.
    btnClose = new QPushButton("Close", this);
    btnClose->setObjectName("btnClose");
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addLayout(buttons);
    setFixedSize(ClientWidth, ClientHeight);

    connect(lv->header(), &QHeaderView::sectionClicked, this, [this](int column) { lvColumnClick(column); });
    connect(lv, &QTreeWidget::itemDoubleClicked, this, [this] { lvDblClick(); });
}

void TStringDialog::FillList(const std::vector<TStringEntry>& list)
{
    SelectedAddress = -1;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(list.size()));
    for (const TStringEntry& entry : list)
        rows.append(new TStringItem(entry));
    // One insertion, so the list is laid out and drawn once.
    lv->addTopLevelItems(rows);
}

std::int64_t TStringDialog::ShowStrings(const std::vector<TStringEntry>& list)
{
    FillList(list);
    exec();
    return SelectedAddress;
}

void TStringDialog::lvColumnClick(int column)
{
    SortColumn = column;
    lv->sortItems(column, Qt::AscendingOrder);
}

void TStringDialog::lvDblClick()
{
    const QList<QTreeWidgetItem*> selected = lv->selectedItems();
    if (selected.isEmpty())
        return;
    SelectedAddress = static_cast<const TStringItem*>(selected.front())->Entry.Offset;
    // The line holding the run's first byte goes to the top, or as near as the
    // end of the buffer allows; the view's cursor and selection stay.
    View.SetScrollPosition(SelectedAddress / BytesPerLine);
}

} // namespace lindprog
