// The flash model seen through the wire: operations, block commands, step
// commands with their not-ready answers, and planted read errors.

#include "RawPort.h"

#include <gtest/gtest.h>

namespace lindprog::sim::test {
namespace {

using nlohmann::json;

constexpr std::uint8_t ReadOp = 0, WriteOp = 1, VerifyOp = 2, EraseOp = 3, BlankOp = 4, UnlockOp = 5;

json Target(json extra = json::object())
{
    json scenario = json::parse(R"({
      "devices": [
        {"name": "MCU", "regions": [
          {"name": "Code", "flags": 7, "size": 1024, "fill": 0,
           "contents": [{"offset": 16, "text": "Hello"}, {"offset": 1020, "hex": "A1B2C3D4"}],
           "read_errors": [{"offset": 512, "times": 2},
                           {"offset": 768, "times": -1, "status": 21},
                           {"offset": 900, "no_answer": true}]},
          {"name": "Data", "flags": 15, "size": 256, "fill": 17},
          {"name": "Shadow", "flags": 3, "size": 64, "fill": 34}
        ]},
        {"name": "Other", "regions": [{"name": "Code", "flags": 7, "size": 128, "fill": 51}]}
      ],
      "start_operation": {"values": [1, 524288, 2048, "0xFFFFFFFF"],
                          "info": "Nexus OK|Censorship off"}
    })");
    scenario.update(extra);
    return scenario;
}

TEST(SimFlash, BlockCommandsNeedAStartedOperation)
{
    THarness harness(Target());
    EXPECT_EQ(harness.Call(Block(161, 0, 4)).Status(), 11);
    EXPECT_EQ(harness.Call(Block(165, 0, 4)).Status(), 11);
    EXPECT_EQ(harness.Call({166}).Status(), 11);
}

TEST(SimFlash, StartOperationReplyAndChecks)
{
    THarness harness(Target());
    const auto reply = harness.Call(StartOperation(0, 0, ReadOp));
    EXPECT_EQ(reply.Status(), 0);
    const auto data = reply.Data();
    ASSERT_GE(data.size(), 16u);
    EXPECT_EQ(LittleU32(data, 0), 1u);
    EXPECT_EQ(LittleU32(data, 4), 0x80000u);
    EXPECT_EQ(LittleU32(data, 8), 0x800u);
    EXPECT_EQ(LittleU32(data, 12), 0xFFFFFFFFu);
    const std::string info(data.begin() + 16, data.end());
    EXPECT_EQ(info, std::string("Nexus OK|Censorship off") + '\0');

    auto shortRequest = StartOperation(0, 0, ReadOp);
    shortRequest.pop_back();
    EXPECT_EQ(harness.Call(shortRequest).Status(), 5);
    EXPECT_EQ(harness.Call(StartOperation(2, 0, ReadOp)).Status(), 3);
    EXPECT_EQ(harness.Call(StartOperation(0, 3, ReadOp)).Status(), 3);
    EXPECT_EQ(harness.Call(StartOperation(0, 0, 6)).Status(), 3);
    EXPECT_EQ(harness.Call(StartOperation(0, 0, ReadOp, 4)).Status(), 3);
    EXPECT_EQ(harness.Call(StartOperation(0, 2, EraseOp)).Status(), 3); // shadow row: no erase flag
    EXPECT_EQ(harness.Call(StartOperation(0, 0, UnlockOp)).Status(), 3);
    // A refused start leaves nothing selected.
    EXPECT_EQ(harness.Call(Block(161, 0, 4)).Status(), 11);
}

TEST(SimFlash, InitialContentsAndFill)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(161, 14, 8)).Data(), (TBytes{0, 0, 'H', 'e', 'l', 'l', 'o', 0}));
    EXPECT_EQ(harness.Call(Block(161, 1018, 6)).Data(), (TBytes{0, 0, 0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(harness.Sim().RegionContents(0, 1), TBytes(256, 0x11));
    EXPECT_TRUE(harness.Sim().RegionContents(0, 3).empty());
}

TEST(SimFlash, WriteVerifyAndBlankCheck)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 1, WriteOp)).Status(), 0);
    const TBytes data{0xDE, 0xAD, 27, 14, 0xBE, 0xEF};
    EXPECT_EQ(harness.Call(Block(162, 250, 6, data)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(162, 251, 6, data)).Status(), 3); // one past the end
    EXPECT_EQ(harness.Call(Block(162, 0, 6, {1, 2})).Status(), 5); // count disagrees with data
    auto region = harness.Sim().RegionContents(0, 1);
    EXPECT_EQ(TBytes(region.begin() + 250, region.end()), data);
    EXPECT_EQ(region[249], 0x11);

    ASSERT_EQ(harness.Call(StartOperation(0, 1, VerifyOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(163, 250, 6, data)).Status(), 0);
    auto wrong = data;
    wrong[5] ^= 1;
    EXPECT_EQ(harness.Call(Block(163, 250, 6, wrong)).Status(), 14);

    ASSERT_EQ(harness.Call(StartOperation(0, 0, BlankOp)).Status(), 0);
    harness.Sim().SetRegionContents(0, 0, TBytes(8, 0xFF), 100);
    EXPECT_EQ(harness.Call(Block(165, 100, 8)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(165, 100, 9)).Status(), 15);
    EXPECT_EQ(harness.Call(Block(165, 1020, 5)).Status(), 3);
}

TEST(SimFlash, OffsetsNearTheTopOfTheAddressSpaceDoNotWrap)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(161, 0xFFFFFFFF, 2)).Status(), 3);
    EXPECT_EQ(harness.Call(Block(161, 1024, 1)).Status(), 3);
    EXPECT_EQ(harness.Call(Block(161, 1023, 1)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(161, 0, 0)).Status(), 3);
}

TEST(SimFlash, EraseAnswersNotReadyThenErasesOnlyTheRegion)
{
    THarness harness(Target({{"erase_not_ready", 3}}));
    for (int round = 0; round < 2; ++round) {
        harness.Sim().SetRegionContents(0, 0, TBytes{1, 2, 3});
        ASSERT_EQ(harness.Call(StartOperation(0, 0, EraseOp)).Status(), 0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(harness.Call({166}).Status(), 4) << "round " << round << " step " << i;
            EXPECT_EQ(harness.Sim().RegionContents(0, 0)[0], 1) << "erased before the final step";
        }
        EXPECT_EQ(harness.Call({166}).Status(), 0);
        EXPECT_EQ(harness.Sim().RegionContents(0, 0), TBytes(1024, 0xFF));
    }
    EXPECT_EQ(harness.Sim().RegionContents(0, 1), TBytes(256, 0x11));
    EXPECT_EQ(harness.Call({167}).Status(), 11); // no unlock was set up
    EXPECT_EQ(harness.Call({166, 0}).Status(), 5);
}

TEST(SimFlash, StepCommandsBelongToTheirOperation)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    EXPECT_EQ(harness.Call({166}).Status(), 11);
    EXPECT_EQ(harness.Sim().RegionContents(0, 0)[0], 0);
}

TEST(SimFlash, UnlockErasesEveryRegionOfTheDevice)
{
    THarness harness(Target({{"unlock_not_ready", 2}}));
    ASSERT_EQ(harness.Call(StartOperation(0, 1, UnlockOp)).Status(), 0);
    EXPECT_EQ(harness.Call({167}).Status(), 4);
    EXPECT_EQ(harness.Call({167}).Status(), 4);
    EXPECT_EQ(harness.Sim().RegionContents(0, 2), TBytes(64, 0x22));
    EXPECT_EQ(harness.Call({167}).Status(), 0);
    EXPECT_EQ(harness.Sim().RegionContents(0, 0), TBytes(1024, 0xFF));
    EXPECT_EQ(harness.Sim().RegionContents(0, 1), TBytes(256, 0xFF));
    EXPECT_EQ(harness.Sim().RegionContents(0, 2), TBytes(64, 0xFF));
    EXPECT_EQ(harness.Sim().RegionContents(1, 0), TBytes(128, 0x33));
}

TEST(SimFlash, LockedWarningStillSetsUpTheOperation)
{
    THarness harness(Target({{"start_operation", {{"status_by_operation", {{"3", 12}, {"0", 1}}}}}}));
    const auto erase = harness.Call(StartOperation(0, 0, EraseOp));
    EXPECT_EQ(erase.Status(), 12);
    EXPECT_GE(erase.Data().size(), 16u);
    EXPECT_EQ(harness.Call({166}).Status(), 0);
    EXPECT_EQ(harness.Sim().RegionContents(0, 0)[16], 0xFF);
    const auto read = harness.Call(StartOperation(0, 0, ReadOp));
    EXPECT_EQ(read.Status(), 1);
    EXPECT_GE(read.Data().size(), 16u) << "a refusal carries the values and the info text too";
    EXPECT_EQ(harness.Call(Block(161, 0, 4)).Status(), 11);
}

TEST(SimFlash, PlantedReadErrorsHitOnlyReadsCoveringTheirOffset)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(161, 256, 256)).Status(), 0); // ends just before 512
    EXPECT_EQ(harness.Call(Block(161, 500, 16)).Status(), 13);
    const auto second = harness.Call(Block(161, 512, 1));
    EXPECT_EQ(second.Status(), 13);
    EXPECT_TRUE(second.Data().empty());
    EXPECT_EQ(harness.Call(Block(161, 512, 1)).Status(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(harness.Call(Block(161, 768, 4)).Status(), 21);
}

TEST(SimFlash, ReadErrorWithoutAnswerLeavesTheRequestUnanswered)
{
    THarness harness(Target());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    harness.Send(Block(161, 896, 8));
    // The next reply on the line is the one to the following request.
    const auto next = harness.Call({1});
    EXPECT_EQ(next.Data(), (TBytes{3}));
    EXPECT_EQ(harness.Call(Block(161, 896, 8)).Status(), 0); // only once by default
}

TEST(SimFlash, SixteenMebibyteRegion)
{
    constexpr std::uint32_t Size = 16u * 1024 * 1024;
    THarness harness(OneRegion(Size));
    ASSERT_EQ(harness.Call(StartOperation(0, 0, WriteOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(162, Size - 4, 4, {9, 8, 7, 6})).Status(), 0);
    ASSERT_EQ(harness.Call(StartOperation(0, 0, ReadOp)).Status(), 0);
    EXPECT_EQ(harness.Call(Block(161, Size - 6, 6)).Data(), (TBytes{0xFF, 0xFF, 9, 8, 7, 6}));
    EXPECT_EQ(harness.Sim().RegionContents(0, 0).size(), Size);
}

} // namespace
} // namespace lindprog::sim::test
