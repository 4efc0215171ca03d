#pragma once
// Answers a modal window that a command under test brings up with exec(): a
// timer watches for it, hands it to the test's action once it is the active
// modal window, and closes it if the action left it open. A window that does
// not come within the bound is a test failure, and whatever modal window is
// up then is closed, so a test can never hang on one.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace lindprog::test {

template <typename TWindow = QWidget>
class TModalAnswer {
public:
    explicit TModalAnswer(std::function<void(TWindow*)> act, std::chrono::milliseconds bound = std::chrono::seconds(30))
        : State(std::make_unique<TState>(std::move(act), std::chrono::steady_clock::now() + bound))
    {
        TState* state = State.get();
        QObject::connect(&State->Timer, &QTimer::timeout, [state] { state->Poll(); });
        State->Timer.start(10);
    }

    // Whether the window came and was handed to the action.
    bool Seen() const { return State->Seen; }

private:
    // Behind a pointer: the timer changes it while the owner may be const.
    struct TState {
        std::function<void(TWindow*)> Act;
        std::chrono::steady_clock::time_point Deadline;
        QTimer Timer;
        bool Seen = false;

        void Poll()
        {
            QPointer<QWidget> shown = QApplication::activeModalWidget();
            if (auto* window = dynamic_cast<TWindow*>(shown.data())) {
                Timer.stop();
                Seen = true;
                Act(window);
                if (shown && shown->isVisible())
                    shown->close();
            } else if (std::chrono::steady_clock::now() > Deadline) {
                Timer.stop();
                ADD_FAILURE() << "the expected modal window did not come up";
                if (shown)
                    shown->close();
            }
        }
    };
    std::unique_ptr<TState> State;
};

} // namespace lindprog::test
