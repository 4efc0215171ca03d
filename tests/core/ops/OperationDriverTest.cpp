#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "support/OpsHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace lindprog {
namespace {

using nlohmann::json;
using test::TOpsRig;
using test::TPromptRecord;
using Lines = std::vector<std::string>;

enum Region { Flash, Read1024, Read2048, Odd, Big, Empty, Lockable };

json OperationsScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3,
      "devices": [{"name": "SPC560B50", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": 2048, "fill": 0},
        {"name": "Read1024", "flags": 1, "size": 1024, "fill": 90,
         "read_errors": [{"offset": 512, "times": 1, "status": 13}]},
        {"name": "Read2048", "flags": 1, "size": 2048, "fill": 90,
         "read_errors": [{"offset": 512, "times": 1, "status": 13}]},
        {"name": "Odd", "flags": 1, "size": 1030, "fill": 0,
         "contents": [{"offset": 1020, "hex": "0102030405060708090A"}]},
        {"name": "Big", "flags": 7, "size": 65536, "fill": 0},
        {"name": "Empty", "flags": 7, "size": 0},
        {"name": "Lockable", "flags": 15, "size": 1024, "fill": 0}
      ]}],
      "start_operation": {"values": [5, 7, 305419896, 3735928559], "info": "", "status": 0},
      "erase_not_ready": 2,
      "unlock_not_ready": 1
    })");
}

json With(const char* key, const json& value, json scenario = OperationsScenario())
{
    scenario[key] = value;
    return scenario;
}

json WithReadErrors(Region region, const char* errors)
{
    json scenario = OperationsScenario();
    scenario["devices"][0]["regions"][region]["read_errors"] = json::parse(errors);
    return scenario;
}

void Choose(TOpsRig& rig, Region region)
{
    rig.Connect();
    ASSERT_TRUE(rig.View.Seen.empty()) << rig.View.Seen.front().Text;
    rig.Connection.SelectRegion(region);
    ASSERT_EQ(rig.Connection.SelectedRegion(), region);
}

// What every stage logs before its steps when the adapter accepts the start.
Lines Started(const std::string& stage)
{
    return {"Starting operation", "Pause for voltage setting", "JTAG/Nexus detect: 5/7/12345678/DEADBEEF",
            stage + " device..."};
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The success line of a read whose CRC covers `covered`. The rig takes every
// step 10 ms after the one before, so each speed follows from the step count.
std::string ReadOk(std::size_t bytes, std::span<const std::uint8_t> covered, const char* speed)
{
    return Format("Successfully read %d bytes, CRC32 = %.08X, speed %s kB/s", static_cast<int>(bytes),
                  CrcUpdateBytes(CrcStart, covered), speed);
}

std::vector<int> Repeat(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> values;
    for (const auto& [value, count] : runs)
        values.insert(values.end(), static_cast<std::size_t>(count), value);
    return values;
}

bool AllBytes(std::span<const std::uint8_t> bytes, std::uint8_t value)
{
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
}

void FillPattern(std::vector<std::uint8_t>& buffer)
{
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 7 + 3);
}

const TPromptRecord ReadErrorQuestion{"confirm", "Read error occured. Ignore this error and continue?"};
const TPromptRecord ProgramQuestion{"confirm", "Program (erase, blank-check, write and verify) device?"};
const std::vector<std::uint8_t> PowerOffRequest{Cmd::PowerOff};

TEST(OperationDriver, FailedBlockReadDropsTo4BytesAndGoesBackTo512After128GoodReads)
{
    struct TCase {
        Region Where;
        TAnswer Answer; // closing the box goes on like Yes
        Lines After;
        std::vector<int> Lengths;
        const char* Speed;
    };
    const TCase cases[] = {
        {Read1024, TAnswer::None, {"Lowering read block size to 4 bytes"}, Repeat({{512, 2}, {4, 128}}), "0.8"},
        {Read2048,
         TAnswer::Yes,
         {"Lowering read block size to 4 bytes", "Setting read block size to 512 bytes"},
         Repeat({{512, 2}, {4, 128}, {512, 2}}),
         "1.5"}};
    for (const auto& [where, answer, after, lengths, speed] : cases) {
        SCOPED_TRACE(where);
        TOpsRig rig(OperationsScenario());
        Choose(rig, where);
        rig.View.Answers = {answer};
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.View.Seen, std::vector<TPromptRecord>{ReadErrorQuestion});
        EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), lengths);
        EXPECT_TRUE(AllBytes(rig.View.Buffer, 90));
        EXPECT_EQ(rig.View.Log,
                  Join({Started("Reading"), after, {ReadOk(rig.View.Buffer.size(), rig.View.Buffer, speed)}}));
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
        EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), PowerOffRequest);
        EXPECT_EQ(rig.View.BufferAccepted, 2) << "once filled with 0xFF, once read";
    }
}

// A block reply that carries fewer bytes than asked is a failed read like any
// other: the bytes it lacks must not come from an earlier reply.
TEST(OperationDriver, ShortBlockReplyIsAFailedReadNotData)
{
    json scenario = WithReadErrors(Read1024, "[]");
    scenario["devices"][0]["regions"][Read1024]["contents"] = json::parse(R"([{"offset": 0, "text": "FIRST"}])");
    scenario["faults"] = json::parse(R"([{"command": 161, "kind": "truncate", "bytes": 100, "skip": 1}])");
    TOpsRig rig(scenario);
    Choose(rig, Read1024);
    rig.View.Answers = {TAnswer::Yes};
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.View.Seen, std::vector<TPromptRecord>{ReadErrorQuestion});
    EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), Repeat({{512, 2}, {4, 128}}));
    EXPECT_EQ(rig.View.Log, Join({Started("Reading"),
                                  {"Lowering read block size to 4 bytes", ReadOk(1024, rig.View.Buffer, "0.8")}}));
    EXPECT_EQ(rig.View.Buffer, rig.Link.Sim.RegionContents(0, Read1024)) << "no byte of the first block repeated";
}

TEST(OperationDriver, Failed4ByteBlockIsLoggedFilledFromItsReplyAndSkipped)
{
    struct TCase {
        const char* Name;
        json Scenario;
        Lines Skipped;
        std::uint32_t At;                // the skipped block
        std::vector<std::uint8_t> Holds; // what it holds afterwards
    };
    // A failed reply that carries the block's data: the adapter's own bytes.
    json carrying = With("faults", json::parse(R"([{"command": 161, "kind": "status", "status": 13,
                                                    "skip": 1, "times": 2}])"));
    carrying["devices"][0]["regions"][Read1024]["read_errors"] = json::array();
    carrying["devices"][0]["regions"][Read1024]["contents"] = json::parse(R"([{"offset": 512, "hex": "C0FFEE11"}])");
    const TCase cases[] = {
        {"no data",
         WithReadErrors(Read1024, R"([{"offset": 516, "times": 2, "status": 13}])"),
         {"Read block (4 bytes) failed at 204 (Device read error)"},
         516,
         {0xFF, 0xFF, 0xFF, 0xFF}},
        // The reply area still holds the previous block's bytes; they must
        // not end up in the buffer.
        {"no answer",
         WithReadErrors(Read1024, R"([{"offset": 516, "times": 2, "no_answer": true}])"),
         {"Read block (4 bytes) failed at 204 (No answer)"},
         516,
         {0xFF, 0xFF, 0xFF, 0xFF}},
        {"data", carrying, {"Read block (4 bytes) failed at 200 (Device read error)"}, 512, {0xC0, 0xFF, 0xEE, 0x11}}};
    for (const auto& [name, scenario, skipped, at, holds] : cases) {
        SCOPED_TRACE(name);
        TOpsRig rig(scenario);
        rig.ShortReplyWait();
        Choose(rig, Read1024);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.View.Seen, std::vector<TPromptRecord>{ReadErrorQuestion});
        const std::span<const std::uint8_t> bytes = rig.View.Buffer;
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + 4), holds);
        EXPECT_TRUE(AllBytes(bytes.first(at), 90));
        EXPECT_TRUE(AllBytes(bytes.subspan(at + 4), 90));
        EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), Repeat({{512, 2}, {4, 128}})) << "the skip moves on";
        EXPECT_EQ(rig.View.Log, Join({Started("Reading"),
                                      {"Lowering read block size to 4 bytes"},
                                      skipped,
                                      {ReadOk(1024, bytes, "0.8"), "Block read error count: 1"}}));
    }
}

TEST(OperationDriver, ThreeNoAnswersInARowEndTheReadWhateverTheIgnoreSetting)
{
    TOpsRig rig(With("faults", json::parse(R"([{"command": 161, "kind": "no_answer", "skip": 1, "times": -1}])")));
    rig.ShortReplyWait();
    Choose(rig, Read1024);
    rig.View.Answers = {TAnswer::Yes};
    const TPlanOutcome& outcome = rig.Click(TOperation::Read);
    EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), (std::vector<int>{512, 512, 4, 4}));
    EXPECT_EQ(outcome.Last().Status, PortStatus::NoAnswer);
    EXPECT_EQ(outcome.Last().Line, "Read failed at offset 204 (No answer)");
}

TEST(OperationDriver, ReadErrorQuestionComesOncePerReadAndNoEndsTheRead)
{
    TOpsRig rig(WithReadErrors(Read1024, R"([{"offset": 512, "times": -1, "status": 13}])"));
    Choose(rig, Read1024);
    rig.View.Answers = {TAnswer::Yes};
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.View.Seen, std::vector<TPromptRecord>{ReadErrorQuestion}) << "two failures, one question";
    // The answer is this read's: a station started from these settings next
    // must not inherit it as its policy.
    EXPECT_FALSE(rig.Settings.IgnoreReadErrors);
    EXPECT_EQ(rig.View.Log,
              Join({Started("Reading"),
                    {"Lowering read block size to 4 bytes", "Read block (4 bytes) failed at 200 (Device read error)",
                     ReadOk(1024, rig.View.Buffer, "0.8"), "Block read error count: 1"}}));

    // The next read starts without the answer of the last one.
    rig.View.Log.clear();
    rig.View.Answers = {TAnswer::No};
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{ReadErrorQuestion, ReadErrorQuestion}));
    EXPECT_EQ(rig.View.Log, Join({Started("Reading"), {"Read failed at offset 200 (Device read error)"}}));
    EXPECT_EQ(rig.Count(Cmd::PowerOff), 2);
    EXPECT_TRUE(AllBytes(std::span<const std::uint8_t>(rig.View.Buffer).subspan(512), 0xFF));
}

TEST(OperationDriver, OddSizedRegionEndsWithAShortBlockAndTheCrcCoversWholeWords)
{
    TOpsRig rig(OperationsScenario());
    Choose(rig, Odd);
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), (std::vector<int>{512, 512, 6}));
    EXPECT_EQ(rig.View.Percents, (std::vector<int>{49, 99, 100}));
    const std::span<const std::uint8_t> bytes = rig.View.Buffer;
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 1020, bytes.end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(rig.View.Log, Join({Started("Reading"), {ReadOk(1030, bytes.first(1028), "33.5")}}));
    EXPECT_TRUE(rig.View.Seen.empty());

    // A region of no bytes reads nothing and still reports.
    rig.View.Log.clear();
    rig.Connection.SelectRegion(Empty);
    rig.Click(TOperation::Read);
    EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock).size(), 3u);
    EXPECT_EQ(rig.View.Log,
              Join({Started("Reading"), {"Successfully read 0 bytes, CRC32 = FFFFFFFF, speed 0.0 kB/s"}}));
}

TEST(OperationDriver, CancelledReadKeepsTheFillAfterTheLastBlockAndOnlyReadShowsItsSpeed)
{
    TOpsRig rig(OperationsScenario());
    Choose(rig, Big);
    rig.Click(TOperation::Read, [](const std::string&, int steps) { return steps == 60; });
    EXPECT_EQ(rig.Count(Cmd::ReadBlock), 60);
    EXPECT_EQ(rig.View.Log, Join({Started("Reading"), {"Canceled"}}));
    const std::span<const std::uint8_t> bytes = rig.View.Buffer;
    EXPECT_TRUE(AllBytes(bytes.first(60 * 512), 0));
    EXPECT_TRUE(AllBytes(bytes.subspan(60 * 512), 0xFF));
    EXPECT_EQ(rig.Count(Cmd::PowerOff), 1) << "a cancelled operation still powers off";
    // First past 500 ms after the 52nd block, at 510 ms.
    EXPECT_EQ(rig.View.Speeds, std::vector<std::uint32_t>{52 * 512 * 1000 / 510});

    // The half-read buffer against the device: the first different block.
    rig.View.Log.clear();
    rig.Click(TOperation::Verify);
    EXPECT_EQ(rig.View.Log,
              Join({Started("Verifying"),
                    {"Verify failed at offset 7800 (Compare error)",
                     "Read back, the block at 0x00007800 differs first at 0x00007800: expected 0xFF, read 0x00"}}));
    EXPECT_EQ(rig.Count(Cmd::VerifyBlock), 61);
    EXPECT_EQ(rig.View.Speeds.size(), 1u);
    EXPECT_EQ(rig.Count(Cmd::PowerOff), 2);
    EXPECT_TRUE(rig.View.Seen.empty());
}

TEST(OperationDriver, ProgramRunsFourStagesAndPowersOffOnceAtTheEnd)
{
    for (const bool powerOff : {true, false}) {
        SCOPED_TRACE(powerOff);
        TOpsRig rig(OperationsScenario());
        Choose(rig, Flash);
        rig.Settings.TurnOffPower = powerOff;
        rig.Settings.JtagDelay = 300;
        FillPattern(rig.View.Buffer);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Program);

        EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{ProgramQuestion, {"info", "Programming successfull"}}));
        EXPECT_EQ(rig.View.Log, Join({Started("Erasing"),
                                      {"Erase OK"},
                                      Started("Blank-checking"),
                                      {"Blank check OK, 2048 bytes checked, speed 50.0 kB/s"},
                                      Started("Writing"),
                                      {"Programming OK, 2048 bytes written, speed 50.0 kB/s"},
                                      Started("Verifying"),
                                      {"Verification OK, 2048 bytes compared, speed 50.0 kB/s"}}));
        EXPECT_EQ(rig.StartedOperations(), (std::vector<int>{3, 4, 1, 2}));
        EXPECT_EQ(rig.View.StagesStarted, 4);
        EXPECT_FALSE(rig.Runner.UnderWay());
        EXPECT_EQ(rig.Count(Cmd::EraseStep), 3) << "two \"Not ready\" answers, then done";
        EXPECT_EQ(std::vector<int>(rig.View.Percents.begin(), rig.View.Percents.begin() + 3),
                  (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(rig.Link.Sim.RegionContents(0, Flash), rig.View.Buffer);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), powerOff ? 1 : 0);
        if (powerOff) {
            EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), PowerOffRequest);
        }
        // Device 0, region 0, erase, JTAG delay 300, 3.3 V.
        const auto payloads = rig.Link.Sim.RequestPayloads();
        const auto start = *std::find_if(payloads.begin(), payloads.end(),
                                         [](const auto& payload) { return payload[0] == Cmd::StartOperation; });
        EXPECT_EQ(std::vector<std::uint8_t>(start.begin(), start.begin() + 9),
                  (std::vector<std::uint8_t>{160, 0, Flash, 3, 0x2C, 0x01, 0, 0, 1}));
    }
}

TEST(OperationDriver, WriteErasesFirstAndRefusedQuestionsSendNothing)
{
    TOpsRig rig(OperationsScenario());
    Choose(rig, Flash);
    const std::size_t before = rig.Link.Sim.RequestTotal();
    rig.View.Answers = {TAnswer::No, TAnswer::No, TAnswer::None, TAnswer::No};
    for (const TOperation refused : {TOperation::Write, TOperation::Erase, TOperation::Unlock, TOperation::Program})
        rig.Click(refused);
    EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"confirm", "Write device?"},
                                                         {"confirm", "Erase device?"},
                                                         {"confirm", "Unlocking will erase whole device. Continue?"},
                                                         ProgramQuestion}));
    EXPECT_EQ(rig.Link.Sim.RequestTotal(), before);
    EXPECT_TRUE(rig.View.Log.empty());
    EXPECT_EQ(rig.View.BufferAccepted, 0);

    rig.View.Seen.clear();
    FillPattern(rig.View.Buffer);
    rig.View.Answers = {TAnswer::Yes};
    rig.Click(TOperation::Write);
    EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"confirm", "Write device?"}}));
    EXPECT_EQ(rig.View.Log, Join({Started("Erasing"),
                                  {"Erase OK"},
                                  Started("Writing"),
                                  {"Programming OK, 2048 bytes written, speed 50.0 kB/s"}}));
    EXPECT_EQ(rig.StartedOperations(), (std::vector<int>{3, 1}));
    EXPECT_EQ(rig.Count(Cmd::BlankCheckBlock), 0);
    EXPECT_EQ(rig.Count(Cmd::VerifyBlock), 0);
    EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
    EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), PowerOffRequest);
    EXPECT_EQ(rig.Link.Sim.RegionContents(0, Flash), rig.View.Buffer);
    EXPECT_FALSE(rig.Runner.UnderWay());
}

// Four blocks in 0.4 ms: a stage shorter than a millisecond has its speed too.
TEST(OperationDriver, TheSpeedCountsTimeBelowAMillisecond)
{
    TOpsRig rig(OperationsScenario());
    Choose(rig, Flash);
    rig.StepMicros = 100;
    rig.View.Answers = {TAnswer::Yes};
    rig.Click(TOperation::Write);
    EXPECT_EQ(rig.LogCount("Programming OK, 2048 bytes written, speed 5000.0 kB/s"), 1);
}

// The adapter's information text is single-byte text in the Windows code
// page: 0xE4 is "ä", 0x80 is "€", never a replacement character.
TEST(OperationDriver, InfoTextBytesAbove0x7FAreWindows1252)
{
    TOpsRig rig(With("start_operation", json::parse(R"({"values": [1, 2, 3, 4],
                                                        "info": "Flash \u00e4|\u0080 5|\u00ff", "status": 0})")));
    Choose(rig, Flash);
    rig.Click(TOperation::Read);
    ASSERT_GE(rig.View.Log.size(), 6u);
    EXPECT_EQ(rig.View.Log[3], "Flash \u00e4");
    EXPECT_EQ(rig.View.Log[4], "\u20ac 5");
    EXPECT_EQ(rig.View.Log[5], "\u00ff");
}

TEST(OperationDriver, StartStatus12WarnsAndRunsWhileAnyOtherStopsWithoutPowerOff)
{
    {
        TOpsRig rig(With("start_operation", json::parse(R"({"values": [5, 7, 305419896, 3735928559],
                                                            "info": "Flash A|Flash B|", "status": 12})")));
        Choose(rig, Flash);
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.View.Log,
                  (Lines{"Starting operation", "Pause for voltage setting", "Flash A", "Flash B", "",
                         "WARNING: device is locked!", "Reading device...", ReadOk(2048, rig.View.Buffer, "50.0")}));
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
    }
    {
        // The blank-check stage of a Program is refused: the sequence ends
        // there, without power-off and without the failure box.
        TOpsRig rig(With("start_operation", json::parse(R"({"values": [5, 7, 305419896, 3735928559],
                                                            "info": "No target", "status_by_operation": {"4": 10}})")));
        Choose(rig, Flash);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Program);
        EXPECT_EQ(rig.View.Log,
                  (Lines{"Starting operation", "Pause for voltage setting", "JTAG/Nexus detect: 5/7/12345678/DEADBEEF",
                         "No target", "Erasing device...", "Erase OK", "Starting operation",
                         "Pause for voltage setting", "No target", "Error: Device not found"}));
        EXPECT_EQ(rig.View.Seen, std::vector<TPromptRecord>{ProgramQuestion});
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 0);
        EXPECT_EQ(rig.Count(Cmd::BlankCheckBlock), 0);
        EXPECT_FALSE(rig.Runner.UnderWay());
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.StartedOperations(), (std::vector<int>{3, 4, 0}));
    }
    {
        TOpsRig rig(With("faults", json::parse(R"([{"command": 160, "kind": "no_answer"}])")));
        rig.ShortReplyWait();
        Choose(rig, Flash);
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.View.Log, (Lines{"Starting operation", "Pause for voltage setting", "Error: No answer"}));
        EXPECT_EQ(rig.Count(Cmd::ReadBlock), 0);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 0);
    }
}

TEST(OperationDriver, EraseAndUnlockStepThroughNotReadyUntilTheirFinalAnswer)
{
    {
        TOpsRig rig(OperationsScenario());
        Choose(rig, Lockable);
        rig.View.Answers = {TAnswer::Yes, TAnswer::Yes};
        rig.Click(TOperation::Erase);
        EXPECT_EQ(rig.Count(Cmd::EraseStep), 3);
        EXPECT_EQ(rig.View.Percents, (std::vector<int>{0, 0, 0}));
        EXPECT_TRUE(AllBytes(rig.Link.Sim.RegionContents(0, Lockable), 0xFF));
        rig.Click(TOperation::Unlock);
        EXPECT_EQ(rig.Count(Cmd::UnlockStep), 2);
        EXPECT_EQ(rig.View.Log, Join({Started("Erasing"), {"Erase OK"}, Started("Unlocking"), {"Unlocking OK"}}));
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 2);
        EXPECT_EQ(rig.View.StagesStarted, 2) << "one stage each";
    }
    {
        TOpsRig rig(With("faults", json::parse(R"([{"command": 166, "kind": "status", "status": 17, "skip": 1},
                                                   {"command": 167, "kind": "status", "status": 1}])")));
        Choose(rig, Lockable);
        rig.View.Answers = {TAnswer::Yes, TAnswer::Yes};
        rig.Click(TOperation::Erase);
        rig.Click(TOperation::Unlock);
        EXPECT_EQ(rig.Count(Cmd::EraseStep), 2);
        EXPECT_EQ(rig.Count(Cmd::UnlockStep), 1);
        EXPECT_EQ(rig.View.Log, Join({Started("Erasing"),
                                      {"Erase failed (Device write error)"},
                                      Started("Unlocking"),
                                      {"Unlocking failed (Error)"}}));
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 2);
    }
}

TEST(OperationDriver, CancelBetweenStepsEndsTheSequence)
{
    {
        TOpsRig rig(OperationsScenario());
        Choose(rig, Big);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Program,
                  [](const std::string& stage, int steps) { return stage == "Writing" && steps == 3; });
        EXPECT_EQ(rig.Count(Cmd::WriteBlock), 3);
        EXPECT_EQ(rig.View.Log.back(), "Canceled");
        EXPECT_EQ(rig.LogCount("Verifying device..."), 0);
        EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{ProgramQuestion, {"error", "Programming failed"}}));
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
        EXPECT_FALSE(rig.Runner.UnderWay());
        rig.View.Log.clear();
        rig.Connection.SelectRegion(Flash);
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.View.Log, Join({Started("Reading"), {ReadOk(2048, rig.View.Buffer, "50.0")}}));
    }
    {
        TOpsRig rig(OperationsScenario());
        Choose(rig, Flash);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(TOperation::Write, [](const std::string&, int steps) { return steps == 1; });
        EXPECT_EQ(rig.View.Log, Join({Started("Erasing"), {"Canceled"}}));
        EXPECT_EQ(rig.View.Seen, (std::vector<TPromptRecord>{{"confirm", "Write device?"}}));
        EXPECT_EQ(rig.View.StagesStarted, 1);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
        EXPECT_FALSE(rig.Runner.UnderWay());
    }
}

TEST(OperationDriver, FailingBlockEndsTheStageAtItsOffset)
{
    struct TCase {
        const char* Faults;
        TOperation Click;
        std::string Result;
        std::vector<TPromptRecord> Prompts;
    };
    const TCase cases[] = {{R"([{"command": 165, "kind": "status", "status": 15}])",
                            TOperation::Program,
                            "Blank check failed at offset 0 (Device not blank)",
                            {ProgramQuestion, {"error", "Programming failed"}}},
                           {R"([{"command": 162, "kind": "status", "status": 17, "skip": 1}])",
                            TOperation::Write,
                            "Write failed at offset 200 (Device write error)",
                            {{"confirm", "Write device?"}}}};
    for (const auto& [faults, click, result, prompts] : cases) {
        SCOPED_TRACE(result);
        TOpsRig rig(With("faults", json::parse(faults)));
        Choose(rig, Flash);
        rig.View.Answers = {TAnswer::Yes};
        rig.Click(click);
        EXPECT_EQ(rig.View.Log.back(), result);
        EXPECT_EQ(rig.LogCount(result), 1);
        EXPECT_EQ(rig.View.Seen, prompts);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1);
        EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), PowerOffRequest);
        EXPECT_FALSE(rig.Runner.UnderWay());
        // The sequence is over: a Read click reads.
        const std::size_t stages = rig.StartedOperations().size();
        rig.Click(TOperation::Read);
        EXPECT_EQ(rig.StartedOperations().size(), stages + 1);
        EXPECT_EQ(rig.StartedOperations().back(), static_cast<int>(TOperation::Read));
        EXPECT_EQ(rig.View.Log.back(), ReadOk(2048, rig.View.Buffer, "50.0"));
    }

    // A blank check on its own finds the first block holding a written byte.
    TOpsRig rig(OperationsScenario());
    Choose(rig, Flash);
    const std::vector<std::uint8_t> erased(2048, 0xFF);
    ASSERT_TRUE(rig.Link.Sim.SetRegionContents(0, Flash, erased));
    const std::uint8_t written[] = {0x00};
    ASSERT_TRUE(rig.Link.Sim.SetRegionContents(0, Flash, written, 1500));
    rig.Click(TOperation::BlankCheck);
    EXPECT_EQ(rig.View.Log, Join({Started("Blank-checking"), {"Blank check failed at offset 400 (Device not blank)"}}));
    EXPECT_EQ(rig.BlockLengths(Cmd::BlankCheckBlock), (std::vector<int>{512, 512, 512}));
}

// The adapter's compare names only the failing block; the block is read back
// to name the first differing byte with both values, before the power-off.
// When it reads back equal (a marginal cell), that is said instead.
TEST(OperationRunner, FailedVerifyReadsItsBlockBack)
{
    struct TCase {
        const char* Faults;
        int ChangedAt; // in the device; -1: none
        std::string Line;
        std::string Notice;
    };
    const TCase cases[] = {
        {"[]", 0x403, "Read back, the block at 0x00000400 differs first at 0x00000403: expected 0x18, read 0xE7",
         "Verify failed at offset 400 (Compare error)"},
        {R"([{"command": 163, "kind": "status", "status": 14, "skip": 2}])", -1,
         "Verify failed at offset 400 (Compare error)", "The block at 0x00000400 reads back equal to the buffer"},
        {R"([{"command": 163, "kind": "status", "status": 14, "skip": 2}, {"command": 161, "kind": "status", "status": 13}])",
         -1, "Verify failed at offset 400 (Compare error)",
         "The failing block could not be read back (Device read error)"}};
    for (const auto& [faults, changedAt, line, notice] : cases) {
        SCOPED_TRACE(line);
        TOpsRig rig(With("faults", json::parse(faults)));
        Choose(rig, Flash);
        rig.Settings.TurnOffPower = true;
        FillPattern(rig.View.Buffer);
        std::vector<std::uint8_t> device = rig.View.Buffer;
        if (changedAt >= 0)
            device[static_cast<std::size_t>(changedAt)] ^= 0xFF;
        ASSERT_TRUE(rig.Link.Sim.SetRegionContents(0, Flash, device));

        const TPlanOutcome& outcome = rig.Click(TOperation::Verify);

        EXPECT_EQ(outcome.Last().Line, line);
        EXPECT_EQ(outcome.Last().Mismatch.Found, changedAt >= 0);
        EXPECT_EQ(outcome.Last().Mismatch.Offset, changedAt >= 0 ? 0x403u : 0u);
        EXPECT_EQ(rig.LogCount(notice), 1);
        EXPECT_EQ(rig.StartedOperations(), (std::vector<int>{2, 0}));
        EXPECT_EQ(rig.BlockLengths(Cmd::ReadBlock), std::vector<int>{512});
        EXPECT_EQ(rig.Link.Sim.RequestPayloads().back(), PowerOffRequest);
    }
}

} // namespace
} // namespace lindprog

namespace lindprog {
namespace {

// Near the end of a region of almost 4 GiB a 32-bit sum of offset and block
// wraps; the last block must still be cut to the region.
TEST(BlockLength, LastBlockIsCutEvenWhereThirtyTwoBitsWrap)
{
    EXPECT_EQ(BlockLengthAt(0, 512, 3000), 512);
    EXPECT_EQ(BlockLengthAt(2560, 512, 3000), 440);
    EXPECT_EQ(BlockLengthAt(0xFFFFFE00u, 512, 0xFFFFFF01u), 0x101);
    EXPECT_EQ(BlockLengthAt(0xFFFFFE00u, 512, 0xFFFFFFFFu), 0x1FF);
    EXPECT_EQ(BlockLengthAt(0xFFFFFFFCu, 4, 0xFFFFFFFFu), 3);
}

} // namespace
} // namespace lindprog

namespace lindprog {
namespace {

// A plan that no menu item makes: erase and write one region, then compare
// another of the same device with the computer's bytes; once as it should
// go, once with the last region's contents not matching.
TEST(OperationRunner, CustomPlanRunsItsStagesOnTheirRegionsAndStopsAtTheFirstFailure)
{
    for (const bool matching : {true, false}) {
        TOpsRig rig(OperationsScenario());
        Choose(rig, Flash);
        rig.Settings.TurnOffPower = true;
        std::vector<std::uint8_t> image(2048);
        FillPattern(image);
        std::vector<std::uint8_t> expected(1024, matching ? 0x00 : 0x01);
        std::vector<std::uint8_t> read(1024);
        TPlan plan;
        plan.VoltageCode = 1;
        const auto all = TBlockChoice::All;
        plan.Stages = {{TOperation::Erase, Flash, image, all, {}},
                       {TOperation::Write, Flash, image, all, {}},
                       {TOperation::Read, Lockable, read, all, expected}};

        const TPlanOutcome& outcome = rig.Run(plan);

        EXPECT_EQ(rig.Link.Sim.RegionContents(0, Flash), image);
        EXPECT_TRUE(AllBytes(rig.Link.Sim.RegionContents(0, Lockable), 0x00));
        std::vector<std::pair<int, int>> started; // region, operation of each start request
        for (const auto& payload : rig.Link.Sim.RequestPayloads())
            if (payload.size() == StartOperationSize && payload[0] == Cmd::StartOperation)
                started.emplace_back(payload[2], payload[3]);
        EXPECT_EQ(started, (std::vector<std::pair<int, int>>{{Flash, 3}, {Flash, 1}, {Lockable, 0}}));
        ASSERT_EQ(outcome.Stages.size(), 3u);
        EXPECT_EQ(outcome.Stages[1].Line, "Programming OK, 2048 bytes written, speed 50.0 kB/s");
        EXPECT_EQ(outcome.Last().RegionIndex, Lockable);
        EXPECT_EQ(outcome.Succeeded(), matching);
        EXPECT_EQ(outcome.Last().Status, matching ? PortStatus::Ok : PortStatus::CompareError);
        EXPECT_EQ(outcome.Last().Line, matching ? "Compare OK, 1024 bytes equal" : "Compare error at 0x00000000");
        EXPECT_EQ(outcome.Compared.back().Count, matching ? 0u : 1024u);
        EXPECT_EQ(rig.Count(Cmd::PowerOff), 1) << "once, at the end of the plan";
        EXPECT_TRUE(rig.View.Seen.empty()) << "a plan without texts shows no box";
        EXPECT_FALSE(rig.Runner.UnderWay());
    }
}

// Program and Write of a small image leave the erased blocks out of the
// write and the verify and prove them blank at the end; an image that fills
// every block leaves nothing to prove blank, and that check is not run.
TEST(OperationRunner, SkippingErasedBlocksSendsOnlyTheDataAndProvesTheRestBlank)
{
    struct TCase {
        TOperation Operation;
        bool Fills;
        std::vector<int> Stages; // erase 3, blank check 4, write 1, verify 2
        int Writes, Verifies, BlankChecks;
        const char* Line;
    };
    const TCase cases[] = {
        {TOperation::Program,
         false,
         {3, 4, 1, 2, 4},
         2,
         2,
         128 + 126,
         "Programming successfull: 2 blocks written, 2 verified, 126 proven blank"},
        {TOperation::Write, false, {3, 1, 4}, 2, 0, 126, "Programming OK: 2 blocks written, 126 proven blank"},
        {TOperation::Program,
         true,
         {3, 4, 1, 2},
         128,
         128,
         128,
         "Programming successfull: 128 blocks written, 128 verified"},
        {TOperation::Write, true, {3, 1}, 128, 0, 0, "Programming OK: 128 blocks written"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        TOpsRig rig(OperationsScenario());
        Choose(rig, Big);
        rig.View.Answers = {TAnswer::Yes};
        std::fill(rig.View.Buffer.begin(), rig.View.Buffer.end(), static_cast<std::uint8_t>(c.Fills ? 0x00 : 0xFF));
        rig.View.Buffer[600] = 0x12;   // block 1
        rig.View.Buffer[65535] = 0x34; // block 127, the last
        const std::vector<std::uint8_t> image = rig.View.Buffer;

        TPlanOptions sparse;
        sparse.SkipErased = true;
        const TPlanOutcome& outcome = rig.Run(PlanFor(c.Operation, rig.Connection.Target(rig.View.Buffer), sparse));

        EXPECT_TRUE(outcome.Succeeded()) << outcome.Last().Line;
        EXPECT_EQ(rig.StartedOperations(), c.Stages);
        EXPECT_EQ(rig.Link.Sim.RegionContents(0, Big), image);
        EXPECT_EQ(rig.Count(Cmd::WriteBlock), c.Writes);
        EXPECT_EQ(outcome.BytesWritten(), c.Writes * 512u) << "the blank check's bytes are no writes";
        EXPECT_EQ(rig.Count(Cmd::VerifyBlock), c.Verifies);
        EXPECT_EQ(rig.Count(Cmd::BlankCheckBlock), c.BlankChecks);
        EXPECT_EQ(rig.LogCount("Blank check OK, 0 bytes checked, speed 0.0 kB/s"), 0);
        std::vector<const TStageOutcome*> stages;
        for (const TStageOutcome& stage : outcome.Stages)
            stages.push_back(&stage);
        EXPECT_EQ(SentLine(c.Operation, stages, 0x1A2B3C4D), std::string(c.Line) + ", CRC32 = 1A2B3C4D");
    }
}

} // namespace
} // namespace lindprog
