#pragma once
// The Settings dialog. The block size and ignore-read-errors controls are
// hidden but filled and read back like the visible ones, so they carry their
// values through the dialog unchanged.

#include "core/settings/Settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace lindprog {

class TSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsDialog(QWidget* parent);

    void Load(const TSettings& settings);
    void Apply(TSettings& settings) const;

    QCheckBox* cbTurnOffPower;
    QSpinBox* seJtagDelay;
    QComboBox* cbBlockSIze;
    QCheckBox* cbIgnoreReadErrors;
    QSpinBox* seBlockPause;
    QCheckBox* cbSkipErased;
};

// Runs the dialog over the settings: they change only when it ends with OK.
void EditSettings(QWidget* parent, TSettings& settings);

} // namespace lindprog
