#include "core/base/Stm32Crc.h"
#include "core/link/AdapterCommands.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"
#include "gui/ops/ActionD.h"
#include "support/MainHarness.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>

namespace lindprog {
namespace {

using nlohmann::json;
using test::TMainHarness;

enum Region { Flash, Read1024, Big, WriteOnly };

json OperationsScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "SPC560B50", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": 2048, "fill": 0},
        {"name": "Read1024", "flags": 1, "size": 1024, "fill": 90,
         "read_errors": [{"offset": 512, "times": 1, "status": 13}]},
        {"name": "Big", "flags": 7, "size": 262144, "fill": 0},
        {"name": "WriteOnly", "flags": 6, "size": 1024, "fill": 0}
      ]}],
      "jtag": {"count": 2, "ir_length": 10, "ids": [305419896, 1048575]},
      "start_operation": {"values": [5, 7, 305419896, 3735928559], "info": "", "status": 0}
    })");
}

std::vector<std::string> LogLines(TMainForm& form)
{
    std::vector<std::string> lines;
    for (int row = 0; row < form.Log().topLevelItemCount(); ++row)
        lines.push_back(form.Log().MessageAt(row).toStdString());
    return lines;
}

int CountLines(TMainForm& form, const std::string& text)
{
    const auto lines = LogLines(form);
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

bool HasLineStartingWith(TMainForm& form, const std::string& start)
{
    for (const auto& line : LogLines(form))
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

void SelectRegion(TMainForm& form, int region)
{
    form.cbRegion->setCurrentIndex(region);
    emit form.cbRegion->activated(region);
}

void FillPattern(TMainForm& form)
{
    auto bytes = form.Buffer().Bytes();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
}

// Every caption the progress dialog takes, as it takes it.
class TCaptionsSeen : public QObject {
public:
    TCaptionsSeen() { qApp->installEventFilter(this); }
    ~TCaptionsSeen() override { qApp->removeEventFilter(this); }

    QStringList Captions;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowTitleChange)
            if (auto* dialog = qobject_cast<TActionDialog*>(watched))
                Captions.push_back(dialog->windowTitle());
        return false;
    }
};

// Clicks Cancel as soon as the progress dialog shows this stage.
class TCancelWhen : public TCaptionsSeen {
public:
    explicit TCancelWhen(const QString& caption) : Caption(caption) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowTitleChange)
            if (auto* dialog = qobject_cast<TActionDialog*>(watched); dialog && dialog->windowTitle() == Caption)
                dialog->btnCancel->click();
        return false;
    }

private:
    QString Caption;
};

TEST(Operations, ProgramRunsEachStageUnderItsOwnDialogAndWritesTheWindowsBuffer)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    FillPattern(form);
    const std::vector<std::uint8_t> image(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end());
    harness.Prompts.Answers = {TAnswer::Yes};
    TCaptionsSeen dialogs;
    form.btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !harness.Prompts.Seen.empty() && harness.Prompts.Seen.back().Text == "Programming successfull"; },
        20000));
    EXPECT_EQ(dialogs.Captions,
              (QStringList{"Starting operation", "Erasing", "Blank-checking", "Writing", "Verifying"}));
    EXPECT_EQ(CountLines(form, "Starting operation"), 4);
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);
    EXPECT_EQ(harness.Sim.RegionContents(0, Flash), image);
    EXPECT_FALSE(form.Runner().UnderWay());
}

TEST(Operations, CancelDuringTheWriteStageEndsProgram)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Big);
    harness.Prompts.Answers = {TAnswer::Yes};
    TCancelWhen cancel("Writing");
    form.btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Prompts.Seen.size() == 2; }, 60000));
    EXPECT_EQ(harness.Prompts.Seen[1].Text, "Programming failed");
    EXPECT_EQ(CountLines(form, "Canceled"), 1);
    EXPECT_EQ(CountLines(form, "Verifying device..."), 0);
    EXPECT_FALSE(form.Runner().UnderWay());
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Reading device..."), 1);
}

TEST(Operations, ReadAsksInsideItsStepAndLeavesTheViewWithoutChanges)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Read1024);
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnRead->click();
    ASSERT_EQ(harness.Prompts.Seen.size(), 1u);
    EXPECT_EQ(harness.Prompts.Seen[0].Text, "Read error occured. Ignore this error and continue?");
    EXPECT_EQ(harness.Prompts.Seen[0].Kind, "confirm");
    EXPECT_TRUE(std::all_of(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end(),
                            [](std::uint8_t b) { return b == 90; }));
    const std::uint32_t crc = CrcUpdateBytes(CrcStart, form.Buffer().Bytes());
    EXPECT_TRUE(HasLineStartingWith(
        form, QString::asprintf("Successfully read 1024 bytes, CRC32 = %.08X, speed ", crc).toStdString()));
    // The view takes what was read as its reference: nothing shows as edited.
    EXPECT_FALSE(form.Dump().Editor().Data().IsChanged(0));
    EXPECT_FALSE(form.Dump().Modified());
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);
}

// Unplugged while reading: the read ends at once with the port's reason, no
// question about ignoring it, and the window shows the port closed.
TEST(Operations, PortVanishingMidReadEndsItAndClosesTheConnection)
{
    json scenario = OperationsScenario();
    scenario["vanish_after"] = 15; // 9 to connect, the start, then the 5th block
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    SelectRegion(form, Big);
    form.btnRead->click();
    QTRY_COMPARE_WITH_TIMEOUT(form.windowTitle(), QString("Corvane Programmer"), 3000);
    EXPECT_EQ(CountLines(form, "Read failed at offset 800 (Port is not open)"), 1);
    EXPECT_EQ(CountLines(form, "Port COM1 went away"), 1);
    EXPECT_TRUE(harness.Prompts.Seen.empty());
    EXPECT_FALSE(form.btnRead->isEnabled());
}

TEST(Operations, WriteOnlyRegionRunsItsWriteSequence)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, WriteOnly);
    EXPECT_FALSE(form.btnRead->isEnabled());
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnWrite->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Sim.RequestCount(175) == 1; }, 20000));
    EXPECT_TRUE(HasLineStartingWith(form, "Programming OK, 1024 bytes written"));
}

// The adapter keeps the first block waiting; the window still handles what
// is posted to it before that request ends (with the read-error question).
TEST(Operations, WindowAnswersWhileARequestWaitsForTheAdapter)
{
    json scenario = OperationsScenario();
    scenario["faults"] = {{{"command", Cmd::ReadBlock}, {"kind", "no_answer"}, {"times", 1}}};
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    bool handled = false;
    bool beforeTheRequestEnded = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (harness.Sim.RequestCount(Cmd::ReadBlock) == 0)
            return;
        watch.stop();
        QMetaObject::invokeMethod(
            &form,
            [&] {
                handled = true;
                beforeTheRequestEnded = harness.Prompts.Seen.empty();
            },
            Qt::QueuedConnection);
    });
    watch.start(1);
    harness.Prompts.Answers = {TAnswer::No};
    ASSERT_TRUE(form.btnRead->isEnabled()) << "connected";
    form.btnRead->click();
    EXPECT_TRUE(handled);
    EXPECT_TRUE(beforeTheRequestEnded);
    ASSERT_EQ(harness.Prompts.Texts(), std::vector<std::string>{"Read error occured. Ignore this error and continue?"});
}

// The scan's rules are the core's; here only that Detect runs it into the log.
// Compare reads beside the buffer and marks where the region differs; a
// failed verify reads its block back and goes to the byte.
TEST(Operations, CompareMarksTheDifferencesAndAFailedVerifyGoesToTheByte)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    auto bytes = form.Buffer().Bytes();
    for (const std::size_t at : {0x10, 0x400, 0x401, 0x7FF})
        bytes[at] = 1;
    const std::vector<std::uint8_t> buffer(bytes.begin(), bytes.end());

    form.cmDeviceCompare->trigger();
    EXPECT_EQ(form.Dump().Differences(), (std::vector<TDifferenceRange>{{0x10, 0x11}, {0x400, 0x402}, {0x7FF, 0x800}}));
    EXPECT_EQ(form.Dump().CursorIndex(), 0x10) << "at the first difference";
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), form.Buffer().Bytes().begin())) << "the buffer stays";
    EXPECT_EQ(CountLines(form, "Compare error at 0x00000010"), 1);

    bytes[0x10] = 0;
    form.cmDeviceVerify->trigger();
    EXPECT_EQ(
        CountLines(form, "Read back, the block at 0x00000400 differs first at 0x00000400: expected 0x01, read 0x00"),
        1);
    EXPECT_EQ(form.Dump().CursorIndex(), 0x400);
}

TEST(JtagScan, DetectRunsTheScanIntoTheLog)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    form.cmDeviceDetectClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.WorkerBusy() && LogLines(form).size() == 4; }, 5000));
    EXPECT_EQ(LogLines(form), (std::vector<std::string>{"Connected to Corvane JTAG on COM1, firmware v1.18",
                                                        "Device count: 2, total IR length: 10", "Device 1 ID: 12345678",
                                                        "Device 2 ID: 000FFFFF"}));
}

} // namespace
} // namespace lindprog

namespace lindprog {
namespace {

TEST(Operations, BackupAndRestoreRunOnTheWorkerAndLeaveTheBufferAlone)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    FillPattern(form);
    const std::vector<std::uint8_t> buffer(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end());
    const auto folder = harness.Dir.Path / "backup";
    harness.Prompts.Answers = {TAnswer::Yes}; // ignore Read1024's read error
    ASSERT_TRUE(form.cmDeviceBackup->isEnabled());
    form.BackupDevice(QString::fromStdString(folder.string()));
    ASSERT_TRUE(std::filesystem::exists(folder / "manifest.toml")) << testing::PrintToString(LogLines(form));
    EXPECT_EQ(CountLines(form, "Reading device..."), 3) << "the three readable regions, one plan";
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);

    const auto flash = harness.Sim.RegionContents(0, Flash);
    ASSERT_TRUE(harness.Sim.SetRegionContents(0, Flash, std::vector<std::uint8_t>{1, 2, 3}));
    harness.Prompts.Answers = {TAnswer::Yes}; // the restore's question
    form.RestoreBackup(QString::fromStdString((folder / "manifest.toml").string()));
    EXPECT_EQ(harness.Sim.RegionContents(0, Flash), flash);
    ASSERT_FALSE(harness.Prompts.Seen.empty());
    EXPECT_EQ(harness.Prompts.Seen.back().Text.rfind("Restored SPC560B50", 0), 0u) << harness.Prompts.Seen.back().Text;
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), form.Buffer().Bytes().begin()));
}

} // namespace
} // namespace lindprog
