#include "gui/main/QtDispatcher.h"

#include <QMetaObject>

namespace lindprog {

void TQtDispatcher::Post(std::function<void()> function)
{
    QMetaObject::invokeMethod(Context, std::move(function), Qt::QueuedConnection);
}

} // namespace lindprog
