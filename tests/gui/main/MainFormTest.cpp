#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"
#include "support/MainHarness.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <vector>

namespace lindprog {
namespace {

using nlohmann::json;
using test::AdapterScenario;
using test::TMainHarness;

struct TEnabled {
    bool Read, Write, Verify, Erase, BlankCheck, Unlock, Program;
    bool operator==(const TEnabled&) const = default;
};

TEnabled Enabled(const TMainForm& form)
{
    return {form.cmDeviceRead->isEnabled(),   form.cmDeviceWrite->isEnabled(),      form.cmDeviceVerify->isEnabled(),
            form.cmDeviceErase->isEnabled(),  form.cmDeviceBlankCheck->isEnabled(), form.cmDeviceUnlock->isEnabled(),
            form.cmDeviceProgram->isEnabled()};
}

const TEnabled NothingEnabled{false, false, false, false, false, false, false};

TEST(MainForm, FirstStartConnectsOnCom1AndStoresTheDefaults)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    EXPECT_TRUE(harness.Prompts.Seen.empty()) << harness.Prompts.Texts().front();
    EXPECT_EQ(form.windowTitle(), "Corvane Programmer - [COM1]");
    EXPECT_EQ(form.PanelText(0), "");
    EXPECT_EQ(form.PanelText(1), "Corvane JTAG");
    EXPECT_EQ(form.PanelText(2), "v1.18");
    EXPECT_EQ(form.Log().MessageAt(0), "Connected to Corvane JTAG on COM1, firmware v1.18");
    EXPECT_EQ(form.cbDevice->count(), 2);
    EXPECT_EQ(form.cbDevice->currentText(), "SPC560B50");
    EXPECT_EQ(form.cbRegion->currentText(), "Code flash");
    EXPECT_EQ(form.mBufferSize->text(), "0x80000");
    EXPECT_TRUE(form.cmFirmwareUpdate->isEnabled());
    EXPECT_TRUE(form.Connection().Actions().Detect);
    harness.Stop();
    EXPECT_EQ(harness.Stored("SerialPort"), "1");
    EXPECT_EQ(harness.Stored("TurnOffPower"), "1");
    EXPECT_EQ(harness.Stored("JtagDelay"), "4");
    EXPECT_EQ(harness.Stored("BlockSize"), "512");
    EXPECT_EQ(harness.Stored("IgnoreReadErrors"), "0");
}

TEST(MainForm, StoredValuesAreReadWithTheirLimits)
{
    const std::pair<QVariant, int> delays[] = {{0, 4}, {5000, 2000}, {-3, 4}, {QString("fast"), 4}, {77, 77}};
    for (const auto& [stored, expected] : delays) {
        TMainHarness harness;
        harness.Preset("JtagDelay", stored);
        harness.Preset("BlockSize", 64);
        harness.Preset("TurnOffPower", 7);
        harness.Preset("IgnoreReadErrors", 1);
        TMainForm& form = harness.Start();
        EXPECT_EQ(form.Settings().JtagDelay, expected) << stored.toString().toStdString();
        EXPECT_EQ(form.Settings().BlockSize, 512);
        EXPECT_TRUE(form.Settings().TurnOffPower);
        EXPECT_FALSE(form.Settings().IgnoreReadErrors);
        harness.Stop();
        EXPECT_EQ(harness.Stored("BlockSize"), "512");
        EXPECT_EQ(harness.Stored("TurnOffPower"), "1");
        EXPECT_EQ(harness.Stored("JtagDelay"), QString::number(expected));
    }
}

// No box: the window says so in its panel and log and tries again behind it
// until the adapter is there.
TEST(MainForm, PortWithoutAnAdapterIsShownInTheWindowAndTriedAgain)
{
    TMainHarness harness;
    std::optional<test::TEnvPort> port(std::in_place, 1, (harness.Dir.Path / "no-such-port").string());
    TMainForm& form = harness.Start();
    EXPECT_TRUE(harness.Prompts.Seen.empty()) << harness.Prompts.Texts().front();
    const QString line = "No adapter on COM1 \u2014 Options > Port...";
    EXPECT_EQ(form.PanelText(1), line);
    EXPECT_EQ(form.Log().MessageAt(form.Log().topLevelItemCount() - 1), line);
    EXPECT_EQ(form.windowTitle(), "Corvane Programmer");
    EXPECT_EQ(form.PanelText(2), "");
    EXPECT_EQ(Enabled(form), NothingEnabled);
    EXPECT_FALSE(form.cmFirmwareUpdate->isEnabled());
    EXPECT_FALSE(form.Connection().Actions().Detect);
    EXPECT_FALSE(form.btnRead->isEnabled());
    EXPECT_EQ(form.mBufferSize->text(), "n/a");

    port.emplace(1, harness.Sim.SlavePath());
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), QString("Corvane JTAG"), 20000);
    harness.WaitForWorker();
    EXPECT_TRUE(harness.Prompts.Seen.empty());
    EXPECT_TRUE(form.btnRead->isEnabled());
}

TEST(MainForm, BootloaderModeLeavesOnlyFirmwareUpdateEnabled)
{
    json scenario = AdapterScenario();
    scenario["mode"] = 1;
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    ASSERT_EQ(harness.Prompts.Seen.size(), 1u);
    EXPECT_EQ(Enabled(form), NothingEnabled);
    EXPECT_FALSE(form.cmDeviceDetect->isEnabled());
    EXPECT_FALSE(form.btnRead->isEnabled());
    EXPECT_TRUE(form.cmFirmwareUpdate->isEnabled());
    EXPECT_EQ(form.windowTitle(), "Corvane Programmer - [COM1]");
    EXPECT_EQ(form.PanelText(2), "v1.18");
    EXPECT_EQ(form.cbDevice->count(), 0);
}

TEST(MainForm, NoDevicesLeavesTheListEmptyAndDisabled)
{
    json scenario = AdapterScenario();
    scenario["devices"] = json::array();
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    EXPECT_EQ(form.cbDevice->count(), 0);
    EXPECT_FALSE(form.cbDevice->isEnabled());
    EXPECT_EQ(Enabled(form), NothingEnabled);
    EXPECT_TRUE(form.Connection().Actions().Detect);
}

// The adapter's names come as Windows-1252 bytes (0x80 is the euro sign); the
// window shows them as those characters.
TEST(MainForm, AdapterNamesAbove0x7FShowAsTheirCharacters)
{
    json scenario = AdapterScenario();
    scenario["identity"] = "Pr\u00fcfger\u00e4t";
    scenario["devices"][0]["name"] = "M\u00e4rz \u0080";
    scenario["devices"][0]["regions"][0]["name"] = "Code \u00b5";
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    EXPECT_EQ(form.PanelText(1), "Pr\u00fcfger\u00e4t");
    EXPECT_EQ(form.cbDevice->itemText(0), "M\u00e4rz \u20ac");
    EXPECT_EQ(form.cbRegion->itemText(0), "Code \u00b5");
}

TEST(MainForm, VoltageListCarriesTheFixedChoiceCodes)
{
    json scenario = AdapterScenario();
    scenario["devices"][0]["voltages"] = 5;
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    ASSERT_EQ(form.cbVoltage->count(), 2);
    EXPECT_EQ(form.cbVoltage->itemText(0), "3.3 V");
    EXPECT_EQ(form.cbVoltage->itemText(1), "3+5 V");
    EXPECT_EQ(form.cbVoltage->currentIndex(), 0);
    EXPECT_EQ(form.Connection().VoltageCode(), 1);

    form.cbDevice->setCurrentIndex(1);
    emit form.cbDevice->activated(1);
    ASSERT_EQ(form.cbVoltage->count(), 2);
    EXPECT_EQ(form.cbVoltage->itemText(0), "5.0 V");
    EXPECT_EQ(form.cbVoltage->itemData(0).toInt(), 2);
    EXPECT_EQ(form.cbVoltage->itemData(1).toInt(), 3);
    EXPECT_EQ(form.Connection().VoltageCode(), 2);
    EXPECT_EQ(form.cbRegion->count(), 1);
    EXPECT_EQ(form.mBufferSize->text(), "0x1000");
}

TEST(MainForm, RegionFlagsEnableExactlyTheirOperations)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    // Code flash, 7: everything but Unlock.
    EXPECT_EQ(Enabled(form), (TEnabled{true, true, true, true, true, false, true}));
    EXPECT_TRUE(form.btnProgram->isEnabled());
    const std::pair<int, TEnabled> cases[] = {{1, {true, true, true, true, true, true, true}},       // 15
                                              {2, {true, false, true, false, true, false, false}},   // 1
                                              {3, {false, true, false, true, false, false, false}}}; // 6
    for (const auto& [region, expected] : cases) {
        form.cbRegion->setCurrentIndex(region);
        emit form.cbRegion->activated(region);
        EXPECT_EQ(Enabled(form), expected) << "region " << region;
        EXPECT_EQ(form.btnRead->isEnabled(), expected.Read);
        EXPECT_EQ(form.btnWrite->isEnabled(), expected.Write);
        EXPECT_EQ(form.btnErase->isEnabled(), expected.Erase);
        EXPECT_EQ(form.btnProgram->isEnabled(), expected.Program);
    }
}

TEST(MainForm, ChoosingARegionGivesAZeroBufferOfItsSize)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    EXPECT_EQ(form.Buffer().Size(), 0x80000u);
    form.Buffer().Bytes()[100] = 0x5A;
    form.cbRegion->setCurrentIndex(0);
    emit form.cbRegion->activated(0); // the same region again
    EXPECT_EQ(form.Buffer().Size(), 0x80000u);
    EXPECT_EQ(form.Buffer().Bytes()[100], 0);
    form.cbRegion->setCurrentIndex(2);
    emit form.cbRegion->activated(2);
    EXPECT_EQ(form.Buffer().Size(), 1024u);
    EXPECT_EQ(form.mBufferSize->text(), "0x400");
    EXPECT_TRUE(form.Log().hasFocus() || !form.isActiveWindow());
}

// A point of `parent`'s own background, with no child under it.
QPoint Background(QWidget* parent, QPoint at)
{
    EXPECT_EQ(parent->childAt(at), nullptr) << parent->objectName().toStdString();
    return at;
}

TEST(MainForm, HintPanelFollowsThePointerOntoBackgrounds)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* toolBar = form.findChild<QWidget*>("ToolBar1");
    auto* strip = form.findChild<QWidget*>("pCaption");
    ASSERT_TRUE(toolBar && strip);
    // The gap between Save and Program.
    const QPoint barSpace = Background(
        toolBar, {(form.btnSave->geometry().right() + form.btnProgram->geometry().left()) / 2, toolBar->height() / 2});
    const QPoint stripSpace = Background(strip, {strip->width() - 10, strip->height() - 8});

    QTest::mouseMove(form.btnErase);
    EXPECT_EQ(form.PanelText(0).toStdString(), " Erase device");
    QTest::mouseMove(toolBar, barSpace);
    EXPECT_EQ(form.PanelText(0).toStdString(), "") << "off the button onto the tool bar";
    QTest::mouseMove(form.cbRegion);
    EXPECT_EQ(form.PanelText(0).toStdString(), " Device selection");
    QTest::mouseMove(strip, stripSpace);
    EXPECT_EQ(form.PanelText(0).toStdString(), "") << "off the list onto the strip";
    QTest::mouseMove(form.btnOpen);
    QTest::mouseMove(form.lvLog);
    EXPECT_EQ(form.PanelText(0).toStdString(), "");

    // The nearest parent with a hint speaks for a control without one, and
    // only the long part of a hint is shown.
    toolBar->setProperty("hint", "Tools|Tool bar");
    QTest::mouseMove(toolBar, barSpace);
    EXPECT_EQ(form.PanelText(0).toStdString(), " Tool bar");
    QTest::mouseMove(form.btnWrite);
    EXPECT_EQ(form.PanelText(0).toStdString(), " Write buffer to device");
    QTest::mouseMove(&form, {form.width() + 40, form.height() + 40});
    EXPECT_EQ(form.PanelText(0).toStdString(), "") << "the pointer left the window";
    EXPECT_EQ(LongHint("a|b|c"), "b|c");
}

// Moves the pointer onto a control with a hint whenever the program shows an
// information box, and notes what the hint panel said then.
class TPointerMovingPrompts final : public test::TScriptedPrompts {
public:
    QWidget* Target = nullptr;
    TMainForm* Form = nullptr;
    QString PanelDuringPrompt;
    void ShowInfo(const std::string& text) override
    {
        TScriptedPrompts::ShowInfo(text);
        if (Target == nullptr)
            return; // the first query, while the window is being made
        QTest::mouseMove(Target);
        PanelDuringPrompt = Form->PanelText(0);
    }
};

TEST(MainForm, QueryNoticeStaysWhileThePointerMoves)
{
    json scenario = AdapterScenario();
    scenario["version"] = {1, 17};  // asks for a firmware update in the middle of the query
    TMainHarness harness(scenario); // the simulator and settings folder; the window is made here
    TPointerMovingPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.WorkerBusy(); }, 30000)) << "the first connect attempt ends";
    prompts.Target = form.btnOpen;
    prompts.Form = &form;
    prompts.Seen.clear();
    form.Connection().Connect(1);
    ASSERT_EQ(prompts.Seen.size(), 1u);
    EXPECT_EQ(prompts.PanelDuringPrompt.toStdString(), "Quering device, please wait...");
    EXPECT_EQ(form.PanelText(0).toStdString(), "") << "cleared when the query is done";
    QTest::mouseMove(form.btnSave);
    EXPECT_EQ(form.PanelText(0).toStdString(), " Save buffer into file");
}

TEST(MainForm, SwapAndFillChangeTheBufferWithoutMarkingChanges)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    form.cbRegion->setCurrentIndex(3);
    emit form.cbRegion->activated(3); // six bytes
    ASSERT_EQ(form.Buffer().Size(), 6u);
    const std::uint8_t start[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    std::copy(std::begin(start), std::end(start), form.Buffer().Bytes().begin());
    form.cmBufferSwap->trigger();
    EXPECT_EQ(std::vector<std::uint8_t>(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end()),
              (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0x55, 0x66}));
    EXPECT_FALSE(form.Dump().Editor().Data().IsChanged(0));
    form.cmBufferFill->trigger();
    EXPECT_EQ(std::vector<std::uint8_t>(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end()),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0x55, 0x66}));
}

TEST(MainForm, MenusHoldTheirItemsAndOperationCodes)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    EXPECT_EQ(form.cmDeviceRead->text(), "&Read");
    EXPECT_EQ(form.cmDeviceBlankCheck->text(), "&Blank check");
    EXPECT_EQ(form.cmFileExit->text(), "E&xit");
    EXPECT_FALSE(form.cmDeviceDetect->isVisible());
    using enum TOperation;
    const std::vector<std::pair<QAction*, TOperation>> operations = {
        {form.cmDeviceRead, Read},      {form.cmDeviceWrite, Write},           {form.cmDeviceVerify, Verify},
        {form.cmDeviceErase, Erase},    {form.cmDeviceBlankCheck, BlankCheck}, {form.cmDeviceUnlock, Unlock},
        {form.cmDeviceProgram, Program}};
    EXPECT_EQ(form.OperationActions(), operations);
    EXPECT_EQ(form.width(), TMainForm::ClientWidth);
}

// The keyboard reaches every item: each has an access letter no other item
// of its menu has, and the production commands have keys.
TEST(MainForm, EveryMenuItemHasAnAccessLetterOfItsOwn)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    std::vector<QList<QAction*>> menus{form.menuBar()->actions(), form.Dump().PopupMenu()->actions(),
                                       form.Log().ContextMenu()->actions()};
    for (QAction* title : form.menuBar()->actions())
        menus.push_back(title->menu()->actions());
    for (const QList<QAction*>& items : menus) {
        std::set<QChar> letters;
        for (const QAction* item : items) {
            if (item->isSeparator() || !item->isVisible())
                continue;
            const qsizetype at = item->text().indexOf('&');
            ASSERT_TRUE(at >= 0 && at + 1 < item->text().size()) << item->text().toStdString();
            EXPECT_TRUE(letters.insert(item->text()[at + 1].toLower()).second) << item->text().toStdString();
        }
    }
    EXPECT_EQ(form.cmFileOpenJob->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_J));
}

TEST(MainForm, HexViewAndLogGrowWithTheWindowAndTheIdentityIsCutOnlyWhenNarrow)
{
    json scenario = AdapterScenario();
    const QString identity = "Corvane JTAG/Nexus Programmer, bench 4";
    scenario["identity"] = identity.toStdString();
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QSize dump = form.pDump->size();
    const QSize log = form.Log().size();
    form.resize(form.width() + 300, form.height() + 200);
    QTRY_VERIFY(form.pDump->height() > dump.height() && form.Log().height() > log.height());
    EXPECT_GT(form.pDump->width(), dump.width());
    auto* panel = form.findChild<QLabel*>("Panel1");
    QTRY_COMPARE(panel->text(), identity);
    EXPECT_TRUE(panel->toolTip().isEmpty());

    form.resize(form.minimumWidth(), form.height());
    QTRY_VERIFY(panel->text() != identity);
    EXPECT_EQ(panel->toolTip(), identity);
    EXPECT_EQ(form.PanelText(1), identity);
}

TEST(MainForm, WheelOverTheDumpPanelScrollsTheViewFourLines)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    ASSERT_EQ(form.Dump().ScrollPosition(), 0);
    QWheelEvent notch(QPointF(5, 5), form.pDump->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form.pDump, &notch);
    EXPECT_EQ(form.Dump().ScrollPosition(), 4);
}

TEST(MainForm, WindowComesBackWhereItWasLeft)
{
    TMainHarness harness;
    harness.Start().move(123, 77);
    harness.Stop();
    TMainForm& again = harness.Start();
    EXPECT_EQ(again.pos(), QPoint(123, 77));
}

TEST(MainForm, SettingsChangedInTheRunAreWrittenAtTheEnd)
{
    TMainHarness harness;
    TMainForm& form = harness.Start();
    form.Settings().JtagDelay = 300;
    form.Settings().TurnOffPower = false;
    EXPECT_EQ(harness.Stored("JtagDelay"), "") << "nothing is written while the program runs";
    harness.Stop();
    EXPECT_EQ(harness.Stored("JtagDelay"), "300");
    EXPECT_EQ(harness.Stored("TurnOffPower"), "0");
}

} // namespace
} // namespace lindprog
