#include "gui/buffer/FillD.h"

#include "gui/buffer/DialogButtons.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace lindprog {

TFillDialog::TFillDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setWindowTitle("Fill selected");

    auto* group = new QGroupBox(this);
    auto* label = new QLabel("Fill value (in hex):", group);
    eFillValue = new QLineEdit(group);
    eFillValue->setObjectName("eFillValue");
    label->setBuddy(eFillValue);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(label);
    groupLayout->addWidget(eFillValue);

    const TDialogButtons buttons = LayOutWithButtons(*this, group);
    btnOk = buttons.Ok;
    btnCancel = buttons.Cancel;
}

void TFillDialog::SetFillValue(std::uint8_t value)
{
    eFillValue->setText(QString::asprintf("%02X", static_cast<unsigned>(value)));
    eFillValue->selectAll();
}

QString TFillDialog::FillText() const
{
    return eFillValue->text();
}

std::optional<QString> AskFillValue(QWidget* parent, std::uint8_t current)
{
    TFillDialog dialog(parent);
    dialog.SetFillValue(current);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.FillText();
}

} // namespace lindprog
