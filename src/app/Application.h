#pragma once
// The application object. Its notify override is the one place where an
// error that escapes a command handler is caught and shown; the program then
// goes on.

#include <QApplication>

namespace lindprog {

class TApplication final : public QApplication {
public:
    static constexpr const char* Title = "Corvane Programmer";

    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace lindprog
