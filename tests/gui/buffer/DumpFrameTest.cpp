// The hex view as a widget: what it paints, and that keys, mouse, wheel, scroll
// bar and popup menu reach the editor. The editor's own rules are proven in
// tests/core/buffer; here they are driven through real Qt events.

#include "gui/buffer/DumpF.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int Lines = 18;

// The high-digit column of byte i (0..15) of a line.
int HexCol(int i)
{
    return i < 8 ? 10 + 3 * i : 11 + 3 * i;
}

int CharCol(int i)
{
    return 61 + i;
}

QColor ToColor(TRgb rgb)
{
    return {rgb.Red, rgb.Green, rgb.Blue};
}

class DumpFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A steady caret, so that what is painted doesn't depend on the blink phase.
        SavedFlashTime = QApplication::cursorFlashTime();
        QApplication::setCursorFlashTime(0);

        auto* layout = new QVBoxLayout(&Window);
        Panel = new QWidget(&Window);
        Log = new QListWidget(&Window);
        layout->addWidget(Panel);
        layout->addWidget(Log);
        Frame = new TDumpFrame(Panel);
        Frame->AttachTo(Panel);
        Cw = Frame->Editor().CharWidth();
        Ch = Frame->Editor().CharHeight();
        Panel->setFixedSize(90 * Cw + 20, Lines * Ch + Ch / 2);
        Frame->SetDialogs({.ChooseFont =
                               [this](QWidget*, const QFont& current) {
                                   OfferedFont = current;
                                   return FontAnswer;
                               },
                           .AskFillValue =
                               [this](QWidget*, std::uint8_t current) {
                                   OfferedFill = current;
                                   return FillAnswer;
                               }});
        Window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
        Frame->setFocus(Qt::OtherFocusReason);
    }

    void TearDown() override { QApplication::setCursorFlashTime(SavedFlashTime); }

    void Attach(std::size_t size, std::uint8_t value = 0)
    {
        Block.assign(size, 0);
        ASSERT_EQ(Frame->SetData(Block), size != 0);
        std::ranges::fill(Block, value);
        Frame->UpdateChanges();
    }

    QWidget* Surface() const { return Frame->Surface(); }
    QPoint At(int col, int row) const { return {col * Cw + Cw / 2, row * Ch + Ch / 2}; }
    void Click(int col, int row, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(Surface(), button, {}, At(col, row));
    }
    // Left button down on byte `from` of the first lines, moved over `path`, released.
    void Drag(int from, std::initializer_list<int> path)
    {
        QTest::mousePress(Surface(), Qt::LeftButton, {}, At(HexCol(from % 16), from / 16));
        for (const int to : path)
            QTest::mouseMove(Surface(), At(HexCol(to % 16) + 1, to / 16));
        QTest::mouseRelease(Surface(), Qt::LeftButton, {}, At(HexCol(path.end()[-1] % 16), path.end()[-1] / 16));
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(Frame, key, mods); }
    void Wheel(QWidget* target, int delta)
    {
        const QPointF pos(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(pos, target->mapToGlobal(pos), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }
    std::pair<int, int> CaretCell() const
    {
        const QRect caret = Frame->CaretRect();
        EXPECT_EQ(caret.size(), QSize(Cw, Ch));
        return {caret.x() / Cw, caret.y() / Ch};
    }

    // The popup menu opened as a right click opens it; its items after enabling.
    QAction* OpenPopupAt(int col, int row, const char* item)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, At(col, row), Surface()->mapToGlobal(At(col, row)));
        QApplication::sendEvent(Surface(), &event);
        EXPECT_TRUE(Frame->PopupMenu()->isVisible());
        return Frame->PopupMenu()->findChild<QAction*>(item);
    }
    void ChooseItem(QAction* action)
    {
        QMenu* menu = Frame->PopupMenu();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        EXPECT_FALSE(menu->isVisible());
    }
    void FillSelectionWith(std::optional<QString> answer)
    {
        FillAnswer = std::move(answer);
        QAction* fill = OpenPopupAt(HexCol(0), 0, "cmFillSelected");
        ASSERT_TRUE(fill->isEnabled());
        ChooseItem(fill);
    }

    // A cell of the surface as painted, and the same character painted alone in
    // the given colours with the surface's font: they match when the view drew
    // that character in that cell.
    QImage Cell(const QImage& shot, int col, int row) const { return shot.copy(col * Cw, row * Ch, Cw, Ch); }
    QImage Glyph(QChar ch, TCellColours colours) const
    {
        QImage image(Cw, Ch, QImage::Format_RGB32);
        image.fill(ToColor(colours.Background));
        QPainter painter(&image);
        painter.setFont(Surface()->font());
        painter.setPen(ToColor(colours.Text));
        painter.drawText(0, QFontMetrics(Surface()->font()).ascent(), QString(ch));
        return image;
    }
    // Equal but for the outermost pixel columns, where a neighbour's serif may reach.
    ::testing::AssertionResult SameCell(const QImage& painted, const QImage& expected) const
    {
        int differing = 0;
        for (int y = 0; y < Ch; ++y)
            for (int x = 1; x < Cw - 1; ++x)
                differing += painted.pixel(x, y) != expected.pixel(x, y);
        if (differing == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << differing << " pixels differ";
    }
    QImage Shot() const { return Surface()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    void ExpectText(const QImage& shot, int row, int firstCol, const QString& text,
                    TCellColours colours = PlainColours) const
    {
        for (int i = 0; i < text.size(); ++i)
            EXPECT_TRUE(SameCell(Cell(shot, firstCol + i, row), Glyph(text[i], colours)))
                << "row " << row << " col " << firstCol + i << " '" << text[i].toLatin1() << "'";
    }
    // A byte's hex digits and its character, in `colours`.
    void ExpectByte(const QImage& shot, int index, TCellColours colours) const
    {
        const int row = index / 16 - Frame->ScrollPosition();
        const QString digits = QString::asprintf("%02X", Block[static_cast<std::size_t>(index)]);
        ExpectText(shot, row, HexCol(index % 16), digits, colours);
        EXPECT_EQ(Cell(shot, CharCol(index % 16), row).pixelColor(0, 0), ToColor(colours.Background)) << index;
    }
    bool Uniform(const QImage& image, TRgb colour) const
    {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) != ToColor(colour))
                    return false;
        return true;
    }
    QImage Line(const QImage& shot, int row) const { return shot.copy(0, row * Ch, shot.width(), Ch); }

    int SavedFlashTime = 0;
    QWidget Window;
    QWidget* Panel = nullptr;
    QListWidget* Log = nullptr;
    TDumpFrame* Frame = nullptr;
    int Cw = 0;
    int Ch = 0;
    Bytes Block;
    std::optional<QFont> FontAnswer;
    std::optional<QFont> OfferedFont;
    std::optional<QString> FillAnswer;
    std::optional<std::uint8_t> OfferedFill;
};

TEST_F(DumpFrameTest, FontScrollBarAndLineCount)
{
    EXPECT_EQ(Frame->font().family(), "Courier New");
    EXPECT_EQ(Frame->font().pixelSize(), 12);
    EXPECT_EQ(Frame->Editor().LineCount(), Lines);
    EXPECT_EQ(Frame->ScrollBar()->width(), 20);
    EXPECT_EQ(Frame->ScrollBar()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(Frame->ScrollBar()->geometry().right(), Frame->width() - 1);
    EXPECT_EQ(Surface()->width(), Frame->width() - 20);
    EXPECT_TRUE(Frame->focusPolicy() & Qt::TabFocus);
}

TEST_F(DumpFrameTest, PaintsTheExampleLine)
{
    Attach(0x40);
    const Bytes line{0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x00, 0xFF, 0x20, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};
    std::ranges::copy(line, Block.begin() + 0x10);
    Block[0x20] = 0x1F;
    Block[0x21] = 0xFF;
    Block[0x22] = 0x20;
    Block[0x23] = 0xAD; // the soft hyphen fills its cell like any other character
    Block[0x24] = 0x80;
    Block[0x25] = 0x41;
    Frame->UpdateChanges();
    const QImage shot = Shot();
    ExpectText(shot, 1, 0, " 000010 | 48 65 6C 6C 6F 00 FF 20  41 42 43 44 45 46 47 48 | Hello.. ABCDEFGH");
    ExpectText(shot, 2, 58, " | .. -\u20ACA");
    // The cyan ends with the columns.
    EXPECT_TRUE(Uniform(shot.copy(77 * Cw, Ch, shot.width() - 77 * Cw, Ch), White));
}

TEST_F(DumpFrameTest, LargeBufferScrollsToOffset7FFF0)
{
    Attach(0x80000);
    QScrollBar* bar = Frame->ScrollBar();
    EXPECT_TRUE(bar->isEnabled());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 0x8000 - Lines);
    EXPECT_EQ(bar->singleStep(), 1);
    EXPECT_EQ(bar->pageStep(), 1);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0x8000 - Lines);
    EXPECT_EQ(CaretCell(), std::make_pair(57, Lines - 1));
    ExpectText(Shot(), Lines - 1, 0, " 07FFF0 | ");
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0);
    // The scroll bar's own moves scroll the view.
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Frame->ScrollPosition(), 1);
    bar->setValue(0x1A4);
    EXPECT_EQ(Frame->ScrollPosition(), 0x1A4);
    ExpectText(Shot(), 0, 0, " 001A40 | ");
}

TEST_F(DumpFrameTest, SmallBufferLeavesBlankLines)
{
    Attach(64, 0x11);
    EXPECT_FALSE(Frame->ScrollBar()->isEnabled());
    const QImage shot = Shot();
    ExpectText(shot, 3, 0, " 000030 | 11 ");
    for (int row = 4; row < Lines; ++row)
        EXPECT_TRUE(Uniform(Line(shot, row), White)) << row;
}

TEST_F(DumpFrameTest, TypingHexDigits)
{
    Attach(64);
    ASSERT_EQ(CaretCell(), std::make_pair(10, 0));
    QTest::keyClicks(Frame, "4");
    EXPECT_EQ(CaretCell(), std::make_pair(11, 0));
    QTest::keyClicks(Frame, "2");
    EXPECT_EQ(Block[0], 0x42);
    EXPECT_EQ(CaretCell(), std::make_pair(13, 0));
    EXPECT_EQ(Frame->CursorIndex(), 1);
    QTest::keyClicks(Frame, "g");
    EXPECT_EQ(Block[1], 0x00);
    EXPECT_EQ(CaretCell(), std::make_pair(13, 0));
    EXPECT_TRUE(Frame->Modified());
    ExpectByte(Shot(), 0, {LightCyan, Blue});
}

TEST_F(DumpFrameTest, TypingInTheCharacterArea)
{
    Attach(64);
    Click(CharCol(3), 1);
    QTest::keyClicks(Frame, "Az");
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Delete); // no character
    Key(Qt::Key_Escape); // clears the selection, types nothing
    EXPECT_EQ((Bytes(Block.begin() + 19, Block.begin() + 23)), (Bytes{'A', 'z', 0x08, 0x00}));
    EXPECT_EQ(CaretCell(), std::make_pair(CharCol(6), 1));
}

TEST_F(DumpFrameTest, RightAndLeftSkipTheGap)
{
    Attach(64);
    Click(32, 0);
    Key(Qt::Key_Right);
    EXPECT_EQ(CaretCell(), std::make_pair(35, 0));
    Key(Qt::Key_Left);
    EXPECT_EQ(CaretCell(), std::make_pair(32, 0));
}

TEST_F(DumpFrameTest, RightAtTheLastColumnScrolls)
{
    Attach(0x1000);
    Click(57, Lines - 1);
    Key(Qt::Key_Right);
    EXPECT_EQ(Frame->ScrollBar()->value(), 1);
    EXPECT_EQ(CaretCell(), std::make_pair(10, Lines - 1));
    EXPECT_EQ(Frame->CursorIndex(), Lines * 16);
}

TEST_F(DumpFrameTest, ClickWithoutDragSelectsNothing)
{
    Attach(64, 0x33);
    Click(HexCol(3), 0);
    EXPECT_EQ(Frame->SelStart(), Frame->SelEnd());
    EXPECT_EQ(CaretCell(), std::make_pair(HexCol(3), 0));
    const QImage shot = Shot();
    for (int i = 0; i < 16; ++i)
        if (i != 3) // under the caret
            ExpectByte(shot, i, PlainColours);
    QAction* fill = OpenPopupAt(HexCol(3), 0, "cmFillSelected");
    EXPECT_FALSE(fill->isEnabled());
    Frame->PopupMenu()->close();
}

TEST_F(DumpFrameTest, DragSelectsFiveToNine)
{
    Attach(64, 0x33);
    Drag(5, {7, 9});
    EXPECT_EQ(Frame->SelStart(), 5);
    EXPECT_EQ(Frame->SelEnd(), 9);
    EXPECT_FALSE(Frame->Editor().Dragging());
    EXPECT_EQ(CaretCell(), std::make_pair(HexCol(5), 0)); // the caret stays where the drag began
    const QImage shot = Shot();
    ExpectByte(shot, 4, PlainColours);
    for (int i = 6; i <= 9; ++i)
        ExpectByte(shot, i, {Blue, White});
    ExpectByte(shot, 10, PlainColours);
    EXPECT_TRUE(Uniform(Cell(shot, 34, 0), Blue)); // the gap takes byte 7's colours

    // The right button only focuses the view (before its popup menu opens).
    Log->setFocus(Qt::OtherFocusReason);
    Click(HexCol(12), 1, Qt::RightButton);
    EXPECT_TRUE(Frame->hasFocus());
    EXPECT_EQ(Frame->SelStart(), 5);
    EXPECT_EQ(Frame->SelEnd(), 9);
    EXPECT_EQ(CaretCell(), std::make_pair(HexCol(5), 0));
}

TEST_F(DumpFrameTest, DragBackMovesTheStart)
{
    Attach(64);
    Drag(10, {20, 15});
    EXPECT_EQ(Frame->SelStart(), 15);
    EXPECT_EQ(Frame->SelEnd(), 20);
    Key(Qt::Key_Escape);
    EXPECT_EQ(Frame->SelStart(), 0);
    EXPECT_EQ(Frame->SelEnd(), 0);
}

TEST_F(DumpFrameTest, SelectedChangedByteFollowsTheFocus)
{
    Attach(64, 0x33);
    Click(HexCol(5), 0);
    QTest::keyClicks(Frame, "77");
    Drag(4, {7});
    const QImage focused = Shot();
    ExpectByte(focused, 5, {Blue, Yellow});
    ExpectText(focused, 0, CharCol(5), "w", {Blue, Yellow});
    ExpectByte(focused, 6, {Blue, White});

    Log->setFocus(Qt::OtherFocusReason);
    EXPECT_FALSE(Frame->CursorShown());
    const QImage unfocused = Shot();
    ExpectByte(unfocused, 4, PlainColours); // under the caret while focused
    ExpectByte(unfocused, 5, {LightCyan, Blue});
    ExpectText(unfocused, 0, CharCol(5), "w", {LightCyan, Blue});

    QTest::keyClicks(Frame, "0"); // without the cursor typing does nothing
    EXPECT_EQ(Block[6], 0x33);
    Frame->setFocus(Qt::TabFocusReason);
    ExpectByte(Shot(), 5, {Blue, Yellow});
}

// A popup menu or another active window (the fill dialog) keeps the view the
// focused control of its window: the selection stays in sight, the caret goes.
TEST_F(DumpFrameTest, SelectionStaysWhileAPopupOrDialogIsUp)
{
    Attach(64, 0x33);
    Drag(5, {9});
    OpenPopupAt(HexCol(6), 0, "cmFillSelected");
    EXPECT_TRUE(Frame->CursorShown());
    ExpectByte(Shot(), 6, {Blue, White});
    Frame->PopupMenu()->close();

    QWidget dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_TRUE(Frame->CursorShown());
    EXPECT_FALSE(Frame->CaretVisible());
    ExpectByte(Shot(), 5, {Blue, White});
    dialog.close();
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
    EXPECT_TRUE(Frame->CaretVisible());
}

TEST_F(DumpFrameTest, CaretIsAnInvertingBlock)
{
    Attach(64);
    Click(HexCol(2) + 1, 1);
    ASSERT_TRUE(Frame->CaretVisible());
    const QColor inverted(255 - 136, 0, 0);
    EXPECT_EQ(Cell(Shot(), HexCol(2) + 1, 1).pixelColor(0, 0), inverted);
    Log->setFocus(Qt::OtherFocusReason);
    EXPECT_FALSE(Frame->CaretVisible());
    EXPECT_EQ(Cell(Shot(), HexCol(2) + 1, 1).pixelColor(0, 0), ToColor(LightCyan));
}

TEST_F(DumpFrameTest, WithoutDataThereIsNoCursor)
{
    Log->setFocus(Qt::OtherFocusReason);
    Click(HexCol(1), 0);
    EXPECT_TRUE(Frame->hasFocus());
    EXPECT_FALSE(Frame->CursorShown());
    EXPECT_FALSE(Frame->Editor().Dragging());
    EXPECT_TRUE(Uniform(Line(Shot(), 0), White));
}

TEST_F(DumpFrameTest, OneWheelNotchIsFourLines)
{
    Attach(0x1000);
    Wheel(Surface(), -120);
    EXPECT_EQ(Frame->ScrollBar()->value(), 4);
    Wheel(Frame->ScrollBar(), -120); // not the scroll bar's own step
    EXPECT_EQ(Frame->ScrollPosition(), 8);
    Frame->SetScrollPosition(2);
    Wheel(Surface(), 120);
    EXPECT_EQ(Frame->ScrollPosition(), 0);

    const QPointF pos(5, 5);
    QWheelEvent routed(pos, pos, {}, {0, -360}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    routed.ignore();
    EXPECT_TRUE(Frame->WheelFromParent(&routed));
    EXPECT_TRUE(routed.isAccepted());
    EXPECT_EQ(Frame->ScrollPosition(), 4);
}

TEST_F(DumpFrameTest, PopupItemsAndEnabling)
{
    Attach(64);
    QMenu* menu = Frame->PopupMenu();
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(texts, (QStringList{"&Fill selected...", "-", "&Revert changes", "&Update changes", "-", "F&ont...", "-",
                                  "Find &strings..."}));
    QAction* revert = OpenPopupAt(HexCol(0), 0, "cmRevertChanges");
    EXPECT_FALSE(revert->isEnabled());
    EXPECT_FALSE(menu->findChild<QAction*>("cmUpdateChanges")->isEnabled());
    EXPECT_TRUE(menu->findChild<QAction*>("cmFont")->isEnabled());
    EXPECT_TRUE(menu->findChild<QAction*>("cmFindString")->isEnabled());
    menu->close();

    QTest::keyClicks(Frame, "5a");
    ASSERT_TRUE(OpenPopupAt(HexCol(0), 0, "cmRevertChanges")->isEnabled());
    ChooseItem(revert);
    EXPECT_EQ(Block[0], 0x00);
    EXPECT_FALSE(Frame->Modified());

    QTest::keyClicks(Frame, "5a");
    QAction* update = OpenPopupAt(HexCol(0), 0, "cmUpdateChanges");
    ASSERT_TRUE(update->isEnabled());
    ChooseItem(update);
    EXPECT_EQ(Block[1], 0x5A);
    EXPECT_FALSE(Frame->Editor().Data().IsChanged(1));

    int searches = 0;
    Frame->SetFindStringsHandler([&searches] { ++searches; });
    ChooseItem(OpenPopupAt(HexCol(0), 0, "cmFindString"));
    EXPECT_EQ(searches, 1);
}

TEST_F(DumpFrameTest, FillSelectedReadsTheTextLeniently)
{
    const std::vector<std::pair<QString, std::uint8_t>> cases{{"a5", 0xA5}, {"1ff", 0xFF}, {"100", 0x00},
                                                              {"", 0xFF},   {"zz", 0xFF},  {"0x10", 0xFF}};
    Attach(64, 0x11);
    Drag(4, {7});
    std::uint8_t offered = 0xFF;
    for (const auto& [text, value] : cases) {
        Frame->UpdateChanges();
        FillSelectionWith(text);
        EXPECT_EQ(OfferedFill, offered) << text.toStdString();
        EXPECT_EQ((Bytes(Block.begin() + 3, Block.begin() + 9)), (Bytes{0x11, value, value, value, value, 0x11}))
            << text.toStdString();
        EXPECT_TRUE(Frame->Modified());
        EXPECT_TRUE(Frame->CursorShown());
        offered = value;
    }
    ExpectByte(Shot(), 5, {Blue, White}); // 0xFF over 0xFF: not changed

    Frame->UpdateChanges();
    FillSelectionWith(std::nullopt); // Cancel
    EXPECT_EQ(Block[4], 0xFF);
    EXPECT_FALSE(Frame->Modified());
    FillSelectionWith("42");
    EXPECT_EQ(OfferedFill, 0xFF); // Cancel kept the value
    ExpectByte(Shot(), 6, {Blue, Yellow});
}

TEST_F(DumpFrameTest, FontChoiceIsForDrawingOnly)
{
    Attach(64);
    const QFont initial = Surface()->font();
    ChooseItem(OpenPopupAt(HexCol(0), 0, "cmFont"));
    EXPECT_EQ(OfferedFont, initial);
    EXPECT_EQ(Surface()->font(), initial); // Cancel

    QFont larger("Courier New");
    larger.setPixelSize(15);
    FontAnswer = larger;
    ChooseItem(OpenPopupAt(HexCol(0), 0, "cmFont"));
    EXPECT_EQ(Surface()->font().pixelSize(), 15);
    EXPECT_EQ(Frame->Editor().CharWidth(), Cw);
    EXPECT_EQ(Frame->Editor().CharHeight(), Ch);
    EXPECT_TRUE(Frame->CursorShown());
}

} // namespace
} // namespace lindprog
