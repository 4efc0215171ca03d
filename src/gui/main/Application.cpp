#include "gui/main/Application.h"

#include "gui/main/MessagePrompts.h"

#include <exception>

namespace lindprog {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The title names the task-bar entry and captions the error box below.
    setApplicationName(Title);
    ShowError = [this](const QString& message) { ShowApplicationError(activeWindow(), message); };
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowError("Unexpected error");
    }
    return false;
}

} // namespace lindprog
