#include "gui/main/MessagePrompts.h"

#include "core/base/Passwords.h"

#include <QApplication>
#include <QPushButton>

namespace lindprog {

namespace {

struct TKindLook {
    const char* Caption;
    QMessageBox::Icon Icon;
    bool YesNo;
};

TKindLook LookOf(TPromptKind kind)
{
    switch (kind) {
    case TPromptKind::Error: return {"Error", QMessageBox::Critical, false};
    case TPromptKind::Information: return {"Information", QMessageBox::Information, false};
    case TPromptKind::Confirmation: return {"Confirm", QMessageBox::Question, true};
    default: return {"Warning", QMessageBox::Warning, true};
    }
}

} // namespace

TPromptBox::TPromptBox(TPromptKind kind, const QString& text, QWidget* parent) : QMessageBox(parent)
{
    const TKindLook look = LookOf(kind);
    setWindowTitle(look.Caption);
    setIcon(look.Icon);
    // An error may name a database by its URI, and the URI its password.
    setText(QString::fromStdString(WithoutPasswords(text.toStdString())));
    if (look.YesNo) {
        QPushButton* yes = addButton("&Yes", QMessageBox::YesRole);
        QPushButton* no = addButton("&No", QMessageBox::NoRole);
        setDefaultButton(yes); // Enter
        setEscapeButton(no);   // Esc
    } else {
        QPushButton* ok = addButton("OK", QMessageBox::AcceptRole);
        setDefaultButton(ok);
        setEscapeButton(ok);
    }
    connect(this, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) { Chosen = button; });
}

TAnswer TPromptBox::Run()
{
    exec();
    if (Chosen == nullptr)
        return TAnswer::None;
    return buttonRole(Chosen) == QMessageBox::NoRole ? TAnswer::No : TAnswer::Yes;
}

void TMessageBoxPrompts::ShowError(const std::string& text)
{
    TPromptBox(TPromptKind::Error, QString::fromStdString(text), Parent).Run();
}

void TMessageBoxPrompts::ShowInfo(const std::string& text)
{
    TPromptBox(TPromptKind::Information, QString::fromStdString(text), Parent).Run();
}

bool TMessageBoxPrompts::AskConfirm(const std::string& text)
{
    return AskConfirmButton(text) == TAnswer::Yes;
}

TAnswer TMessageBoxPrompts::AskConfirmButton(const std::string& text)
{
    return TPromptBox(TPromptKind::Confirmation, QString::fromStdString(text), Parent).Run();
}

TAnswer TMessageBoxPrompts::AskWarning(const std::string& text)
{
    return TPromptBox(TPromptKind::Warning, QString::fromStdString(text), Parent).Run();
}

QString ApplicationErrorText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

void ShowApplicationError(QWidget* parent, const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), ApplicationErrorText(message),
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace lindprog
