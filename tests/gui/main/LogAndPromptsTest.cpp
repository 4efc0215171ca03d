#include "gui/main/LogView.h"
#include "gui/main/MessagePrompts.h"
#include "support/Modal.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

using test::TModalAnswer;

TEST(LogView, TimeColumnHasTwoDigitsAndASpaceEachSide)
{
    EXPECT_EQ(TLogView::TimeText(QTime(9, 5, 7)), " 09:05:07 ");
    EXPECT_EQ(TLogView::TimeText(QTime(23, 59, 59, 999)), " 23:59:59 ");
    TLogView log(nullptr);
    log.SetClock([] { return QTime(9, 5, 7); });
    log.AddLogLine("Starting operation");
    EXPECT_EQ(log.topLevelItem(0)->text(0), " 09:05:07 ");
    EXPECT_EQ(log.MessageAt(0), "Starting operation");
    log.AddLogLine("Corvane\nSaved 9 bytes\x1B[2J");
    EXPECT_EQ(log.MessageAt(1), "Corvane\\nSaved 9 bytes\\x1B[2J") << "control characters are shown escaped";
    log.AddLogLine("unit database postgresql://line:s3cret@db/units: gone");
    EXPECT_EQ(log.MessageAt(2), "unit database postgresql://line@db/units: gone");
    EXPECT_EQ(log.headerItem()->text(0), "Time:");
    EXPECT_EQ(log.headerItem()->text(1), "Message:");
}

TEST(LogView, NewLineIsScrolledIntoFullViewEvenAfterScrollingUp)
{
    TLogView log(nullptr);
    log.resize(400, 120);
    log.show();
    for (int i = 0; i < 200; ++i)
        log.AddLogLine("line " + std::to_string(i));
    log.verticalScrollBar()->setValue(0);
    log.AddLogLine("newest");
    const QRect line = log.visualItemRect(log.topLevelItem(200));
    EXPECT_TRUE(line.top() >= 0 && line.bottom() <= log.viewport()->rect().bottom())
        << "the whole line must be visible: line " << line.y() << "+" << line.height() << " in "
        << log.viewport()->height() << ", scroll " << log.verticalScrollBar()->value() << "/"
        << log.verticalScrollBar()->maximum();
}

TEST(LogView, CopyTakesTheSelectedMessageOnlyAndNothingWithoutSelection)
{
    TLogView log(nullptr);
    log.AddLogLine("Starting operation");
    log.AddLogLine("Pause for voltage setting");
    QApplication::clipboard()->setText("kept");
    log.cmCopyClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "kept");
    log.setCurrentItem(log.topLevelItem(0));
    log.cmCopyClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "Starting operation");

    // Ctrl+C is the menu's Copy, whichever cell the click made current.
    log.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    const QRect time = log.visualRect(log.model()->index(1, 0));
    QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, time.center());
    ASSERT_EQ(log.currentIndex().column(), 0);
    QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Pause for voltage setting");
}

TEST(LogView, ClearEmptiesAndTheNextLineIsAtTheTop)
{
    TLogView log(nullptr);
    log.cmClearClick(); // on an empty log: nothing happens
    log.AddLogLine("a");
    log.AddLogLine("b");
    log.cmClearClick();
    EXPECT_EQ(log.topLevelItemCount(), 0);
    log.AddLogLine("c");
    EXPECT_EQ(log.MessageAt(0), "c");
    const auto actions = log.ContextMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "&Clear");
    EXPECT_EQ(actions[1]->text(), "C&opy");
}

TEST(PromptBox, KindsHaveTheirCaptionsAndButtons)
{
    const std::tuple<TPromptKind, const char*, int> kinds[] = {{TPromptKind::Error, "Error", 1},
                                                               {TPromptKind::Information, "Information", 1},
                                                               {TPromptKind::Confirmation, "Confirm", 2},
                                                               {TPromptKind::Warning, "Warning", 2}};
    for (const auto& [kind, caption, buttons] : kinds) {
        TPromptBox box(kind, "cannot reach postgresql://line:s3cret@db/units", nullptr);
        EXPECT_EQ(box.text(), "cannot reach postgresql://line@db/units");
        EXPECT_EQ(box.windowTitle(), caption);
        EXPECT_EQ(box.buttons().size(), buttons);
    }
    TPromptBox confirm(TPromptKind::Confirmation, "Erase device?", nullptr);
    EXPECT_EQ(confirm.defaultButton()->text(), "&Yes");
    EXPECT_EQ(confirm.icon(), QMessageBox::Question);
}

TEST(PromptBox, EnterChoosesYesEscChoosesNoCloseBoxChoosesNothing)
{
    {
        TPromptBox box(TPromptKind::Confirmation, "Write device?", nullptr);
        const TModalAnswer<TPromptBox> enter([](TPromptBox* shown) { QTest::keyClick(shown, Qt::Key_Return); });
        EXPECT_EQ(box.Run(), TAnswer::Yes);
    }
    {
        TPromptBox box(TPromptKind::Confirmation, "Write device?", nullptr);
        const TModalAnswer<TPromptBox> escape([](TPromptBox* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
        EXPECT_EQ(box.Run(), TAnswer::No);
    }
    {
        TPromptBox box(TPromptKind::Warning, "File size is not equal to buffer size. Continue?", nullptr);
        const TModalAnswer<TPromptBox> closeBox([](TPromptBox* shown) { shown->close(); });
        EXPECT_EQ(box.Run(), TAnswer::None);
    }
    TMessageBoxPrompts prompts(nullptr);
    const TModalAnswer<TPromptBox> closeBox([](TPromptBox* shown) { shown->close(); });
    EXPECT_FALSE(prompts.AskConfirm("Erase device?")) << "the close box is not Yes";
}

TEST(ApplicationError, FullStopOnlyAfterLettersAndDigits)
{
    EXPECT_EQ(ApplicationErrorText("Failed to set data for 'JtagDelay'"), "Failed to set data for 'JtagDelay'")
        << "a quote sorts before the full stop";
    EXPECT_EQ(ApplicationErrorText("Cannot open file \"x.bin\". No such file"),
              "Cannot open file \"x.bin\". No such file.");
    EXPECT_EQ(ApplicationErrorText("Done (6)"), "Done (6)");
    EXPECT_EQ(ApplicationErrorText("Stop!"), "Stop!");
    EXPECT_EQ(ApplicationErrorText("Already."), "Already.");
    EXPECT_EQ(ApplicationErrorText("count 7"), "count 7.");
}

} // namespace
} // namespace lindprog
