#pragma once
// Acts on whatever modal window a command under test brings up with exec():
// a timer waits for it, hands it to the test, and closes it if the test's
// action left it open, so a test can never hang on it.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace lindprog::test {

class TModalHandler {
public:
    explicit TModalHandler(std::function<void(QWidget*)> act) : Act(std::move(act))
    {
        Timer.setSingleShot(true);
        QObject::connect(&Timer, &QTimer::timeout, [this] { Handle(); });
        Timer.start(0);
    }
    bool Seen = false;

private:
    void Handle()
    {
        QPointer<QWidget> shown = QApplication::activeModalWidget();
        if (!shown) {
            Timer.start(0);
            return;
        }
        Seen = true;
        Act(shown);
        if (shown && shown->isVisible())
            shown->close();
    }

    std::function<void(QWidget*)> Act;
    QTimer Timer;
};

} // namespace lindprog::test
