#pragma once
// A status bar panel that shows as much of its text as fits, with "..." where
// it is cut and the whole text as its tooltip then. The adapter's identity
// can be longer than a narrow window leaves room for.

#include <QLabel>
#include <QString>

namespace lindprog {

class TElidedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit TElidedLabel(QWidget* parent) : QLabel(parent) {}

    void SetFullText(const QString& text);
    const QString& FullText() const { return Full; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString Full;
};

} // namespace lindprog
