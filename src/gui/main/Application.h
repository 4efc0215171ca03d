#pragma once
// The application object. Its notify override is the one place where an
// error that escapes a command handler is caught and shown; the program then
// goes on. It also gives every window the program's font.

#include <QApplication>
#include <QFont>

#include <functional>

namespace lindprog {

// The font the windows are laid out for: the main window and every dialog.
QFont WindowFont();

class TApplication final : public QApplication {
public:
    static constexpr const char* Title = "Corvane Programmer";

    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // How an escaped error is shown: the application's error box; tests
    // record it instead.
    std::function<void(const QString& message)> ShowError;
};

} // namespace lindprog
