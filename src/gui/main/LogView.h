#pragma once
// The message log: one time-stamped line per result, newest at the bottom,
// with "&Clear" and "&Copy" in its context menu. It lives in memory only.

#include "core/base/Prompts.h"

#include <QTime>
#include <QTreeWidget>

#include <functional>

class QMenu;

namespace lindprog {

class TLogView final : public QTreeWidget, public TLogSink {
    Q_OBJECT
public:
    explicit TLogView(QWidget* parent);

    void AddLogLine(const std::string& text) override;
    void cmClearClick();
    void cmCopyClick();

    // The time of day a line is stamped with; tests set a fixed one.
    void SetClock(std::function<QTime()> clock) { Clock = std::move(clock); }
    static QString TimeText(const QTime& time);
    QString MessageAt(int row) const;
    QMenu* ContextMenu() const { return pmLog; }

protected:
    // The list's own Ctrl+C would copy the current cell, the time included;
    // the log's copy is always the selected line's message.
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<QTime()> Clock = [] { return QTime::currentTime(); };
    QMenu* pmLog;
};

} // namespace lindprog
