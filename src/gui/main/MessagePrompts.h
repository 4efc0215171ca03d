#pragma once
// The prompt boxes: error, information, confirmation and warning, each with
// its fixed caption, icon and buttons.

#include "core/base/Prompts.h"

#include <QMessageBox>

class QWidget;

namespace lindprog {

enum class TPromptKind { Error, Information, Confirmation, Warning };

// A message box that tells a click on its close box apart from a button:
// the close box chooses no button at all (Qt would count it as the Esc
// button, which here is "&No").
class TPromptBox : public QMessageBox {
    Q_OBJECT
public:
    TPromptBox(TPromptKind kind, const QString& text, QWidget* parent);
    // Runs the box modally and says which button ended it.
    TAnswer Run();

private:
    QAbstractButton* Chosen = nullptr; // a click, Enter or Esc; never the close box
};

class TMessageBoxPrompts final : public TPrompts {
public:
    explicit TMessageBoxPrompts(QWidget* parent) : Parent(parent) {}
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    bool AskConfirm(const std::string& text) override;
    TAnswer AskConfirmButton(const std::string& text) override;
    TAnswer AskWarning(const std::string& text) override;

private:
    QWidget* Parent;
};

// The application-wide error box for errors that escape a command handler:
// the application title as caption, an error icon, "OK", and the message
// with a full stop added when it ends in a letter or digit.
QString ApplicationErrorText(const QString& message);
void ShowApplicationError(QWidget* parent, const QString& message);

} // namespace lindprog
