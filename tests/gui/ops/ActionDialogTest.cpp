#include "gui/ops/ActionD.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

TStageProgress Writing()
{
    TStageProgress progress;
    progress.Stage = TOperation::Write;
    progress.StageNumber = 3;
    progress.StageCount = 4;
    progress.Percent = 50;
    progress.Bytes = 1024;
    progress.Total = 2048;
    progress.Seconds = 2.0;
    return progress;
}

TEST(ActionDialog, ShowsTheStageItsAmountsAndTheOverallBar)
{
    TActionDialog dialog(nullptr);
    dialog.ShowStage(Writing());
    EXPECT_EQ(dialog.windowTitle(), "Writing");
    EXPECT_EQ(dialog.mStage->text(), StageText(Writing()));
    EXPECT_FALSE(dialog.pbTotal->isHidden()) << "a plan of several stages shows its overall bar";
    EXPECT_EQ(dialog.pb->value(), 50);
    EXPECT_EQ(dialog.mProgress->text(), AmountText(Writing()));
    EXPECT_EQ(dialog.mTime->text(), TimeText(Writing()));
    EXPECT_FALSE(dialog.mSpeed->text().isEmpty());

    TStageProgress erase;
    erase.Stage = TOperation::Erase;
    erase.Blocks = false;
    dialog.ShowStage(erase);
    EXPECT_TRUE(dialog.pbTotal->isHidden()) << "a single stage has no overall bar";
    EXPECT_EQ(dialog.pb->maximum(), 0) << "a stage without blocks shows a busy bar";
}

TEST(ActionDialog, CancelAndTheCloseBoxAskOnceAndTheDialogStaysUntilFinish)
{
    TActionDialog dialog(nullptr);
    int asked = 0;
    QObject::connect(&dialog, &TActionDialog::CancelRequested, [&] { ++asked; });
    QTimer::singleShot(0, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(asked, 0) << "Esc cancels nothing";
        dialog.close();
        EXPECT_EQ(asked, 1);
        dialog.btnCancel->click();
        EXPECT_EQ(asked, 1) << "the stop is asked for once";
        EXPECT_TRUE(dialog.isVisible()) << "the dialog waits for the operation to end";
        dialog.Finish();
    });
    EXPECT_EQ(dialog.Run(), TActionDialog::Cancelled);

    TActionDialog done(nullptr);
    QTimer::singleShot(0, [&] { done.Finish(); });
    EXPECT_EQ(done.Run(), TActionDialog::Done);
}

} // namespace
} // namespace lindprog
