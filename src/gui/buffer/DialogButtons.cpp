#include "gui/buffer/DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace lindprog {

TDialogButtons LayOutWithButtons(QDialog& dialog, QWidget* group)
{
    TDialogButtons buttons;
    buttons.Ok = new QPushButton("OK", &dialog);
    buttons.Ok->setObjectName("btnOk");
    buttons.Ok->setDefault(true);
    buttons.Cancel = new QPushButton("Cancel", &dialog);
    buttons.Cancel->setObjectName("btnCancel");
    QObject::connect(buttons.Ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(buttons.Cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(buttons.Ok);
    row->addWidget(buttons.Cancel);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(group);
    layout->addLayout(row);
    // A fixed border: the dialog keeps the size its contents need.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return buttons;
}

} // namespace lindprog
