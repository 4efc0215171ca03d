#include "gui/ops/ActionD.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

namespace lindprog {
namespace {

TEST(ActionDialog, RunsStepsUntilTheLastAndNeverShowsItsPercentage)
{
    std::vector<int> barSeen;
    int steps = 0;
    TActionDialog* self = nullptr;
    TActionDialog dialog(
        "Reading",
        [&](int& percent) {
            barSeen.push_back(self->pb->value());
            percent = 100; // a one-block region: the only step is the last
            return ++steps < 1;
        },
        nullptr);
    self = &dialog;
    EXPECT_EQ(dialog.Run(), TActionDialog::Done);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(dialog.pb->value(), 0) << "the bar never shows 100 for a single block";
    EXPECT_EQ(dialog.windowTitle(), "Reading");
    EXPECT_FALSE(dialog.mSpeed->isVisible());
}

TEST(ActionDialog, TimerIsStoppedWhileAStepRuns)
{
    int steps = 0;
    bool timerRanDuringStep = false;
    TActionDialog* self = nullptr;
    TActionDialog dialog(
        "Erasing",
        [&](int& percent) {
            timerRanDuringStep = timerRanDuringStep || self->Timer->isActive();
            QTest::qWait(30); // three ticks' worth: a running timer would re-enter
            percent = 0;
            return ++steps < 3;
        },
        nullptr);
    self = &dialog;
    EXPECT_EQ(dialog.Run(), TActionDialog::Done);
    EXPECT_EQ(steps, 3);
    EXPECT_FALSE(timerRanDuringStep);
    EXPECT_EQ(dialog.pb->value(), 0) << "erase steps leave the bar empty";
}

TEST(ActionDialog, EscapeDoesNotCancelButTheButtonAndTheCloseBoxDo)
{
    int steps = 0;
    TActionDialog* self = nullptr;
    TActionDialog dialog(
        "Writing",
        [&](int& percent) {
            percent = ++steps;
            if (steps == 2)
                QTest::keyClick(self, Qt::Key_Escape);
            if (steps == 4)
                self->btnCancel->click();
            return true;
        },
        nullptr);
    self = &dialog;
    EXPECT_EQ(dialog.Run(), TActionDialog::Cancelled);
    EXPECT_EQ(steps, 4) << "no step runs after Cancel";
    EXPECT_EQ(dialog.pb->value(), 4) << "the step under way when Cancel came still counts";

    int more = 0;
    TActionDialog closing(
        "Verifying",
        [&](int& percent) {
            percent = 0;
            if (++more == 2)
                QTimer::singleShot(0, [&closing] { closing.close(); });
            return true;
        },
        nullptr);
    EXPECT_EQ(closing.Run(), TActionDialog::Cancelled);
}

TEST(ActionDialog, SpeedGoesToTheHiddenLabel)
{
    TActionDialog dialog(
        "Reading", [](int&) { return false; }, nullptr);
    dialog.ShowSpeed(87040);
    EXPECT_EQ(dialog.mSpeed->text(), "87040");
    EXPECT_EQ(dialog.btnCancel->text(), "Cancel");
    EXPECT_EQ(dialog.size(), QSize(335, 87));
}

} // namespace
} // namespace lindprog
