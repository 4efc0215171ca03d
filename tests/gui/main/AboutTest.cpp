#include "gui/main/AboutD.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

using nlohmann::json;
using test::TMainHarness;
using test::TModalAnswer;

// Takes the addresses the program hands to the system instead of a browser.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() { QDesktopServices::setUrlHandler("https", this, "Open"); }
    ~TUrlCatcher() override { QDesktopServices::unsetUrlHandler("https"); }
    std::vector<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened.push_back(url); }
};

json ScenarioWithKey(std::uint32_t key)
{
    json scenario = test::AdapterScenario();
    scenario["key"] = key;
    return scenario;
}

// Runs Help > About on the window; returns the key field's text as shown.
QString ShownKey(TMainForm& form, const std::function<void(TAboutDialog*)>& more = {})
{
    QString key = "not shown";
    const TModalAnswer<TAboutDialog> answer([&](TAboutDialog* dialog) {
        key = dialog->eKey->text();
        if (more)
            more(dialog);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    ShowAbout(&form, form.Port());
    return key;
}

TEST(AboutBox, Layout)
{
    TAboutDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "About");
    // The design's size, wider only where the font needs it; the panel keeps
    // its margins and the link, key and button stay centred under it.
    EXPECT_GE(dialog.width(), 233);
    EXPECT_EQ(dialog.height(), 175);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed border";
    EXPECT_EQ(dialog.ProductName->text(), "Corvane Programmer");
    EXPECT_EQ(dialog.Version->text(), "Version 1.15");
    EXPECT_EQ(dialog.KeyLabel->text(), "KEY:");
    const QRect panel = dialog.Panel1->geometry();
    EXPECT_EQ(panel.topLeft(), QPoint(8, 8));
    EXPECT_EQ(panel.height(), 129);
    EXPECT_EQ(dialog.width() - panel.width(), 16);
    EXPECT_EQ(dialog.Panel1->frameShadow(), QFrame::Sunken);
    EXPECT_TRUE(dialog.eKey->isReadOnly());
    EXPECT_FALSE(dialog.eKey->hasFrame());
    EXPECT_GE(dialog.eKey->width(), 57);
    const int middle = panel.center().x();
    const int keyMiddle = (dialog.KeyLabel->x() + dialog.eKey->geometry().right()) / 2;
    EXPECT_NEAR(keyMiddle, middle, 3);
    EXPECT_NEAR(dialog.btnOk->geometry().center().x(), middle, 1);
    EXPECT_NEAR(dialog.mWww->geometry().center().x(), middle, 1);
    EXPECT_EQ(dialog.btnOk->text(), "OK");
    EXPECT_TRUE(dialog.btnOk->isDefault());
    EXPECT_TRUE(dialog.mWww->text().startsWith("https://example.com/"));
    EXPECT_EQ(dialog.mWww->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(dialog.mWww->font().bold() || dialog.mWww->styleSheet().contains("bold"));
    EXPECT_TRUE(dialog.mWww->styleSheet().contains("rgb(0, 0, 128)")) << "navy";
}

TEST(AboutBox, OkAndEscapeClose)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        TAboutDialog dialog(nullptr);
        dialog.open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, key);
        EXPECT_FALSE(dialog.isVisible()) << key;
    }
}

TEST(AboutBox, ClickOnTheLinkOpensItsAddress)
{
    TUrlCatcher catcher;
    TAboutDialog dialog(nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.mWww, Qt::LeftButton);
    ASSERT_EQ(catcher.Opened.size(), 1u);
    EXPECT_EQ(catcher.Opened[0].toString(), dialog.mWww->text());
    EXPECT_TRUE(dialog.isVisible()) << "the box stays";
}

TEST(AboutBox, KeyIsAskedBeforeTheBoxOpensAndShownWithEightDigits)
{
    TMainHarness harness(ScenarioWithKey(0x00ABCDEF));
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    int keyRequestsWhileShown = -1;
    const QString key = ShownKey(form, [&](TAboutDialog*) { keyRequestsWhileShown = harness.Sim.RequestCount(6); });
    EXPECT_EQ(key, "00ABCDEF");
    EXPECT_EQ(keyRequestsWhileShown, 1);
}

TEST(AboutBox, SmallKeysKeepTheirLeadingZeros)
{
    TMainHarness harness(ScenarioWithKey(0x5));
    ASSERT_TRUE(harness.Started);
    EXPECT_EQ(ShownKey(harness.Start()), "00000005");
}

TEST(AboutBox, ClosedPortGivesAnEmptyKeyWithoutAsking)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    EXPECT_EQ(ShownKey(form), "12345678") << "connected first";
    form.Connection().Disconnect();
    EXPECT_EQ(ShownKey(form), "");
    EXPECT_EQ(harness.Sim.RequestCount(6), 1) << "nothing was sent to wait for";
    EXPECT_EQ(form.Port().Status(), 252) << "Port is not open";
}

TEST(AboutBox, UnansweredKeyLeavesTheFieldEmpty)
{
    json scenario = test::AdapterScenario();
    scenario["faults"] = {{{"command", 6}, {"kind", "no_answer"}, {"skip", 1}}};
    TMainHarness harness(scenario);
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    EXPECT_EQ(ShownKey(form), "12345678");
    // The key of the earlier answer is not shown again.
    EXPECT_EQ(ShownKey(form), "");
    EXPECT_EQ(form.Port().Status(), 255);
}

} // namespace
} // namespace lindprog

#include "AboutTest.moc"
