#include "gui/main/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace lindprog {

void TElidedLabel::SetFullText(const QString& text)
{
    Full = text;
    Elide();
    updateGeometry();
}

QSize TElidedLabel::minimumSizeHint() const
{
    // Any width will do: the text is cut to it.
    return {0, QLabel::minimumSizeHint().height()};
}

QSize TElidedLabel::sizeHint() const
{
    const int frame = 2 * frameWidth() + 2 * margin() + fontMetrics().horizontalAdvance(QLatin1Char('x'));
    return {fontMetrics().horizontalAdvance(Full) + frame, QLabel::sizeHint().height()};
}

void TElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    Elide();
}

void TElidedLabel::Elide()
{
    const int room = contentsRect().width() - 2 * margin() - fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
    const QString shown = fontMetrics().elidedText(Full, Qt::ElideRight, std::max(room, 0));
    setText(shown);
    setToolTip(shown == Full ? QString() : Full);
}

} // namespace lindprog
