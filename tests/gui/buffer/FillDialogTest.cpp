#include "gui/buffer/FillD.h"
#include "support/Modal.h"

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

TEST(FillDialog, Layout)
{
    TFillDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Fill selected");
    EXPECT_EQ(dialog.layout()->sizeConstraint(), QLayout::SetFixedSize);
    QLineEdit* edit = dialog.findChild<QLineEdit*>("eFillValue");
    ASSERT_EQ(edit, dialog.FillEdit());
    auto* group = qobject_cast<QGroupBox*>(edit->parentWidget());
    ASSERT_NE(group, nullptr);
    const auto labels = group->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), "Fill value (in hex):");
    EXPECT_EQ(dialog.OkButton()->text(), "OK");
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.CancelButton()->text(), "Cancel");
    EXPECT_FALSE(dialog.CancelButton()->isDefault());
}

TEST(FillDialog, ShowsTheValueAsTwoUpperCaseDigits)
{
    TFillDialog dialog;
    dialog.SetFillValue(0xFF);
    EXPECT_EQ(dialog.FillText(), "FF");
    dialog.SetFillValue(0x0a);
    EXPECT_EQ(dialog.FillText(), "0A");
}

TEST(FillDialog, EnterAcceptsEscapeCancels)
{
    TFillDialog dialog;
    dialog.SetFillValue(0xA5);
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.FillEdit()->setFocus();
    QTest::keyClicks(dialog.FillEdit(), "1ff"); // the offered text is selected: typing replaces it
    QTest::keyClick(dialog.FillEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FillText(), "1ff");

    dialog.open();
    QTest::keyClick(dialog.FillEdit(), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// The modal helper the view uses by default: the text on OK, nothing on Cancel.
TEST(FillDialog, AskFillValue)
{
    const auto answer = [](QString text, QPushButton* (TFillDialog::*button)() const) {
        const test::TModalAnswer<TFillDialog> user([text, button](TFillDialog* dialog) {
            EXPECT_EQ(dialog->FillText(), "3C");
            dialog->FillEdit()->setText(text);
            QTest::mouseClick((dialog->*button)(), Qt::LeftButton);
        });
        return AskFillValue(nullptr, 0x3C);
    };
    EXPECT_EQ(answer("zz", &TFillDialog::OkButton), "zz");
    EXPECT_EQ(answer("42", &TFillDialog::CancelButton), std::nullopt);
}

} // namespace
} // namespace lindprog
