#include "gui/main/LogView.h"

#include "core/base/AdapterText.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

namespace lindprog {

TLogView::TLogView(QWidget* parent) : QTreeWidget(parent), pmLog(new QMenu(this))
{
    setObjectName("lvLog");
    setColumnCount(2);
    setHeaderLabels({"Time:", "Message:"});
    setColumnWidth(0, 60);
    setColumnWidth(1, 500);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);

    QAction* clear = pmLog->addAction("&Clear", this, &TLogView::cmClearClick);
    clear->setObjectName("cmClear");
    QAction* copy = pmLog->addAction("&Copy", this, &TLogView::cmCopyClick);
    copy->setObjectName("cmCopy");
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmLog->popup(viewport()->mapToGlobal(at)); });
}

QString TLogView::TimeText(const QTime& time)
{
    return QString::asprintf(" %.02d:%.02d:%.02d ", time.hour(), time.minute(), time.second());
}

void TLogView::AddLogLine(const std::string& text)
{
    auto* line = new QTreeWidgetItem(this); // owned by the list
    line->setText(0, TimeText(Clock()));
    // Adapter texts reach the log: a control character in one must not
    // forge a line or reach the terminal or the clipboard raw.
    const std::string shown = ShowControlCharacters(text);
    line->setText(1, QString::fromUtf8(shown.c_str(), static_cast<qsizetype>(shown.size())));
    // The scroll range follows the new row only once the geometry is updated.
    updateGeometries();
    scrollToItem(line, QAbstractItemView::PositionAtBottom);
    // Operations run in steps on this thread: each line must show as it is
    // added, not when control next returns to the event loop.
    viewport()->repaint();
}

void TLogView::cmClearClick()
{
    clear();
    viewport()->repaint();
}

void TLogView::cmCopyClick()
{
    const QList<QTreeWidgetItem*> chosen = selectedItems();
    if (chosen.isEmpty())
        return;
    QApplication::clipboard()->setText(chosen.front()->text(1));
}

void TLogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        cmCopyClick();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

QString TLogView::MessageAt(int row) const
{
    const QTreeWidgetItem* line = topLevelItem(row);
    return line ? line->text(1) : QString();
}

} // namespace lindprog
