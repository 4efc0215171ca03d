// The settings dialog over the five settings: what it shows, what OK and
// Cancel leave behind, and how a typed delay is read.

#include "gui/settings/SettingsD.h"
#include "support/Modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

using test::TModalAnswer;

TEST(SettingsDialog, ShowsTheLoadedValuesAndCancelChangesNothing)
{
    TSettings settings;
    settings.JtagDelay = 2000; // as loaded from a stored 9999
    settings.TurnOffPower = false;
    const TModalAnswer<TSettingsDialog> cancel([](TSettingsDialog* dialog) {
        EXPECT_EQ(dialog->seJtagDelay->value(), 2000);
        EXPECT_EQ(dialog->seJtagDelay->minimum(), 4);
        EXPECT_EQ(dialog->seJtagDelay->maximum(), 2000);
        EXPECT_FALSE(dialog->cbTurnOffPower->isChecked());
        EXPECT_EQ(dialog->cbBlockSIze->currentText(), "512");
        EXPECT_FALSE(dialog->cbBlockSIze->isVisible());
        dialog->seJtagDelay->setValue(10);
        dialog->cbTurnOffPower->setChecked(true);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EditSettings(nullptr, settings);
    EXPECT_EQ(settings.JtagDelay, 2000);
    EXPECT_FALSE(settings.TurnOffPower);
}

TEST(SettingsDialog, OkTakesTheControlsAndKeepsTheHiddenValues)
{
    TSettings settings;
    settings.IgnoreReadErrors = true;
    {
        const TModalAnswer<TSettingsDialog> ok([](TSettingsDialog* dialog) {
            dialog->seJtagDelay->setValue(250);
            dialog->seBlockPause->setValue(10);
            dialog->findChild<QPushButton*>("btnOk")->click();
        });
        EditSettings(nullptr, settings);
    }
    EXPECT_EQ(settings.JtagDelay, 250);
    EXPECT_EQ(settings.BlockPause, 10);
    EXPECT_EQ(settings.BlockSize, 512);
    EXPECT_TRUE(settings.IgnoreReadErrors);

    settings.BlockSize = 100; // matches no item: none is selected, and it stays
    const TModalAnswer<TSettingsDialog> enter([](TSettingsDialog* shown) { QTest::keyClick(shown, Qt::Key_Return); });
    EditSettings(nullptr, settings);
    EXPECT_EQ(settings.BlockSize, 100);
}

TEST(SettingsDialog, TypedDelayOutsideTheRangeGoesToTheNearerBound)
{
    TSettingsDialog dialog(nullptr);
    TSettings settings;
    dialog.Load(settings);
    dialog.seJtagDelay->findChild<QLineEdit*>()->setText("5000");
    dialog.seJtagDelay->interpretText();
    EXPECT_EQ(dialog.seJtagDelay->value(), 2000);
    dialog.seJtagDelay->findChild<QLineEdit*>()->setText("1");
    dialog.seJtagDelay->interpretText();
    EXPECT_EQ(dialog.seJtagDelay->value(), 4);
    dialog.seJtagDelay->setValue(300);
    dialog.seJtagDelay->findChild<QLineEdit*>()->setText("fast");
    dialog.seJtagDelay->interpretText();
    EXPECT_EQ(dialog.seJtagDelay->value(), 4) << "text that is no number reads as 4";
}

} // namespace
} // namespace lindprog
