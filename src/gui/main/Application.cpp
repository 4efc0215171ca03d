#include "gui/main/Application.h"

#include "gui/main/MessagePrompts.h"

#include <exception>

namespace lindprog {

QFont WindowFont()
{
    return QFont("Sans Serif", 8);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Application-wide rather than on the main window: a dialog is a window
    // of its own and does not take its parent's font, and the dialogs' fixed
    // places are laid out for this font. Message boxes and file choosers
    // match it too.
    setFont(WindowFont());
    // The title names the task-bar entry and captions the error box below.
    setApplicationName(Title);
    ShowError = [this](const QString& message) { ShowApplicationError(activeWindow(), message); };
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowError("Unexpected error");
    }
    return false;
}

} // namespace lindprog
