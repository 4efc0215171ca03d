#include "gui/main/LogView.h"

#include "core/base/AdapterText.h"
#include "core/base/Passwords.h"
#include "core/buffer/BufferFile.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSaveFile>

namespace lindprog {

namespace {

// The date and time a line was added, kept with it for Log > "Save as...".
constexpr int StampRole = Qt::UserRole;

} // namespace

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
    QAction* copy = pmLog->addAction("C&opy", this, &TLogView::cmCopyClick);
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
    const QTime now = Clock();
    line->setText(0, TimeText(now));
    line->setData(0, StampRole, QDateTime(Today(), now));
    // Adapter texts reach the log: a control character in one must not
    // forge a line or reach the terminal or the clipboard raw.
    const std::string shown = ShowControlCharacters(WithoutPasswords(text));
    line->setText(1, QString::fromUtf8(shown.c_str(), static_cast<qsizetype>(shown.size())));
    // The scroll range follows the new row only once the geometry is updated.
    updateGeometries();
    scrollToItem(line, QAbstractItemView::PositionAtBottom);
    viewport()->update();
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

QString TLogView::DatedText() const
{
    QString text;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        const QTreeWidgetItem* line = topLevelItem(row);
        text += line->data(0, StampRole).toDateTime().toString("yyyy-MM-dd hh:mm:ss") + "  " + line->text(1) + '\n';
    }
    return text;
}

void TLogView::SaveToFile(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(DatedText().toUtf8()) < 0 || !file.commit())
        throw TFileError("Cannot save file \"" + path.toStdString() + "\". " + file.errorString().toStdString());
}

QString TLogView::MessageAt(int row) const
{
    const QTreeWidgetItem* line = topLevelItem(row);
    return line ? line->text(1) : QString();
}

} // namespace lindprog
