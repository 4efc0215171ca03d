#pragma once
// The message log: one time-stamped line per result, newest at the bottom,
// with "&Clear" and "C&opy" in its context menu. It lives in memory until
// Log > "Save as..." writes it out as UTF-8 text, each line with its date.

#include "core/base/Prompts.h"

#include <QDate>
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
    // Every line as "yyyy-MM-dd hh:mm:ss  message", oldest first.
    QString DatedText() const;
    // Writes DatedText to path, replacing the file only once it is complete;
    // throws TFileError when it cannot.
    void SaveToFile(const QString& path) const;
    QMenu* ContextMenu() const { return pmLog; }

protected:
    // The list's own Ctrl+C would copy the current cell, the time included;
    // the log's copy is always the selected line's message.
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<QTime()> Clock = [] { return QTime::currentTime(); };
    std::function<QDate()> Today = [] { return QDate::currentDate(); };
    QMenu* pmLog;
};

} // namespace lindprog
