#include "gui/ops/ActionD.h"
#include "gui/main/LogView.h"
#include "MainHarness.h"
#include "core/base/Stm32Crc.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QToolButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace lindprog {
namespace {

using nlohmann::json;
using test::TMainHarness;

enum Region { Flash, Read1024, Read2048, Odd, Big, Empty, WriteOnly };

json OperationsScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "SPC560B50", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": 2048, "fill": 0},
        {"name": "Read1024", "flags": 1, "size": 1024, "fill": 90,
         "read_errors": [{"offset": 512, "times": 1, "status": 13}]},
        {"name": "Read2048", "flags": 1, "size": 2048, "fill": 90,
         "read_errors": [{"offset": 512, "times": 1, "status": 13}]},
        {"name": "Odd", "flags": 1, "size": 1030, "fill": 0,
         "contents": [{"offset": 1020, "hex": "0102030405060708090A"}]},
        {"name": "Big", "flags": 7, "size": 262144, "fill": 0},
        {"name": "Empty", "flags": 7, "size": 0},
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

// Clicks Cancel as soon as a progress dialog with this caption is running.
class TCancelWhen {
public:
    TCancelWhen(TMainForm& form, const QString& caption, int afterSteps = 0)
    {
        Poll.setInterval(0);
        QObject::connect(&Poll, &QTimer::timeout, [&form, caption, afterSteps, this] {
            TActionDialog* dialog = form.CurrentAction();
            if (dialog == nullptr || dialog->windowTitle() != caption)
                return;
            if (++Seen > afterSteps) {
                dialog->btnCancel->click();
                Poll.stop();
            }
        });
        Poll.start();
    }

private:
    QTimer Poll;
    int Seen = 0;
};

TEST(Operations, ProgramRunsFourStagesAndPowersOffOnceAtTheEnd)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    FillPattern(form);
    const std::vector<std::uint8_t> image(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end());
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !harness.Prompts.Seen.empty() &&
                                             harness.Prompts.Seen.back().Text == "Programming successfull"; },
                                20000));
    EXPECT_EQ(harness.Prompts.Seen.front().Text, "Program (erase, blank-check, write and verify) device?");
    EXPECT_EQ(harness.Prompts.Seen.back().Kind, "info");
    EXPECT_EQ(CountLines(form, "Starting operation"), 4);
    std::vector<std::string> stages;
    for (const auto& line : LogLines(form))
        if (line.size() > 10 && line.substr(line.size() - 10) == " device...")
            stages.push_back(line);
    EXPECT_EQ(stages, (std::vector<std::string>{"Erasing device...", "Blank-checking device...", "Writing device...",
                                                "Verifying device..."}));
    EXPECT_EQ(CountLines(form, "Erase OK"), 1);
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);
    EXPECT_EQ(harness.Sim.RequestPayloads().back(), std::vector<std::uint8_t>{175});
    EXPECT_EQ(harness.Sim.RegionContents(0, Flash), image);
    EXPECT_FALSE(form.Driver().SequenceUnderWay());
}

TEST(Operations, WriteChosenByTheUserErasesFirst)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    FillPattern(form);
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnWrite->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Sim.RequestCount(175) == 1; }, 20000));
    EXPECT_EQ(harness.Prompts.Texts(), std::vector<std::string>{"Write device?"});
    EXPECT_EQ(CountLines(form, "Erasing device..."), 1);
    EXPECT_EQ(CountLines(form, "Writing device..."), 1);
    EXPECT_TRUE(HasLineStartingWith(form, "Programming OK, 2048 bytes written, speed "));
    EXPECT_EQ(harness.Sim.RequestCount(165), 0);
    EXPECT_EQ(harness.Sim.RequestCount(163), 0);
    EXPECT_FALSE(form.Driver().SequenceUnderWay());
}

TEST(Operations, RefusedConfirmationSendsNothing)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    const std::size_t before = harness.Sim.RequestTotal();
    harness.Prompts.Answers = {TAnswer::No};
    form.btnErase->click();
    EXPECT_EQ(harness.Sim.RequestTotal(), before);
    EXPECT_EQ(form.Log().topLevelItemCount(), 0);
}

TEST(Operations, BlankCheckFailureEndsProgramAndTheNextReadReads)
{
    json scenario = OperationsScenario();
    scenario["faults"] = json::array({{{"command", 165}, {"kind", "status"}, {"status", 15}}});
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Prompts.Seen.size() == 2; }, 20000));
    EXPECT_EQ(harness.Prompts.Seen[1].Text, "Programming failed");
    EXPECT_EQ(harness.Prompts.Seen[1].Kind, "error");
    EXPECT_EQ(CountLines(form, "Blank check failed at offset 0 (Device not blank)"), 1);
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Reading device..."), 1);
    EXPECT_TRUE(HasLineStartingWith(form, "Successfully read 2048 bytes"));
}

TEST(Operations, CancelDuringTheWriteStageEndsProgram)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Big);
    harness.Prompts.Answers = {TAnswer::Yes};
    TCancelWhen cancel(form, "Writing", 3);
    form.btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Prompts.Seen.size() == 2; }, 60000));
    EXPECT_EQ(harness.Prompts.Seen[1].Text, "Programming failed");
    EXPECT_EQ(CountLines(form, "Canceled"), 1);
    EXPECT_EQ(CountLines(form, "Verifying device..."), 0);
    EXPECT_FALSE(form.Driver().SequenceUnderWay());
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Reading device..."), 1);
}

TEST(Operations, FailedBlockReadAnsweredYesContinuesInSmallBlocks)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Read1024);
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnRead->click();
    EXPECT_EQ(harness.Prompts.Texts(), std::vector<std::string>{"Read error occured. Ignore this error and continue?"});
    EXPECT_EQ(harness.Prompts.Seen[0].Kind, "confirm");
    EXPECT_EQ(CountLines(form, "Lowering read block size to 4 bytes"), 1);
    EXPECT_EQ(harness.Sim.RequestCount(161), 1 + 1 + 128);
    const std::uint32_t crc = CrcUpdateBytes(CrcStart, form.Buffer().Bytes());
    EXPECT_TRUE(HasLineStartingWith(
        form, QString::asprintf("Successfully read 1024 bytes, CRC32 = %.08X, speed ", crc).toStdString()));
    EXPECT_FALSE(HasLineStartingWith(form, "Block read error count"));
    EXPECT_FALSE(HasLineStartingWith(form, "Setting read block size"));
    EXPECT_TRUE(std::all_of(form.Buffer().Bytes().begin(), form.Buffer().Bytes().end(),
                            [](std::uint8_t b) { return b == 90; }));
}

TEST(Operations, SmallBlocksGoBackTo512After128GoodReads)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Read2048);
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Setting read block size to 512 bytes"), 1);
    EXPECT_EQ(harness.Sim.RequestCount(161), 1 + 1 + 128 + 2);
    EXPECT_TRUE(HasLineStartingWith(form, "Successfully read 2048 bytes"));
}

TEST(Operations, FailedBlockReadAnsweredNoEndsTheRead)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Read1024);
    harness.Prompts.Answers = {TAnswer::No};
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Read failed at offset 200 (Device read error)"), 1);
    EXPECT_EQ(harness.Sim.RequestCount(175), 1);
}

TEST(Operations, OddSizedRegionEndsWithAShortBlockAndWholeWordCrc)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Odd);
    form.btnRead->click();
    const auto payloads = harness.Sim.RequestPayloads();
    std::vector<std::uint16_t> lengths;
    for (const auto& payload : payloads)
        if (payload[0] == 161)
            lengths.push_back(static_cast<std::uint16_t>(payload[5] | payload[6] << 8));
    EXPECT_EQ(lengths, (std::vector<std::uint16_t>{512, 512, 6}));
    const auto bytes = form.Buffer().Bytes();
    EXPECT_EQ(bytes[1029], 0x0A);
    // The same routine file loading logs: whole words only, 1028 bytes.
    const std::uint32_t crc = CrcUpdateBytes(CrcStart, bytes);
    EXPECT_EQ(crc, CrcUpdateBytes(CrcStart, bytes.first(1028)));
    EXPECT_TRUE(HasLineStartingWith(
        form, QString::asprintf("Successfully read 1030 bytes, CRC32 = %.08X, speed ", crc).toStdString()));
}

TEST(Operations, StartStatusTwelveWarnsAndRuns)
{
    json scenario = OperationsScenario();
    scenario["start_operation"]["status"] = 12;
    scenario["start_operation"]["info"] = "Flash A|Flash B|";
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    form.btnRead->click();
    const auto lines = LogLines(form);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Starting operation");
    EXPECT_EQ(lines[1], "Pause for voltage setting");
    EXPECT_EQ(lines[2], "Flash A");
    EXPECT_EQ(lines[3], "Flash B");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "WARNING: device is locked!");
    EXPECT_EQ(lines[6], "Reading device...");
    EXPECT_TRUE(HasLineStartingWith(form, "Successfully read 2048 bytes"));
}

TEST(Operations, OtherStartStatusStopsWithoutPowerOff)
{
    json scenario = OperationsScenario();
    scenario["start_operation"]["status"] = 10;
    scenario["start_operation"]["info"] = "No target";
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    form.btnRead->click();
    EXPECT_EQ(LogLines(form), (std::vector<std::string>{"Starting operation", "Pause for voltage setting",
                                                        "No target", "Error: Device not found"}));
    EXPECT_EQ(harness.Sim.RequestCount(175), 0);
    EXPECT_EQ(harness.Sim.RequestCount(161), 0);
}

TEST(Operations, SuccessfulStartLogsTheDetectValues)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    form.btnVerify->click();
    EXPECT_EQ(CountLines(form, "JTAG/Nexus detect: 5/7/12345678/DEADBEEF"), 1);
    EXPECT_EQ(CountLines(form, "Verify failed at offset 0 (Compare error)"), 0);
}

TEST(Operations, CancelledReadLeavesFFAfterTheLastBlockRead)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Big);
    TCancelWhen cancel(form, "Reading", 5);
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Canceled"), 1);
    const std::size_t read = static_cast<std::size_t>(harness.Sim.RequestCount(161)) * 512;
    const auto bytes = form.Buffer().Bytes();
    ASSERT_LT(read, bytes.size());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + static_cast<long>(read), [](auto b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<long>(read), bytes.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(harness.Sim.RequestCount(175), 1) << "a cancelled operation still powers off";
}

TEST(Operations, EmptyRegionRunsNoBlock)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    SelectRegion(form, Empty);
    form.btnRead->click();
    EXPECT_EQ(harness.Sim.RequestCount(161), 0);
    EXPECT_EQ(CountLines(form, "Successfully read 0 bytes, CRC32 = FFFFFFFF, speed 0.0 kB/s"), 1);
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

TEST(Operations, ClickInThePauseBetweenStagesRunsThePendingStageOnce)
{
    TMainHarness harness(OperationsScenario());
    TMainForm& form = harness.Start();
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnProgram->click(); // returns after the erase stage, next one pending
    ASSERT_TRUE(form.tmrAction->isActive());
    form.btnRead->click(); // runs the pending blank check, not a read
    EXPECT_FALSE(form.tmrAction->isActive() && CountLines(form, "Blank-checking device...") == 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.Prompts.Seen.size() == 2; }, 20000));
    EXPECT_EQ(harness.Prompts.Seen[1].Text, "Programming successfull");
    EXPECT_EQ(CountLines(form, "Blank-checking device..."), 1);
    EXPECT_EQ(CountLines(form, "Reading device..."), 0);
    EXPECT_EQ(harness.Sim.RequestCount(165), 4);
}

TEST(Operations, SkippedBlockWithoutAnswerKeepsTheFill)
{
    json scenario = OperationsScenario();
    scenario["devices"][0]["regions"][Read1024]["read_errors"] =
        json::array({{{"offset", 0}, {"times", 2}, {"no_answer", true}}});
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    SelectRegion(form, Read1024);
    harness.Prompts.Answers = {TAnswer::Yes};
    form.btnRead->click();
    EXPECT_EQ(CountLines(form, "Read block (4 bytes) failed at 0 (No answer)"), 1);
    const auto bytes = form.Buffer().Bytes();
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4), std::vector<std::uint8_t>(4, 0xFF));
    EXPECT_EQ(bytes[4], 90);
    EXPECT_TRUE(HasLineStartingWith(form, "Successfully read 1024 bytes"));
    EXPECT_EQ(CountLines(form, "Block read error count: 1"), 1);
}

TEST(JtagScan, ListsCountAndUpToTenIds)
{
    json scenario = OperationsScenario();
    scenario["jtag"] = {{"count", 25}, {"ir_length", 125}, {"ids", json::array()}};
    for (int k = 0; k < 25; ++k)
        scenario["jtag"]["ids"].push_back(0x00A0000 + k);
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    form.cmDeviceDetectClick();
    const auto lines = LogLines(form);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "Device count: 25, total IR length: 125");
    EXPECT_EQ(lines[1], "Device 1 ID: 000A0000");
    EXPECT_EQ(lines[10], "Device 10 ID: 000A0009");
}

TEST(JtagScan, EmptyChainAndFailure)
{
    json scenario = OperationsScenario();
    scenario["jtag"] = {{"count", 0}, {"ir_length", 0}, {"ids", json::array()}};
    scenario["faults"] = json::array({{{"command", 176}, {"kind", "status"}, {"status", 23}, {"skip", 1}}});
    TMainHarness harness(scenario);
    TMainForm& form = harness.Start();
    form.cmDeviceDetectClick();
    form.cmDeviceDetectClick();
    EXPECT_EQ(LogLines(form), (std::vector<std::string>{"Device count: 0, total IR length: 0",
                                                        "JTAG scan failed (Incorrect JTAG ID)"}));
    EXPECT_EQ(harness.Sim.RequestCount(175), 0);
}

} // namespace
} // namespace lindprog
