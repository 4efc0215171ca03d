#include "gui/buffer/DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
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

QLabel* MakeErrorLabel(QWidget* group)
{
    // Wide enough for the longest refusal on two lines.
    constexpr int TextChars = 46;
    auto* label = new QLabel(group);
    label->setObjectName("mError");
    label->setWordWrap(true);
    const QFontMetrics metrics(label->font());
    label->setFixedWidth(metrics.horizontalAdvance(QString(TextChars, 'x')));
    label->setMinimumHeight(2 * metrics.lineSpacing());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace lindprog
