#include "gui/production/WrapLabel.h"

#include <QResizeEvent>

#include <algorithm>

namespace lindprog {

TWrapLabel::TWrapLabel(int lines, QWidget* parent) : QLabel(parent), Lines(lines)
{
    setWordWrap(true);
}

QSize TWrapLabel::minimumSizeHint() const
{
    QSize size = QLabel::minimumSizeHint();
    const int reserved = Lines * fontMetrics().lineSpacing() + 2 * (frameWidth() + margin());
    // Until it is laid out and shown its width is a placeholder, and a new
    // column's would ask for dozens of lines for a moment: enough to make
    // the window grow for good.
    const int wrapped = isVisible() ? heightForWidth(width()) : 0;
    size.setHeight(std::max(wrapped, reserved));
    return size;
}

void TWrapLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    // Another width may need another number of lines.
    if (event->size().width() != event->oldSize().width())
        updateGeometry();
}

} // namespace lindprog
