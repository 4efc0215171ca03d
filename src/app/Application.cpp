#include "Application.h"

#include "MessagePrompts.h"

#include <exception>

namespace lindprog {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The title names the task-bar entry and captions the error box below.
    setApplicationName(Title);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowApplicationError(activeWindow(), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowApplicationError(activeWindow(), "Unexpected error");
    }
    return false;
}

} // namespace lindprog
