#pragma once
// Acts on a modal dialog that a command under test opens with exec(): a timer
// looks for it and hands it to the test's function once it is the active
// modal widget. Without such a dialog within the bound the test fails and
// whatever modal widget is up is closed, so the test can't hang.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace lindprog::test {

template <typename TDialog>
std::unique_ptr<QTimer> WhenModal(std::function<void(TDialog*)> act,
                                  std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    auto timer = std::make_unique<QTimer>();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [raw, act = std::move(act), deadline] {
        if (auto* dialog = dynamic_cast<TDialog*>(QApplication::activeModalWidget())) {
            raw->stop();
            act(dialog);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            raw->stop();
            ADD_FAILURE() << "the expected dialog did not come up";
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
        }
    });
    timer->start(10);
    return timer;
}

} // namespace lindprog::test
