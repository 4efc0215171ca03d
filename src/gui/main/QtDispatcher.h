#pragma once
// Runs posted functions on the UI thread through Qt's event loop.

#include "core/base/UiDispatcher.h"

#include <QObject>

namespace lindprog {

class TQtDispatcher final : public TUiDispatcher {
public:
    explicit TQtDispatcher(QObject* context) : Context(context) {}
    void Post(std::function<void()> function) override;

private:
    // Not owned; it outlives every thread that posts (the endpoint is closed
    // before the window goes), and Qt drops queued calls of a deleted context.
    QObject* Context;
};

} // namespace lindprog
