#include "gui/settings/SettingsD.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QValidator>

#include <algorithm>

namespace lindprog {

namespace {

// Whole numbers only; anything may be typed, and what was typed is taken
// when the field is left: brought to the nearer bound, or the lowest delay
// when it is no number at all.
class TJtagDelaySpin final : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    int valueFromText(const QString& text) const override
    {
        bool isNumber = false;
        const qlonglong typed = text.trimmed().toLongLong(&isNumber, 10);
        if (!isNumber)
            return TSettings::MinJtagDelay;
        return static_cast<int>(std::clamp<qlonglong>(typed, minimum(), maximum()));
    }
};

} // namespace

TSettingsDialog::TSettingsDialog(QWidget* parent)
    : QDialog(parent), cbTurnOffPower(new QCheckBox("Turn off power after each operation", this)),
      seJtagDelay(new TJtagDelaySpin(this)), cbBlockSIze(new QComboBox(this)),
      cbIgnoreReadErrors(new QCheckBox("Ignore read errors", this)), seBlockPause(new QSpinBox(this)),
      cbSkipErased(new QCheckBox("Skip erased blocks when writing images", this))
{
    setObjectName("SettingsDialog");
    setWindowTitle("Settings");
    setFixedSize(std::max(275, cbSkipErased->sizeHint().width() + 32), 200);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    cbTurnOffPower->setObjectName("cbTurnOffPower");
    // The design's positions, widened where this platform's font needs more
    // room than the design gave a caption.
    cbTurnOffPower->setGeometry(16, 16, std::max(209, cbTurnOffPower->sizeHint().width()), 17);
    auto* delayLabel = new QLabel("JTAG delay:", this);
    delayLabel->move(16, 44);
    delayLabel->adjustSize();
    seJtagDelay->setObjectName("seJtagDelay");
    seJtagDelay->setGeometry(std::max(80, delayLabel->geometry().right() + 6), 40,
                             std::max(49, seJtagDelay->sizeHint().width()), 21);
    seJtagDelay->setRange(TSettings::MinJtagDelay, TSettings::MaxJtagDelay);
    seJtagDelay->setSingleStep(1);
    seJtagDelay->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);

    auto* pauseLabel = new QLabel("Pause between blocks (ms):", this);
    pauseLabel->move(16, 72);
    pauseLabel->adjustSize();
    seBlockPause->setObjectName("seBlockPause");
    seBlockPause->setGeometry(std::max(168, pauseLabel->geometry().right() + 6), 68,
                              std::max(57, seBlockPause->sizeHint().width()), 21);
    seBlockPause->setRange(0, TSettings::MaxBlockPause);
    seBlockPause->setToolTip("For adapters that cannot take requests back to back; 0 is the fastest");
    cbSkipErased->setObjectName("cbSkipErased");
    cbSkipErased->setGeometry(16, 100, std::max(240, cbSkipErased->sizeHint().width()), 17);
    cbSkipErased->setToolTip("Write and verify only the blocks of a HEX, S-record or ELF image that hold data, "
                             "and prove the others blank after the erase");

    auto* blockLabel = new QLabel("Read / write block size, bytes:", this);
    blockLabel->move(16, 72);
    blockLabel->hide();
    cbBlockSIze->setObjectName("cbBlockSIze");
    cbBlockSIze->setGeometry(168, 68, 65, 21);
    cbBlockSIze->addItems({"4", "8", "16", "32", "64", "128", "256", "512"});
    cbBlockSIze->hide();
    cbIgnoreReadErrors->setObjectName("cbIgnoreReadErrors");
    cbIgnoreReadErrors->setGeometry(16, 96, 121, 17);
    cbIgnoreReadErrors->hide();

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("btnOk");
    ok->setGeometry(64, 166, 73, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    cancel->setGeometry(144, 166, 73, 25);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TSettingsDialog::Load(const TSettings& settings)
{
    cbTurnOffPower->setChecked(settings.TurnOffPower);
    seJtagDelay->setValue(settings.JtagDelay);
    cbIgnoreReadErrors->setChecked(settings.IgnoreReadErrors);
    seBlockPause->setValue(settings.BlockPause);
    cbSkipErased->setChecked(settings.SkipErasedBlocks);
    cbBlockSIze->setCurrentIndex(cbBlockSIze->findText(QString::number(settings.BlockSize)));
}

void TSettingsDialog::Apply(TSettings& settings) const
{
    settings.TurnOffPower = cbTurnOffPower->isChecked();
    settings.JtagDelay = seJtagDelay->value();
    settings.IgnoreReadErrors = cbIgnoreReadErrors->isChecked();
    settings.BlockPause = seBlockPause->value();
    settings.SkipErasedBlocks = cbSkipErased->isChecked();
    bool isNumber = false;
    const int blockSize = cbBlockSIze->currentText().toInt(&isNumber, 10);
    // With no item chosen there is no text; the block size stays as it was
    // rather than becoming an error.
    if (isNumber)
        settings.BlockSize = blockSize;
}

void EditSettings(QWidget* parent, TSettings& settings)
{
    TSettingsDialog dialog(parent);
    dialog.Load(settings);
    if (dialog.exec() == QDialog::Accepted)
        dialog.Apply(settings);
}

} // namespace lindprog
