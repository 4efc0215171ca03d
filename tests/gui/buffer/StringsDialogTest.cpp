// "Find strings..." over the real main window's buffer and hex view: the length
// prompt, the scan, and the strings dialog with its sorting and the double
// click that scrolls the view.

#include "gui/buffer/DumpF.h"
#include "gui/buffer/StringFinderCommand.h"
#include "gui/buffer/StringsD.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QHeaderView>
#include <QInputDialog>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace lindprog {
namespace {

using test::TModalAnswer;

using test::TMainHarness;
using Entries = std::vector<TStringEntry>;

// Press, release, double click, release: what a mouse sends.
void DoubleClick(QTreeWidget& list, int row)
{
    const QPoint at = list.visualItemRect(list.topLevelItem(row)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
}

class StringFinderCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Form = &Harness.Start();
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form));
        // The prompt answers from a script and records what it offered; the
        // list is recorded instead of shown.
        Finder = new TStringFinderCommand(
            Form->Dump(), {.AskMinLength = [this](QWidget*, std::int32_t offered) -> std::optional<QString> {
                               Offered.push_back(offered);
                               return Typed;
                           },
                           .ShowStrings =
                               [this](TDumpFrame& view, const Entries& found) {
                                   EXPECT_EQ(&view, &Form->Dump());
                                   Shown.push_back(found);
                               }});
    }

    // A buffer of `size` bytes of `fill` with `text` at `offset`.
    void SetBuffer(std::uint32_t size, std::uint8_t fill, std::string_view text = {}, std::uint32_t offset = 0)
    {
        Form->ResizeBuffer(size);
        auto bytes = Form->Buffer().Bytes();
        std::ranges::fill(bytes, fill);
        std::ranges::copy(text, bytes.begin() + offset);
        Form->Dump().UpdateChanges();
    }
    // Runs the command with `typed` entered; the entries listed, if a list showed.
    std::optional<Entries> Find(const char* typed)
    {
        Typed = QString(typed);
        const std::size_t before = Shown.size();
        Finder->cmFindStringClick();
        return Shown.size() > before ? std::optional<Entries>(Shown.back()) : std::nullopt;
    }

    TMainHarness Harness;
    TMainForm* Form = nullptr;
    TStringFinderCommand* Finder = nullptr; // a child of the view
    std::optional<QString> Typed;
    std::vector<std::int32_t> Offered;
    std::vector<Entries> Shown;
};

TEST_F(StringFinderCommandTest, ErasedImageGivesNoDialog)
{
    SetBuffer(0x1000, 0xFF);
    EXPECT_EQ(Find("4"), std::nullopt);
    EXPECT_EQ(Offered, std::vector<std::int32_t>{4});
    EXPECT_TRUE(Harness.Prompts.Seen.empty()) << "no message either";
}

TEST_F(StringFinderCommandTest, HelloWorldIsFoundAtItsOffset)
{
    SetBuffer(0x80000, 0xFF, std::string_view("Hello World\0", 12), 0x1A40);
    EXPECT_EQ(Find("4"), (Entries{{"Hello World", 0x1A40}}));
}

TEST_F(StringFinderCommandTest, RunsFollowTheCharacterSet)
{
    SetBuffer(0x100, 0x00, "key_name.txt", 0x10);
    EXPECT_EQ(Find("4"), (Entries{{"name", 0x14}}));
    SetBuffer(0x100, 0x00, "(ID) 12-34/5", 0x20);
    EXPECT_EQ(Find("4"), (Entries{{"(ID) 12-34/5", 0x20}}));
    SetBuffer(0x40, 0xFF, "LAST", 0x3C);
    EXPECT_EQ(Find("4"), (Entries{{"LAST", 0x3C}}));
}

TEST_F(StringFinderCommandTest, OfferedMinimumFollowsWhatWasEntered)
{
    SetBuffer(0x100, 0x00, "ab.cdefghijklm.xyzw", 0);
    EXPECT_EQ(Find("2"), (Entries{{"ab", 0}, {"cdefghijklm", 3}, {"xyzw", 15}}));
    EXPECT_EQ(Find("10"), (Entries{{"cdefghijklm", 3}}));
    EXPECT_EQ(Find("abc"), (Entries{{"cdefghijklm", 3}, {"xyzw", 15}}));
    EXPECT_EQ(Find("4"), (Entries{{"cdefghijklm", 3}, {"xyzw", 15}}));
    EXPECT_EQ(Offered, (std::vector<std::int32_t>{4, 4, 10, 4}));
    EXPECT_EQ(Finder->MinStringLen(), 4);
}

TEST_F(StringFinderCommandTest, CancelledPromptScansNothing)
{
    SetBuffer(0x100, 0x00, "visible text", 0);
    EXPECT_EQ(Find("12"), (Entries{{"visible text", 0}}));
    Typed.reset();
    Finder->cmFindStringClick();
    EXPECT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Offered, (std::vector<std::int32_t>{4, 12}));
}

TEST_F(StringFinderCommandTest, PromptIsTheFindStringsInputBox)
{
    const TModalAnswer<QInputDialog> typing([](QInputDialog* input) {
        EXPECT_EQ(input->windowTitle(), "Find strings");
        EXPECT_EQ(input->labelText(), "Enter minimal string length");
        EXPECT_EQ(input->textValue(), "10");
        input->setTextValue("7");
        input->accept();
    });
    const std::optional<QString> answer = AskMinStringLength(Form, 10);
    EXPECT_TRUE(typing.Seen());
    EXPECT_EQ(answer, QString("7"));
    const TModalAnswer<QInputDialog> cancelling([](QInputDialog* input) { input->reject(); });
    EXPECT_EQ(AskMinStringLength(Form, 4), std::nullopt);
}

// The strings dialog over the main window's view, shown without its modal loop.
class StringDialogTest : public StringFinderCommandTest {
protected:
    void ShowDialog(const Entries& list)
    {
        Dialog = std::make_unique<TStringDialog>(Form->Dump());
        Dialog->FillList(list);
        Dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Dialog.get()));
    }
    QTreeWidget& List() const { return *Dialog->List(); }
    std::vector<QString> Column(int column) const
    {
        std::vector<QString> texts;
        for (int row = 0; row < List().topLevelItemCount(); ++row)
            texts.push_back(List().topLevelItem(row)->text(column));
        return texts;
    }
    void ClickHeader(int column)
    {
        QHeaderView* header = List().header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    void DoubleClickRow(int row) { DoubleClick(List(), row); }

    std::unique_ptr<TStringDialog> Dialog;
};

// As the finder lists them: in ascending offset order.
const Entries Sample = {{"Bb", 0x4}, {"zeta", 0x10}, {"Alpha beta", 0x1A40}, {"MID", 0x2000}, {"alpha", 0x30000}};

TEST_F(StringDialogTest, DialogShowsThreeColumnsInAddressOrder)
{
    ShowDialog({{"Hello World", 0x1A40}, {"TAIL", 0x7FFFC}});
    EXPECT_EQ(Dialog->windowTitle(), "Strings");
    EXPECT_EQ(Dialog->size(), QSize(361, 303));
    EXPECT_EQ(Dialog->parent(), &Form->Dump());
    QTreeWidgetItem* header = List().headerItem();
    EXPECT_EQ(header->text(0), "Address:");
    EXPECT_EQ(header->text(1), "Len:");
    EXPECT_EQ(header->text(2), "String:");
    EXPECT_EQ(List().columnWidth(0), 70);
    EXPECT_EQ(List().columnWidth(1), 35);
    EXPECT_EQ(List().columnWidth(2), 200);
    EXPECT_EQ(Column(0), (std::vector<QString>{"0001A40", "007FFFC"}));
    EXPECT_EQ(Column(1), (std::vector<QString>{"11", "4"}));
    EXPECT_EQ(Column(2), (std::vector<QString>{"Hello World", "TAIL"}));
    EXPECT_TRUE(List().topLevelItem(0)->textAlignment(1) & Qt::AlignRight);
    EXPECT_FALSE(List().topLevelItem(0)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(List().selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(Dialog->CloseButton()->text(), "Close");
    EXPECT_TRUE(Dialog->CloseButton()->isDefault());
    EXPECT_EQ(Dialog->SortColumnIndex(), 0);
    EXPECT_EQ(Dialog->SelectedOffset(), -1);
}

TEST_F(StringDialogTest, HeaderClicksSortAscendingEveryTime)
{
    ShowDialog(Sample);
    EXPECT_EQ(Column(0), (std::vector<QString>{"0000004", "0000010", "0001A40", "0002000", "0030000"}));
    ClickHeader(1);
    EXPECT_EQ(Dialog->SortColumnIndex(), 1);
    const std::vector<QString> byLength = Column(1);
    EXPECT_EQ(byLength, (std::vector<QString>{"2", "3", "4", "5", "10"}));
    const std::vector<QString> textsByLength = Column(2);
    ClickHeader(1);
    EXPECT_EQ(Column(2), textsByLength) << "a second click leaves the order";
    ClickHeader(2);
    EXPECT_EQ(Dialog->SortColumnIndex(), 2);
    const std::vector<QString> texts = Column(2);
    EXPECT_TRUE((texts == std::vector<QString>{"alpha", "Alpha beta", "Bb", "MID", "zeta"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), (std::vector<QString>{"0000004", "0000010", "0001A40", "0002000", "0030000"}));
}

TEST_F(StringDialogTest, DoubleClickScrollsTheViewAndKeepsTheDialogOpen)
{
    SetBuffer(0x80000, 0xFF);
    // A cursor and a selection of bytes 0x21..0x24, made with the mouse.
    QWidget* surface = Form->Dump().Surface();
    const int cw = Form->Dump().Editor().CharWidth();
    const int ch = Form->Dump().Editor().CharHeight();
    QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(13 * cw + cw / 2, 2 * ch + ch / 2));
    QTest::mouseMove(surface, QPoint(22 * cw + cw / 2, 2 * ch + ch / 2));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(22 * cw + cw / 2, 2 * ch + ch / 2));
    ASSERT_EQ(Form->Dump().SelStart(), 0x21);
    ASSERT_EQ(Form->Dump().SelEnd(), 0x24);
    // The cursor is a cell of the view, counted from the top line shown.
    const QRect cursor = Form->Dump().CaretRect();
    const std::pair selection{Form->Dump().SelStart(), Form->Dump().SelEnd()};
    ShowDialog(Sample);
    DoubleClickRow(2);
    EXPECT_EQ(Dialog->SelectedOffset(), 0x1A40);
    EXPECT_EQ(Form->Dump().ScrollPosition(), 0x1A4);
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(Form->Dump().CaretRect(), cursor);
    EXPECT_EQ(std::pair(Form->Dump().SelStart(), Form->Dump().SelEnd()), selection);
    DoubleClickRow(1);
    EXPECT_EQ(Dialog->SelectedOffset(), 0x10);
    EXPECT_EQ(Form->Dump().ScrollPosition(), 1);
}

TEST_F(StringDialogTest, DoubleClickNearTheEndStopsAtTheScrollMaximum)
{
    SetBuffer(0x1A50, 0x00, "Hello World", 0x1A40);
    ASSERT_LT(Form->Dump().ScrollMax(), 0x1A4);
    ASSERT_GT(Form->Dump().ScrollMax(), 0);
    ShowDialog({{"Hello World", 0x1A40}});
    DoubleClickRow(0);
    EXPECT_EQ(Form->Dump().ScrollPosition(), Form->Dump().ScrollMax());
}

TEST_F(StringDialogTest, DoubleClickWithoutASelectedRowDoesNothing)
{
    ShowDialog(Sample);
    List().clearSelection();
    Dialog->lvDblClick();
    EXPECT_EQ(Dialog->SelectedOffset(), -1);
    EXPECT_EQ(Form->Dump().ScrollPosition(), 0);
}

TEST_F(StringDialogTest, EnterAndEscCloseTheDialog)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        ShowDialog(Sample);
        List().setFocus();
        QTest::keyClick(&List(), key);
        EXPECT_FALSE(Dialog->isVisible()) << key;
    }
}

TEST_F(StringFinderCommandTest, CommandShowsTheRealDialogAndDiscardsIt)
{
    SetBuffer(0x80000, 0xFF, std::string_view("Hello World\0", 12), 0x1A40);
    TStringFinderCommand command(Form->Dump(), {.AskMinLength = [](QWidget*, std::int32_t) { return QString("4"); },
                                                .ShowStrings = ShowStringsDialog});
    std::int32_t scrolledTo = -1;
    const TModalAnswer<TStringDialog> user([&](TStringDialog* dialog) {
        ASSERT_EQ(dialog->List()->topLevelItemCount(), 1);
        EXPECT_EQ(dialog->List()->topLevelItem(0)->text(0), "0001A40");
        EXPECT_EQ(dialog->List()->topLevelItem(0)->text(1), "11");
        DoubleClick(*dialog->List(), 0);
        scrolledTo = Form->Dump().ScrollPosition();
        QTest::mouseClick(dialog->CloseButton(), Qt::LeftButton);
    });
    command.cmFindStringClick();
    EXPECT_TRUE(user.Seen());
    EXPECT_EQ(scrolledTo, 0x1A4);
    EXPECT_EQ(Form->Dump().ScrollPosition(), 0x1A4) << "the scroll position stays";
    EXPECT_TRUE(Form->Dump().findChildren<TStringDialog*>().isEmpty());
}

} // namespace
} // namespace lindprog
