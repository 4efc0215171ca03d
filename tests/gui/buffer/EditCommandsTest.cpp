// The Edit menu's wiring to the real hex view: the shortcuts reach the view's
// undo and redo and its difference navigation. The rules behind them are
// proven in tests/core/buffer.

#include "gui/buffer/EditCommands.h"

#include "core/buffer/Difference.h"
#include "gui/buffer/DumpF.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace lindprog {
namespace {

class EditCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* panel = new QWidget(&Window);
        Window.setCentralWidget(panel);
        Dump = new TDumpFrame(panel);
        Dump->AttachTo(panel);
        AddEditCommands(Window.menuBar()->addMenu("&Edit"), *Dump);
        Block.assign(0x1000, 0);
        Dump->SetData(Block);
        Window.resize(800, 400);
        Window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
        Dump->setFocus(Qt::OtherFocusReason);
    }

    std::vector<bool> Marks(std::size_t count) const
    {
        std::vector<bool> marks;
        for (std::size_t i = 0; i < count; ++i)
            marks.push_back(Dump->Editor().Data().IsChanged(static_cast<std::int64_t>(i)));
        return marks;
    }

    QMainWindow Window;
    TDumpFrame* Dump = nullptr;
    std::vector<std::uint8_t> Block;
};

TEST_F(EditCommandsTest, CtrlZTakesBackTypedDigitsAndCtrlYRedoesThem)
{
    QTest::keyClicks(Dump, "DEADBEEF01");
    const std::vector<std::uint8_t> typed{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x00};
    ASSERT_EQ(std::vector<std::uint8_t>(Block.begin(), Block.begin() + 6), typed);
    QTest::keyClick(Dump, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(std::vector<std::uint8_t>(Block.begin(), Block.begin() + 6), std::vector<std::uint8_t>(6, 0));
    EXPECT_EQ(Marks(6), std::vector<bool>(6, false));
    EXPECT_FALSE(Dump->Modified());
    QTest::keyClick(Dump, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(std::vector<std::uint8_t>(Block.begin(), Block.begin() + 6), typed);
    EXPECT_EQ(Marks(6), (std::vector<bool>{true, true, true, true, true, false}));
    QTest::keyClick(Dump, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(Dump, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Block[4], 0x01) << "Ctrl+Shift+Z redoes as well";
}

TEST_F(EditCommandsTest, F8VisitsTheDifferencesInOrder)
{
    std::vector<std::uint8_t> read = Block;
    for (const std::size_t at : {0x24, 0x300, 0xE07})
        read[at] = 0x5A;
    Dump->ShowDifferences(FindDifferences(Block, read).Ranges);
    std::vector<std::int64_t> visited;
    for (int k = 0; k < 4; ++k) {
        QTest::keyClick(Dump, Qt::Key_F8);
        visited.push_back(Dump->CursorIndex());
    }
    QTest::keyClick(Dump, Qt::Key_F8, Qt::ShiftModifier);
    visited.push_back(Dump->CursorIndex());
    EXPECT_EQ(visited, (std::vector<std::int64_t>{0x24, 0x300, 0xE07, 0x24, 0xE07}));
}

} // namespace
} // namespace lindprog
