#include "gui/buffer/GoToD.h"

#include "gui/buffer/DialogButtons.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lindprog {
namespace {

QString Hex(std::uint64_t value)
{
    return "0x" + QString::asprintf("%llX", static_cast<unsigned long long>(value));
}

} // namespace

TGoToDialog::TGoToDialog(std::uint32_t size, std::optional<std::uint64_t> base, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      Size(size), Base(base)
{
    setWindowTitle("Go to address");
    auto* group = new QGroupBox(this);
    eAddress = new QLineEdit(group);
    eAddress->setObjectName("eAddress");
    auto* hint = new QLabel("Hexadecimal: 1F00 or 0x1F00. Decimal after #: #7936.", group);
    hint->setObjectName("mHint");
    rbOffset = new QRadioButton(QString("Offset in the buffer (0x0..%1)").arg(Hex(size > 0 ? size - 1 : 0)), group);
    rbOffset->setObjectName("rbOffset");
    rbTarget = new QRadioButton(base ? QString("Target address (the region starts at %1)").arg(Hex(*base))
                                     : QString("Target address (no base address is known for the region)"),
                                group);
    rbTarget->setObjectName("rbTarget");
    rbTarget->setEnabled(base.has_value());
    rbOffset->setChecked(true);
    mError = MakeErrorLabel(group);

    auto* rows = new QVBoxLayout(group);
    rows->addWidget(new QLabel("&Address:", group));
    rows->addWidget(eAddress);
    rows->addWidget(hint);
    rows->addWidget(rbOffset);
    rows->addWidget(rbTarget);
    rows->addWidget(mError);
    static_cast<QLabel*>(rows->itemAt(0)->widget())->setBuddy(eAddress);

    const TDialogButtons buttons = LayOutWithButtons(*this, group);
    btnOk = buttons.Ok;
    btnCancel = buttons.Cancel;
    connect(eAddress, &QLineEdit::textChanged, this, &TGoToDialog::eAddressChange);
    connect(rbTarget, &QRadioButton::toggled, this, &TGoToDialog::eAddressChange);
    eAddressChange();
}

void TGoToDialog::Propose(TAddressKind kind, std::uint32_t offset)
{
    const bool target = kind == TAddressKind::Target && Base;
    (target ? rbTarget : rbOffset)->setChecked(true);
    eAddress->setText(Hex(target ? *Base + offset : offset));
    eAddress->selectAll();
    eAddressChange();
}

TAddressKind TGoToDialog::Kind() const
{
    return rbTarget->isChecked() ? TAddressKind::Target : TAddressKind::Offset;
}

TGoToTarget TGoToDialog::Resolve() const
{
    return ResolveGoToAddress(eAddress->text().toStdString(), Kind(), Base.value_or(0), Size);
}

std::optional<std::uint32_t> TGoToDialog::Offset() const
{
    const TGoToTarget target = Resolve();
    return target.Valid() ? std::optional<std::uint32_t>(target.Offset) : std::nullopt;
}

void TGoToDialog::eAddressChange()
{
    const TGoToTarget target = Resolve();
    btnOk->setEnabled(target.Valid());
    mError->setText(QString::fromStdString(target.Error));
}

std::optional<std::uint32_t> AskGoToOffset(QWidget* parent, std::uint32_t size, std::optional<std::uint64_t> base,
                                           std::uint32_t offset, TAddressKind& kind)
{
    TGoToDialog dialog(size, base, parent);
    dialog.Propose(kind, offset);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    kind = dialog.Kind();
    return dialog.Offset();
}

} // namespace lindprog
