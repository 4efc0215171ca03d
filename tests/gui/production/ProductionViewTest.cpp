// The operator's view against simulators: a job opened in the window, its
// loop on two adapters whose boards come and go, the verdicts, counters and
// serial numbers it shows against the unit database; the window and
// lindprog-cli running the same job; and what the window refuses meanwhile.

#include "gui/production/ProductionView.h"

#include "core/production/SqliteUnitDatabase.h"
#include "core/production/UnitReport.h"
#include "gui/buffer/DumpF.h"
#include "gui/production/StationColumn.h"
#include "support/CliProcess.h"
#include "support/JobFixture.h"
#include "support/MainHarness.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <thread>

namespace lindprog {
namespace {

using nlohmann::json;

TProductionView& OpenJob(test::TMainHarness& harness)
{
    test::WriteJobFiles(harness.Dir.Path);
    TMainForm& form = harness.Start();
    form.OpenJob(QString::fromStdString((harness.Dir.Path / "job.toml").string()));
    EXPECT_NE(form.Production(), nullptr) << ::testing::PrintToString(harness.Prompts.Texts());
    return *form.Production();
}

bool WaitForUnits(const TStationColumn& column, std::int64_t units)
{
    return QTest::qWaitFor([&] { return column.Passed() + column.Failed() >= units; }, 60000);
}

TEST(Production, TwoPortsLoopThreeUnitsEachAndTheViewShowsWhatTheDatabaseHolds)
{
    test::TMainHarness harness(test::TwoRegions("detached"));
    auto failing = test::TwoRegions("detached");
    // The third unit's write (one block: the image and its serial share it) is refused.
    failing["faults"] = json::parse(R"([{"command": 162, "kind": "status", "status": 17, "skip": 2}])");
    test::TSimPty second(failing, 2);
    TProductionView& view = OpenJob(harness);
    TMainForm& form = *harness.Form;
    view.edPorts->setText("COM1, COM2");
    view.btnStart->click();
    ASSERT_EQ(view.Columns().size(), 2u);
    for (QAction* locked : {form.cmFileOpen, form.cmFileOpenJob, form.cmDeviceRead, form.cmSettings, form.cmJobClose})
        EXPECT_FALSE(locked->isEnabled()) << locked->objectName().toStdString();

    std::thread first(test::PlaceBoards, std::ref(static_cast<test::TSimPty&>(harness)), 3);
    std::thread other(test::PlaceBoards, std::ref(second), 3);
    const bool done = WaitForUnits(*view.Columns()[0], 3) && WaitForUnits(*view.Columns()[1], 3);
    first.join();
    other.join();
    ASSERT_TRUE(done) << view.CountersText().toStdString();
    // The last board of each port is still there: its verdict stays.
    EXPECT_EQ(view.Columns()[0]->Verdict(), "PASS");
    EXPECT_EQ(view.Columns()[1]->Verdict(), "FAIL");
    EXPECT_NE(view.Columns()[1]->Detail().indexOf("step 1 program"), -1) << view.Columns()[1]->Detail().toStdString();
    EXPECT_TRUE(view.CountersText().startsWith("Passed 5   Failed 1   Yield 83.3%"))
        << view.CountersText().toStdString();

    TSqliteUnitDatabase database((harness.Dir.Path / "job.db").string());
    std::map<std::string, std::vector<std::uint64_t>> recorded;
    for (const TUnitRecord& unit : database.Units())
        recorded[unit.Port].push_back(unit.Serial.value_or(0));
    EXPECT_EQ(recorded["COM1"], view.Columns()[0]->ShownSerials());
    EXPECT_EQ(recorded["COM2"], view.Columns()[1]->ShownSerials());
    EXPECT_EQ(recorded["COM1"].size() + recorded["COM2"].size(), 6u);
    EXPECT_EQ(view.tbUnits->rowCount(), 6);

    // At the window's smallest every line, the failure's too, is whole and
    // five units are in sight.
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.resize(1, 1);
    const auto whole = [&] {
        for (const QLabel* label : view.findChildren<QLabel*>()) {
            const int needed = label->wordWrap() && label->hasHeightForWidth() ? label->heightForWidth(label->width())
                                                                               : label->minimumSizeHint().height();
            if (label->isVisible() && label->height() < needed)
                return false;
        }
        return view.tbUnits->viewport()->height() >= 5 * view.tbUnits->verticalHeader()->defaultSectionSize();
    };
    EXPECT_TRUE(QTest::qWaitFor(whole, 5000)) << form.width() << "x" << form.height();

    // Closing asks first, then ends the loops between units.
    harness.Prompts.Answers = {TAnswer::Yes};
    form.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Running(); }, 10000));
    EXPECT_EQ(harness.Prompts.Texts().back(), TMainForm::StopLoopQuestion);
    EXPECT_TRUE(form.cmFileOpen->isEnabled());
    EXPECT_TRUE(form.cmJobClose->isEnabled());
    EXPECT_EQ(database.Units().size(), 6u);
    const auto csv = harness.Dir.Path / "units.csv";
    view.ExportUnits(QString::fromStdString(csv.string()));
    std::ifstream exported(csv, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(exported), {}), UnitsCsv(database.Units()));
}

// The same job, one unit on the operator's key, from the window and from
// lindprog-cli: the same requests on the wire and the same record.
TEST(Production, TheWindowAndTheCommandLineSendAndRecordTheSame)
{
    test::TEnvPort::ClearAll();
    test::TScratchDir cliDir;
    test::WriteJobFiles(cliDir.Path);
    std::vector<std::vector<std::uint8_t>> cliRequests;
    {
        test::TSimPty sim(test::TwoRegions(), 1);
        test::TCliProcess run(cliDir.Path, {"run", (cliDir.Path / "job.toml").string(), "-p", "COM1"});
        ASSERT_EQ(run.Wait(), 0) << run.Err();
        cliRequests = sim.Sim.RequestPayloads();
    }
    test::TEnvPort::ClearAll();

    test::TMainHarness harness(test::TwoRegions());
    TProductionView& view = OpenJob(harness);
    // The operator's key reaches the window on screen.
    harness.Form->show();
    harness.Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(harness.Form.get()));
    view.cbTrigger->setCurrentIndex(1);
    const std::size_t before = harness.Sim.RequestPayloads().size();
    view.btnStart->click();
    ASSERT_EQ(view.Columns().size(), 1u);
    const TStationColumn& column = *view.Columns()[0];
    ASSERT_TRUE(QTest::qWaitFor([&] { return column.Verdict() == "WAITING FOR BOARD"; }, 20000));
    QTest::keyClick(harness.Form.get(), Qt::Key_Space);
    ASSERT_TRUE(WaitForUnits(column, 1));
    EXPECT_EQ(column.Verdict(), "PASS");
    const auto all = harness.Sim.RequestPayloads();
    const std::vector<std::vector<std::uint8_t>> windowRequests(all.begin() + static_cast<std::ptrdiff_t>(before),
                                                                all.end());
    view.btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Running(); }, 10000));
    EXPECT_EQ(windowRequests, cliRequests);

    auto window = TSqliteUnitDatabase((harness.Dir.Path / "job.db").string()).Units();
    auto cli = TSqliteUnitDatabase((cliDir.Path / "job.db").string()).Units();
    ASSERT_EQ(window.size(), 1u);
    ASSERT_EQ(cli.size(), 1u);
    // Apart from times, the station and the speeds the lines give.
    for (TUnitRecord* unit : {&window[0], &cli[0]}) {
        unit->Started = unit->Ended = unit->Station = "";
        unit->Seconds = 0;
        for (TUnitStep& step : unit->Steps)
            step.Line = std::regex_replace(step.Line, std::regex(", speed [0-9.]+ kB/s"), "");
    }
    EXPECT_EQ(UnitsJsonLines(window), UnitsJsonLines(cli));
}

// Read, edited, then a loop run from the keyboard took the window's port:
// once the job is closed the buffer is the region's again, edits and all.
TEST(Production, AJobRunFromTheKeyboardAndClosedLeavesTheBufferAsItWas)
{
    test::TMainHarness harness(test::TwoRegions());
    TMainForm& form = harness.Start();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.cbRegion->setCurrentIndex(1);
    emit form.cbRegion->activated(1);
    form.btnRead->click();
    // Typed over the first byte once the progress dialog has given the window back.
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.Dump().setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Dump().hasFocus(); }, 5000));
    QTest::keyClicks(&form.Dump(), "5a");
    ASSERT_TRUE(form.Dump().Modified());
    const std::vector<std::uint8_t> before(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end());
    ASSERT_EQ(before.size(), 256u);

    test::WriteJobFiles(harness.Dir.Path);
    form.OpenJob(QString::fromStdString((harness.Dir.Path / "job.toml").string()));
    ASSERT_NE(form.Production(), nullptr);
    TProductionView& view = *form.Production();
    view.cbTrigger->setCurrentIndex(1); // the operator's key: no unit starts
    QTest::keyClick(&form, Qt::Key_F11);
    ASSERT_EQ(view.Columns().size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.Columns()[0]->Verdict() == "WAITING FOR BOARD"; }, 20000));
    QTest::keyClick(&form, Qt::Key_F11, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Running(); }, 10000));
    // The window has its adapter again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.WorkerBusy() && form.cmDeviceRead->isEnabled(); }, 20000));
    form.cmJobClose->trigger();
    ASSERT_EQ(form.Production(), nullptr);
    EXPECT_EQ(form.cbRegion->currentText().toStdString(), "Data");
    EXPECT_EQ(std::vector<std::uint8_t>(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end()), before);
    EXPECT_TRUE(form.Dump().Modified());
}

// Where the plan wraps, it wraps at a space; copied, it is the plan's text.
TEST(Production, ThePlanBreaksOnlyAtSpacesAndCopiesAsItIs)
{
    test::TMainHarness harness;
    TProductionView& view = OpenJob(harness);
    harness.Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(harness.Form.get()));
    QPlainTextEdit& plan = *view.mPlan;
    const QString path = QString::fromStdString(view.Job().Path);
    int longest = 0;
    for (const QString& word : plan.toPlainText().remove(QChar(0x2060)).split(QRegularExpression("\\s+")))
        longest = std::max(longest, plan.fontMetrics().horizontalAdvance(word));
    int wrapped = 0;
    // Narrow, so that lines wrap, and never narrower than its longest word.
    for (int extra = 0; extra < 120; extra += 24) {
        plan.setFixedWidth(longest + 40 + extra);
        QCoreApplication::processEvents();
        for (QTextBlock block = plan.document()->begin(); block.isValid(); block = block.next()) {
            plan.document()->documentLayout()->blockBoundingRect(block);
            const QTextLayout* layout = block.layout();
            for (int line = 1; line < layout->lineCount(); ++line, ++wrapped) {
                const int start = layout->lineAt(line).textStart();
                EXPECT_TRUE(block.text()[start - 1].isSpace()) << block.text().left(start).toStdString();
            }
        }
    }
    EXPECT_GT(wrapped, 0);
    plan.selectAll();
    plan.copy();
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Job 'line' (" + path + "), hash ")) << copied.toStdString();
    EXPECT_FALSE(copied.contains(QChar(0x2060)));
}

TEST(Production, AJobWithAnErrorNamesItsPlaceAndOpensNothing)
{
    test::TMainHarness harness;
    test::WriteJobFiles(harness.Dir.Path);
    std::string text = test::JobText();
    text.replace(text.find("data.bin"), 8, "none.bin");
    std::ofstream(harness.Dir.Path / "job.toml") << text;
    TMainForm& form = harness.Start();
    form.OpenJob(QString::fromStdString((harness.Dir.Path / "job.toml").string()));
    EXPECT_EQ(form.Production(), nullptr);
    ASSERT_FALSE(harness.Prompts.Seen.empty());
    EXPECT_NE(harness.Prompts.Seen.back().Text.find("job.toml: step[2].image: "), std::string::npos)
        << harness.Prompts.Seen.back().Text;
}

} // namespace
} // namespace lindprog
